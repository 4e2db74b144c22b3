// The device as the host sees it: properties, components, component lookup,
// debug requests and the pose read-back.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "tools/host/dev_host.h"

namespace {

using devhost::DevHost;
using K = devhost::Event::Kind;

class Controller : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
    controller = provider.controller;
    host.ClearEvents();
  }
  void TearDown() override {
    if (controller && controller->objectId != vr::k_unTrackedDeviceIndexInvalid) controller->Deactivate();
    provider.Cleanup();
  }
  DevHost host;
  DeviceProvider provider;
  ControllerDriver *controller = nullptr;
};

// A host that offers no properties interface still gets a working device; the
// interface is asked for again at activation, in case it came up late.
TEST(ControllerWithoutProperties, ActivationSkipsThePropertiesAndGoesOn) {
  DevHost host;
  host.Withhold(vr::IVRProperties_Version);
  DeviceProvider provider;
  ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
  host.ClearEvents();
  ASSERT_EQ(provider.controller->Activate(3), vr::VRInitError_None);
  EXPECT_TRUE(host.EventsOf(K::Property).empty());
  EXPECT_EQ(host.EventsOf(K::ComponentCreated).size(), 4u);
  std::size_t asked = 0;
  for (const auto &e : host.EventsOf(K::InterfaceRequest)) asked += e.text == vr::IVRProperties_Version;
  EXPECT_GE(asked, 1u);
  provider.controller->Deactivate();
  provider.Cleanup();
}

TEST_F(Controller, ActivationWritesTheFixedPropertiesThenTheNamesThenFourComponents) {
  ASSERT_EQ(controller->Activate(3), vr::VRInitError_None);
  EXPECT_EQ(controller->objectId, 3u);

  std::vector<std::string> order;
  for (const auto &e : host.Events()) {
    if (e.kind == K::Property) order.push_back("prop " + std::to_string(e.number));
    if (e.kind == K::ComponentCreated) order.push_back(e.text);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"prop 1037", "prop 7000", "prop 3007", "prop 7002", "prop 1003",
                                             "prop 1001", "prop 1005", "/input/fire/value", "/input/fire/click",
                                             "/input/eject_mag/click", "/input/load_mag/click"}));

  const auto props = host.EventsOf(K::Property);
  ASSERT_EQ(props.size(), 7u);
  EXPECT_EQ(props[0].stringValue, "{vantorelle_k5}/input/vantorelle_k5_controller_profile.json");
  EXPECT_EQ(props[0].size, props[0].stringValue.size() + 1);
  EXPECT_EQ(props[0].tag, 5u);
  EXPECT_EQ(props[1].stringValue, "aaa_vantorelle_k5_controller");
  EXPECT_EQ(props[2].value, 5);
  EXPECT_EQ(props[2].tag, 2u);
  EXPECT_EQ(props[2].size, 4u);
  EXPECT_EQ(props[3].value, 999999);
  EXPECT_EQ(props[4].stringValue, "{vantorelle_k5}vantorelle_k5_pistol");
  EXPECT_EQ(props[5].stringValue, "Vantorelle K5");
  EXPECT_EQ(props[6].stringValue, "Vantorelle");
  for (std::size_t i = 4; i < props.size(); ++i) {
    EXPECT_EQ(props[i].tag, 5u) << "string";
    EXPECT_EQ(props[i].size, props[i].stringValue.size() + 1) << "with its terminator";
  }
  for (const auto &p : props) EXPECT_EQ(p.handle, 0x1003u) << "container of device 3";

  const auto components = host.EventsOf(K::ComponentCreated);
  EXPECT_EQ(components[0].tag, 0u) << "absolute scalar";
  EXPECT_EQ(components[0].size, 1u) << "two-sided units";
  EXPECT_EQ(controller->fireValue, static_cast<uint64_t>(components[0].number));
  EXPECT_EQ(controller->fireClick, static_cast<uint64_t>(components[1].number));
  EXPECT_EQ(controller->ejectMagClick, static_cast<uint64_t>(components[2].number));
  EXPECT_EQ(controller->loadMagClick, static_cast<uint64_t>(components[3].number));
}

TEST_F(Controller, DeactivationInvalidatesTheIndexOnly) {
  ASSERT_EQ(controller->Activate(1), vr::VRInitError_None);
  const auto fire = controller->fireClick;
  controller->Deactivate();
  EXPECT_EQ(controller->objectId, 0xFFFFFFFFu);
  EXPECT_EQ(controller->fireClick, fire);
}

TEST_F(Controller, OffersOnlyTheDriverInputComponent) {
  EXPECT_EQ(controller->GetComponent("IVRDriverInput_003"), static_cast<void *>(controller));
  for (const char *name : {"IVRDisplayComponent_002", "IVRDriverDirectModeComponent_007", "IVRCameraComponent_003",
                           "IVRVirtualDisplay_002", "IVRDriverInput_002", "ivrdriverinput_003", ""})
    EXPECT_EQ(controller->GetComponent(name), nullptr) << name;
  EXPECT_EQ(controller->GetComponent(nullptr), nullptr);
}

TEST_F(Controller, DebugRequestAnswersEmpty) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  controller->DebugRequest("anything", buffer, 0);
  EXPECT_EQ(buffer[0], 'x');
  controller->DebugRequest("anything", buffer, 1);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'x');
  controller->DebugRequest(nullptr, nullptr, 16);
}

TEST_F(Controller, PoseBeforeAnyFrameIsAllZero) {
  vr::DriverPose_t pose;
  std::memset(&pose, 0xAB, sizeof pose);
#ifdef VK5_GETPOSE_OUT_PARAM
  controller->GetPose(&pose);
#else
  pose = controller->GetPose();
#endif
  const vr::DriverPose_t zero{};
  EXPECT_EQ(std::memcmp(&pose, &zero, sizeof pose), 0);
  EXPECT_FALSE(pose.poseIsValid);
  EXPECT_FALSE(pose.deviceIsConnected);
}

} // namespace
