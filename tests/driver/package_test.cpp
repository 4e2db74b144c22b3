// The driver folder as the host reads it: manifest and input profile, and the
// profile declaring exactly the components the module creates.
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/driver/folder_under_test.h"
#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

namespace {

using json = nlohmann::json;
using K = devhost::Event::Kind;

json Load(const std::string &relative) {
  const std::filesystem::path path = FolderUnderTest() / relative;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  return json::parse(in);
}

TEST(DriverFolder, ManifestNamesTheFolderAndTheLibrary) {
  const json manifest = Load("driver.vrdrivermanifest");
  EXPECT_EQ(manifest.at("name"), "vantorelle_k5");
  EXPECT_TRUE(manifest.at("alwaysActivate").get<bool>()) << "a controller-only driver";
  EXPECT_FALSE(manifest.value("resourceOnly", false));
  EXPECT_TRUE(manifest.at("hmd_presence").is_array());
}

TEST(DriverFolder, ProfileDeclaresThePistolInputs) {
  const json profile = Load("resources/input/vantorelle_k5_controller_profile.json");
  EXPECT_EQ(profile.at("jsonid"), "input_profile");
  EXPECT_EQ(profile.at("controller_type"), "aaa_vantorelle_k5_controller");
  const json &sources = profile.at("input_source");
  std::set<std::string> names;
  for (const auto &[name, source] : sources.items()) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"/input/fire", "/input/eject_mag", "/input/load_mag", "/pose/raw"}));
  EXPECT_EQ(sources.at("/input/fire").at("type"), "trigger");
  EXPECT_EQ(sources.at("/input/eject_mag").at("type"), "button");
  EXPECT_EQ(sources.at("/input/load_mag").at("type"), "button");
  EXPECT_EQ(sources.at("/pose/raw").at("type"), "pose");
}

// Every component the module creates is declared, and every declared
// click/value component is created: applications bind what the profile says.
TEST(DriverFolder, ProfileMatchesTheComponentsTheModuleCreates) {
  const json profile = Load("resources/input/vantorelle_k5_controller_profile.json");
  std::set<std::string> declared;
  for (const auto &[name, source] : profile.at("input_source").items()) {
    if (source.value("click", false)) declared.insert(name + "/click");
    if (source.value("value", false)) declared.insert(name + "/value");
  }

  devhost::DriverModule module;
  ASSERT_TRUE(module.Open(FolderUnderTest().string())) << module.error();
  auto *provider =
      static_cast<vr::IServerTrackedDeviceProvider *>(module.factory()("IServerTrackedDeviceProvider_004", nullptr));
  devhost::DevHost host;
  ASSERT_EQ(provider->Init(&host), vr::VRInitError_None);
  host.AddedDevice()->Activate(0);
  host.AddedDevice()->Deactivate();
  provider->Cleanup();

  std::set<std::string> created;
  for (const auto &e : host.EventsOf(K::ComponentCreated)) created.insert(e.text);
  EXPECT_EQ(created, declared);
  for (const auto &e : host.EventsOf(K::Property)) {
    if (e.number == vr::Prop_InputProfilePath_String) {
      EXPECT_EQ(e.stringValue, "{vantorelle_k5}/input/vantorelle_k5_controller_profile.json");
    }
  }
}

} // namespace
