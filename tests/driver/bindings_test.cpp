// Every binding the folder ships, checked against the actions of the
// application it is for and against the device the module announces: a
// binding that names an action the application lacks, a path under another
// user root, or an input the profile does not offer is silently dropped by the
// host, so nothing of it would reach the player.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/driver/folder_under_test.h"
#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using K = devhost::Event::Kind;
using Actions = std::map<std::string, std::string>; // lower-case name -> type

// The host matches action names without regard to case.
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

Actions MakeActions(std::initializer_list<std::pair<const char *, const char *>> list) {
  Actions actions;
  for (const auto &[name, type] : list) actions[Lower(name)] = type;
  return actions;
}

// The input actions of resources/config/vrcompositor_actions.json, as the host ships it.
const Actions kDashboardActions = MakeActions({
    {"/actions/system/in/ToggleDashboard", "boolean"},
    {"/actions/system/in/OpenDashboard", "boolean"},
    {"/actions/system/in/CloseDashboard", "boolean"},
    {"/actions/system/in/SystemButtonChord", "boolean"},
    {"/actions/system/in/TakeScreenshot", "boolean"},
    {"/actions/system/in/ToggleRoomView", "boolean"},
    {"/actions/system/in/VolumeUp", "boolean"},
    {"/actions/system/in/VolumeDown", "boolean"},
    {"/actions/system/in/MuteMicrophone", "boolean"},
    {"/actions/lasermouse_secondary/in/SwitchLaserHand", "boolean"},
    {"/actions/lasermouse/in/Pointer", "pose"},
    {"/actions/lasermouse/in/LeftClick", "boolean"},
    {"/actions/lasermouse/in/RightClick", "boolean"},
    {"/actions/lasermouse/in/MiddleClick", "boolean"},
    {"/actions/lasermouse/in/LockMousePosition", "boolean"},
    {"/actions/lasermouse/in/Home", "boolean"},
    {"/actions/lasermouse/in/Back", "boolean"},
    {"/actions/scroll_discrete/in/Scroll", "vector2"},
    {"/actions/scroll_smooth/in/Scroll", "vector2"},
    {"/actions/lasermouse/in/TrackpadTouch", "boolean"},
    {"/actions/lasermouse/in/TrackpadValue", "vector2"},
    {"/actions/lasermouse/in/MoveUp", "boolean"},
    {"/actions/lasermouse/in/MoveDown", "boolean"},
    {"/actions/lasermouse/in/MoveLeft", "boolean"},
    {"/actions/lasermouse/in/MoveRight", "boolean"},
    {"/actions/lasermouse/in/Enter", "boolean"},
    {"/actions/lasermouse/in/SwitchGamepadFocus", "boolean"},
    {"/actions/dualanalog/in/LeftValue", "vector2"},
    {"/actions/dualanalog/in/RightValue", "vector2"},
    {"/actions/dualanalog/in/LeftTouch", "boolean"},
    {"/actions/dualanalog/in/RightTouch", "boolean"},
    {"/actions/dualanalog/in/LeftClick", "boolean"},
    {"/actions/dualanalog/in/RightClick", "boolean"},
    {"/actions/dualanalog/in/Cancel", "boolean"},
    {"/actions/dualanalog/in/ModeSwitch1", "boolean"},
    {"/actions/dualanalog/in/ModeSwitch2", "boolean"},
    {"/actions/quickmouse/in/ActivateQuickMouse", "boolean"},
    {"/actions/locomotion/in/Movement", "vector2"},
    {"/actions/locomotion/in/Rotation", "vector2"},
    {"/actions/roomsetup/in/FloorFineAdjust", "vector2"},
    {"/actions/roomsetup/in/Accept", "boolean"},
    {"/actions/roomsetup/in/Back", "boolean"},
    {"/actions/quickrecenter/in/Recenter", "boolean"},
});

