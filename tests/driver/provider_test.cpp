// The host's first contact: factory, Init, interface list, standby, Cleanup.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "driver/driver_factory.h"
#include "support/host_log.h"
#include "tools/host/dev_host.h"

namespace {

using devhost::DevHost;
using K = devhost::Event::Kind;

std::vector<std::string> Requested(const DevHost &host) {
  std::vector<std::string> out;
  for (const auto &e : host.EventsOf(K::InterfaceRequest)) out.push_back(e.text);
  return out;
}

TEST(Factory, HandsOutTheSameProviderWithoutTouchingTheReturnCode) {
  int code = 1234;
  void *first = DriverFactory("IServerTrackedDeviceProvider_004", &code);
  void *second = DriverFactory("IServerTrackedDeviceProvider_004", &code);
  EXPECT_EQ(first, static_cast<vr::IServerTrackedDeviceProvider *>(&deviceProvider));
  EXPECT_EQ(first, second);
  EXPECT_EQ(code, 1234);
}

TEST(Factory, RefusesEveryOtherNameWith105) {
  for (const char *name : {"IServerTrackedDeviceProvider_003", "IVRWatchdogProvider_001",
                           "iservertrackeddeviceprovider_004", "IServerTrackedDeviceProvider_004 ", ""}) {
    int code = 0;
    EXPECT_EQ(DriverFactory(name, &code), nullptr) << name;
    EXPECT_EQ(code, 105) << name;
  }
  EXPECT_EQ(DriverFactory("IVRWatchdogProvider_001", nullptr), nullptr);
  int code = 0;
  EXPECT_EQ(DriverFactory(nullptr, &code), nullptr);
  EXPECT_EQ(code, 105);
}

TEST(Provider, ListsExactlyTheElevenInterfaceVersions) {
  DeviceProvider provider;
  const char *const *list = provider.GetInterfaceVersions();
  const std::vector<std::string> expected = {"IVRSettings_003",
                                             "ITrackedDeviceServerDriver_005",
                                             "IVRDisplayComponent_002",
                                             "IVRDriverDirectModeComponent_007",
                                             "IVRCameraComponent_003",
                                             "IServerTrackedDeviceProvider_004",
                                             "IVRWatchdogProvider_001",
                                             "IVRVirtualDisplay_002",
                                             "IVRDriverManager_001",
                                             "IVRResources_001",
                                             "IVRCompositorPluginProvider_001"};
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_NE(list[i], nullptr) << i;
    EXPECT_EQ(list[i], expected[i]);
  }
  EXPECT_EQ(list[expected.size()], nullptr);
}

TEST(ProviderInit, CompleteContextLogsOnceAndAnnouncesTheController) {
  DevHost host;
  DeviceProvider provider;
  ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
  EXPECT_EQ(Requested(host),
            (std::vector<std::string>{"IVRServerDriverHost_006", "IVRSettings_003", "IVRProperties_001",
                                      "IVRDriverLog_001", "IVRDriverManager_001", "IVRResources_001"}));
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Initializing controller"});
  const auto added = host.EventsOf(K::DeviceAdded);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].text, "aaa_vantorelle_k5_controller");
  EXPECT_EQ(added[0].number, 2);
  EXPECT_EQ(host.AddedDevice(), static_cast<vr::ITrackedDeviceServerDriver *>(provider.controller));
  provider.Cleanup();
}

TEST(ProviderInit, MissingDriverManagerFailsSilentlyBeforeResources) {
  DevHost host;
  host.Withhold("IVRDriverManager_001");
  DeviceProvider provider;
  EXPECT_EQ(provider.Init(&host), 105);
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_TRUE(host.EventsOf(K::DeviceAdded).empty());
  EXPECT_EQ(provider.controller, nullptr);
  EXPECT_EQ(Requested(host).back(), "IVRDriverManager_001");
}

TEST(ProviderInit, EachRequiredInterfaceStopsInit) {
  for (const char *missing :
       {"IVRServerDriverHost_006", "IVRSettings_003", "IVRDriverLog_001", "IVRDriverManager_001", "IVRResources_001"}) {
    DevHost host;
    host.Withhold(missing);
    DeviceProvider provider;
    EXPECT_EQ(provider.Init(&host), 105) << missing;
    EXPECT_EQ(provider.controller, nullptr) << missing;
    EXPECT_EQ(Requested(host).back(), missing);
  }
}

TEST(ProviderInit, MissingPropertiesStillAnnouncesTheController) {
  DevHost host;
  host.Withhold("IVRProperties_001");
  DeviceProvider provider;
  EXPECT_EQ(provider.Init(&host), vr::VRInitError_None);
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Initializing controller"});
  EXPECT_EQ(host.EventsOf(K::DeviceAdded).size(), 1u);
  provider.Cleanup();
}

TEST(Provider, NothingReachesTheHostLogAfterCleanupUntilTheNextInit) {
  DevHost host;
  DeviceProvider provider;
  ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
  provider.Cleanup();
  LogLine("a platform thread calling in late");
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Initializing controller"});
  ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
  EXPECT_EQ(host.LogLines(), (std::vector<std::string>{"Initializing controller", "Initializing controller"}));
  provider.Cleanup();
}

TEST(ProviderInit, NullContextIsRefused) {
  DeviceProvider provider;
  EXPECT_EQ(provider.Init(nullptr), 105);
  EXPECT_EQ(provider.controller, nullptr);
}

TEST(Provider, StandbyChangesNothingAndCleanupIsRepeatable) {
  DevHost host;
  DeviceProvider provider;
  ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
  EXPECT_FALSE(provider.ShouldBlockStandbyMode());
  provider.EnterStandby();
  provider.LeaveStandby();
  provider.RunFrame();
  EXPECT_NE(provider.controller, nullptr);
  provider.Cleanup();
  EXPECT_EQ(provider.controller, nullptr);
  provider.Cleanup();
  provider.RunFrame();
  EXPECT_EQ(provider.controller, nullptr);
}

} // namespace
