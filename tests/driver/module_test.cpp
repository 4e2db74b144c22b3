// The built module, loaded and driven the way the host does it.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

namespace {

using devhost::DevHost;
using devhost::DriverModule;
using K = devhost::Event::Kind;

TEST(Module, LoadsAndAnswersOnlyTheProviderInterface) {
  DriverModule module;
  ASSERT_TRUE(module.Open(VK5_MODULE_PATH)) << module.error();
  int code = 0;
  void *provider = module.factory()("IServerTrackedDeviceProvider_004", &code);
  EXPECT_NE(provider, nullptr);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(module.factory()("IVRWatchdogProvider_001", &code), nullptr);
  EXPECT_EQ(code, 105);
  EXPECT_EQ(module.factory()(nullptr, nullptr), nullptr);
}

TEST(Module, RunsFromInitToCleanup) {
  DriverModule module;
  ASSERT_TRUE(module.Open(VK5_MODULE_PATH)) << module.error();
  auto *provider =
      static_cast<vr::IServerTrackedDeviceProvider *>(module.factory()("IServerTrackedDeviceProvider_004", nullptr));
  ASSERT_NE(provider, nullptr);
  DevHost host;
  ASSERT_EQ(provider->Init(&host), vr::VRInitError_None);
  vr::ITrackedDeviceServerDriver *device = host.AddedDevice();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Activate(0), vr::VRInitError_None);
  for (int i = 0; i < 10; ++i) provider->RunFrame();
  device->Deactivate();
  provider->Cleanup();

  const std::vector<std::string> lines = host.LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Initializing controller");
  // The four fixed properties keep their order; the names come after them.
  std::vector<int64_t> written;
  std::vector<std::string> names;
  for (const auto &e : host.EventsOf(K::Property)) {
    written.push_back(e.number);
    if (written.size() > 4) names.push_back(e.stringValue);
  }
  EXPECT_EQ(written, (std::vector<int64_t>{1037, 7000, 3007, 7002, 1003, 1001, 1005}));
  EXPECT_EQ(names, (std::vector<std::string>{"{vantorelle_k5}vantorelle_k5_pistol", "Vantorelle K5", "Vantorelle"}));
  EXPECT_EQ(host.EventsOf(K::ComponentCreated).size(), 4u);
  EXPECT_TRUE(host.EventsOf(K::BooleanUpdate).empty()) << "no button was pressed";
}

TEST(Module, SilentWhenTheLogIsWithheld) {
  DriverModule module;
  ASSERT_TRUE(module.Open(VK5_MODULE_PATH)) << module.error();
  auto *provider =
      static_cast<vr::IServerTrackedDeviceProvider *>(module.factory()("IServerTrackedDeviceProvider_004", nullptr));
  DevHost host;
  host.Withhold("IVRDriverLog_001");
  EXPECT_EQ(provider->Init(&host), 105);
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_TRUE(host.EventsOf(K::DeviceAdded).empty());
}

} // namespace