// The input actions of tools/steamvr_environments/game/steamtours/cfg/actions.json,
// the home environment's manifest as the host ships it.
const Actions kHomeActions = MakeActions({
    {"/actions/global/in/HandPoseLeft", "pose"},
    {"/actions/global/in/HandPoseRight", "pose"},
    {"/actions/global/in/HandSkeletonLeft", "skeleton"},
    {"/actions/global/in/HandSkeletonRight", "skeleton"},
    {"/actions/default/in/ToggleMenu", "boolean"},
    {"/actions/default/in/lclick", "boolean"},
    {"/actions/default/in/rclick", "boolean"},
    {"/actions/default/in/Use", "boolean"},
    {"/actions/default/in/UseGrip", "boolean"},
    {"/actions/default/in/ShowInventory", "boolean"},
    {"/actions/default/in/HandCurl", "vector1"},
    {"/actions/default/in/Pad", "boolean"},
    {"/actions/default/in/PadTouch", "boolean"},
    {"/actions/default/in/Trackpad", "vector2"},
    {"/actions/move/in/Teleport", "boolean"},
    {"/actions/move/in/TurnLeft", "boolean"},
    {"/actions/move/in/TurnRight", "boolean"},
    {"/actions/prop_tool/in/Menu", "boolean"},
    {"/actions/prop_tool/in/Use", "boolean"},
    {"/actions/prop_tool/in/Drop", "boolean"},
    {"/actions/prop_tool/in/Pad", "boolean"},
    {"/actions/prop_tool/in/PadTouch", "boolean"},
    {"/actions/prop_tool/in/PadLeft", "boolean"},
    {"/actions/prop_tool/in/PadRight", "boolean"},
    {"/actions/prop_tool/in/PadUp", "boolean"},
    {"/actions/prop_tool/in/PadDown", "boolean"},
    {"/actions/prop_tool/in/Trigger", "vector1"},
    {"/actions/prop_tool/in/Trackpad", "vector2"},
    {"/actions/prop_tool/in/Joystick", "vector2"},
    {"/actions/scroll_discrete/in/Scroll", "vector2"},
    {"/actions/scroll_smooth/in/Scroll", "vector2"},
});

// The input actions of resources/config/legacy_actions.json, as the host ships it:
// the same set for each side.
Actions LegacyActions() {
  Actions actions{{Lower("/actions/legacy/in/Head_Proximity"), "boolean"}};
  const std::vector<std::pair<std::string, std::string>> perSide = {{"System_Press", "boolean"},
                                                                    {"System_Touch", "boolean"},
                                                                    {"ApplicationMenu_Press", "boolean"},
                                                                    {"ApplicationMenu_Touch", "boolean"},
                                                                    {"Grip_Press", "boolean"},
                                                                    {"Grip_Touch", "boolean"},
                                                                    {"A_Press", "boolean"},
                                                                    {"A_Touch", "boolean"},
                                                                    {"Axis0_Press", "boolean"},
                                                                    {"Axis0_Touch", "boolean"},
                                                                    {"Axis0_Value", "vector2"},
                                                                    {"Axis1_Press", "boolean"},
                                                                    {"Axis1_Touch", "boolean"},
                                                                    {"Axis1_Value", "vector1"},
                                                                    {"Axis2_Press", "boolean"},
                                                                    {"Axis2_Touch", "boolean"},
                                                                    {"Axis2_Value1", "vector1"},
                                                                    {"Axis2_Value2", "vector2"},
                                                                    {"Axis3_Press", "boolean"},
                                                                    {"Axis3_Touch", "boolean"},
                                                                    {"Axis3_Value", "vector2"},
                                                                    {"Axis4_Press", "boolean"},
                                                                    {"Axis4_Touch", "boolean"},
                                                                    {"Axis4_Value", "vector2"},
                                                                    {"Pose", "pose"}};
  for (const char *side : {"Left_", "Right_"})
    for (const auto &[name, type] : perSide) actions[Lower("/actions/legacy/in/" + std::string(side) + name)] = type;
  return actions;
}

// The user path the host gives a device of each role, as the SDK's
// k_pchPathUser* constants name them; roles without one map to nothing.
std::string UserRootOfRole(int32_t role) {
  switch (role) {
  case 1:
    return "/user/hand/left";
  case 2:
    return "/user/hand/right";
  case 4:
    return "/user/treadmill";
  case 5:
    return "/user/stylus";
  default:
    return {};
  }
}

// What each binding mode accepts, and which type of action each input drives.
const std::map<std::string, std::set<std::string>> kModeInputs = {
    {"button", {"click", "touch", "long", "held", "double"}},
    {"trigger", {"click", "pull", "touch"}},
};
const std::map<std::string, std::set<std::string>> kModesOfType = {
    {"button", {"button"}},
    {"trigger", {"trigger", "button"}},
};
const std::map<std::string, std::string> kActionTypeOfInput = {{"click", "boolean"}, {"long", "boolean"},
                                                               {"held", "boolean"},  {"double", "boolean"},
                                                               {"touch", "boolean"}, {"pull", "vector1"}};
// The profile capability an input needs.
const std::map<std::string, std::string> kCapabilityOfInput = {{"click", "click"}, {"long", "click"},
                                                               {"held", "click"},  {"double", "click"},
                                                               {"touch", "touch"}, {"pull", "value"}};

std::string ReadAll(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

json Load(const fs::path &p) {
  json j = json::parse(ReadAll(p), nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << p << " is not valid JSON";
  return j;
}

fs::path InputFolder() {
  return FolderUnderTest() / "resources" / "input";
}
json Profile() {
  return Load(InputFolder() / "vantorelle_k5_controller_profile.json");
}

// The role hint the module writes when the host activates it.
std::string AnnouncedRoot() {
  devhost::DriverModule module;
  EXPECT_TRUE(module.Open(FolderUnderTest().string())) << module.error();
  if (!module.factory()) return {};
  auto *provider =
      static_cast<vr::IServerTrackedDeviceProvider *>(module.factory()("IServerTrackedDeviceProvider_004", nullptr));
  devhost::DevHost host;
  if (!provider || provider->Init(&host) != vr::VRInitError_None) return {};
  host.AddedDevice()->Activate(0);
  host.AddedDevice()->Deactivate();
  provider->Cleanup();
  for (const auto &e : host.EventsOf(K::Property))
    if (e.number == vr::Prop_ControllerRoleHint_Int32) return UserRootOfRole(static_cast<int32_t>(e.value));
  return {};
}

class DriverFolderBindings : public testing::Test {
protected:
  static void SetUpTestSuite() { root_ = AnnouncedRoot(); }
  static inline std::string root_;

  // Checks one binding file; returns the profile inputs it binds.
  std::set<std::string> Check(const fs::path &file, const Actions &actions) {
    std::set<std::string> bound;
    CheckInto(file, actions, bound);
    return bound;
  }

  void CheckInto(const fs::path &file, const Actions &actions, std::set<std::string> &bound) {
    const json binding = Load(file);
    const json inputs = Profile().at("input_source");
    EXPECT_EQ(binding.at("controller_type"), "aaa_vantorelle_k5_controller") << file;
    EXPECT_EQ(binding.value("options", json::object()).value("returnBindingsWithRightHand", false), true)
        << file << ": applications that ask for a hand get nothing from a stylus otherwise";
    auto checkOutput = [&](const std::string &set, const std::string &output, const std::string &type) {
      EXPECT_EQ(Lower(output).rfind(Lower(set) + "/in/", 0), 0u) << file << ": " << output << " outside " << set;
      const auto action = actions.find(Lower(output));
      ASSERT_NE(action, actions.end()) << file << ": the application has no action " << output;
      EXPECT_EQ(action->second, type) << file << ": " << output;
    };
    for (const auto &[set, content] : binding.at("bindings").items()) {
      for (const json &pose : content.value("poses", json::array())) {
        const std::string path = pose.at("path");
        EXPECT_EQ(path, root_ + "/pose/raw") << file;
        bound.insert("/pose/raw");
        checkOutput(set, pose.at("output"), "pose");
      }
      for (const json &source : content.value("sources", json::array())) {
        const std::string path = source.at("path");
        ASSERT_EQ(path.rfind(root_ + "/input/", 0), 0u) << file << ": " << path << " is not under " << root_;
        const std::string name = path.substr(root_.size());
        ASSERT_TRUE(inputs.contains(name)) << file << " binds " << path << ", which the profile lacks";
        bound.insert(name);
        const json &declared = inputs.at(name);
        const std::string mode = source.at("mode");
        EXPECT_TRUE(kModesOfType.at(declared.at("type")).count(mode))
            << file << ": mode " << mode << " on a " << declared.at("type") << " input";
        for (const auto &[input, output] : source.at("inputs").items()) {
          ASSERT_TRUE(kModeInputs.count(mode) && kModeInputs.at(mode).count(input))
              << file << ": mode " << mode << " has no input " << input;
          EXPECT_TRUE(declared.value(kCapabilityOfInput.at(input), false))
              << file << ": " << path << " has no " << kCapabilityOfInput.at(input);
          checkOutput(set, output.at("output"), kActionTypeOfInput.at(input));
        }
      }
    }
  }
};

TEST_F(DriverFolderBindings, TheModuleAnnouncesARoleWithAUserPathThatIsNoHand) {
  EXPECT_EQ(root_, "/user/stylus");
}

TEST_F(DriverFolderBindings, EachBindsEveryInputToItsApplicationsActions) {
  ASSERT_FALSE(root_.empty());
  const std::set<std::string> all = {"/input/fire", "/input/eject_mag", "/input/load_mag", "/pose/raw"};
  const json profile = Profile();
  std::map<std::string, std::string> files;
  for (const json &entry : profile.at("default_bindings")) {
    const fs::path file = InputFolder() / entry.at("binding_url").get<std::string>();
    EXPECT_EQ(Load(file).at("app_key"), entry.at("app_key")) << file;
    files[entry.at("app_key")] = file.string();
  }
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(Check(files.at("openvr.component.vrcompositor"), kDashboardActions), all);
  EXPECT_EQ(Check(files.at("openvr.tool.steamvr_environments"), kHomeActions), all);

  const std::string legacy = profile.at("legacy_binding");
  EXPECT_EQ(
      Check(FolderUnderTest() / "resources" / legacy.substr(std::string("{vantorelle_k5}/").size()), LegacyActions()),
      all);
}

TEST_F(DriverFolderBindings, TheTriggerTakesTheDashboardLaserFromAHand) {
  const json sets = Load(InputFolder() / "vrcompositor_bindings_vantorelle_k5.json").at("bindings");
  const json &secondary = sets.at("/actions/lasermouse_secondary").at("sources").at(0);
  EXPECT_EQ(secondary.at("path"), root_ + "/input/fire");
  EXPECT_EQ(Lower(secondary.at("inputs").at("click").at("output")), "/actions/lasermouse_secondary/in/switchlaserhand");
}

// The poses each source profile declares, from the host's own profiles
// (drivers/indexcontroller/resources/input/index_controller_profile.json,
// drivers/oculus/resources/input/touch_profile.json,
// drivers/htc/resources/input/vive_controller_profile.json,
// resources/input/khr_generic_controller.json, resources/input/khr_simple_controller.json).
const std::map<std::string, std::set<std::string>> kSourcePoses = {
    {"khr_generic_controller", {"raw", "base", "grip", "tip"}},
    {"oculus_touch", {"raw", "base", "handgrip", "tip", "openxr_aim"}},
    {"knuckles", {"raw", "base", "handgrip", "tip", "gdc2015"}},
    {"vive_controller", {"raw", "base", "handgrip", "tip", "front", "gdc2015"}},
    {"khr_simple_controller", {"raw", "base", "handgrip", "tip", "front", "gdc2015"}},
};

TEST_F(DriverFolderBindings, RemappingCarriesEveryPoseAndTheButtonsOntoTheAnnouncedDevice) {
  const json profile = Profile();
  const std::string remappingPath = profile.at("remapping");
  const json remapping =
      Load(FolderUnderTest() / "resources" / remappingPath.substr(std::string("{vantorelle_k5}/").size()));
  EXPECT_EQ(remapping.at("to_controller_type"), "aaa_vantorelle_k5_controller");
  std::set<std::string> types;
  for (const json &layout : remapping.at("layouts")) {
    const std::string type = layout.at("from_controller_type");
    types.insert(type);
    EXPECT_TRUE(layout.at("priority").is_number_integer()) << type;
    EXPECT_EQ(layout.at("simulate_controller_type"), false) << type;
    std::set<std::string> targets;
    std::set<std::string> sourceSides;
    for (const json &rule : layout.at("autoremappings")) {
      const std::string from = rule.at("from");
      const std::string to = rule.at("to");
      EXPECT_EQ(rule.at("mirror"), false) << type << ": a stylus has no other side to mirror onto";
      ASSERT_EQ(from.rfind("/user/hand/", 0), 0u) << type << ": " << from;
      ASSERT_NE(from.find("/input/"), std::string::npos) << type << ": " << from;
      sourceSides.insert(from.substr(0, from.find("/input/")));
      ASSERT_EQ(to.rfind(root_ + "/input/", 0), 0u) << type << " remaps onto " << to;
      EXPECT_TRUE(profile.at("input_source").contains(to.substr(root_.size()))) << type << ": " << to;
      targets.insert(to.substr(root_.size()));
    }
    EXPECT_TRUE(targets.count("/input/fire") && targets.count("/input/eject_mag")) << type;
    std::set<std::string> poses;
    for (const json &rule : layout.at("remappings")) {
      const std::string from = rule.at("from").at("path");
      ASSERT_EQ(from.rfind("/user/hand/right/pose/", 0), 0u) << type << ": " << from;
      poses.insert(from.substr(std::string("/user/hand/right/pose/").size()));
      EXPECT_EQ(rule.at("to").at("path"), root_ + "/pose/raw") << type;
    }
    ASSERT_TRUE(kSourcePoses.count(type)) << type;
    EXPECT_EQ(poses, kSourcePoses.at(type)) << type;
    if (type == "oculus_touch") {
      EXPECT_EQ(sourceSides, (std::set<std::string>{"/user/hand/left", "/user/hand/right"}))
          << "Touch's X and Y are on the left controller";
    }
  }
  EXPECT_EQ(types, (std::set<std::string>{"khr_generic_controller", "oculus_touch", "knuckles", "vive_controller",
                                          "khr_simple_controller"}));
}

} // namespace
