// The built driver module in the development host, on a private bus with the
// pistol simulator as its BlueZ: the whole road of a press, and an unload
// that leaves nothing of the module running.
#include <atomic>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/ble/bluez/bus_fixture.h"
#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

namespace {

using namespace bluez_test;
using devhost::DevHost;
using devhost::DriverModule;
using K = devhost::Event::Kind;

bool Pressed(const DevHost &host, const std::string &component) {
  for (const auto &e : host.EventsOf(K::BooleanUpdate)) {
    if (e.text == component && e.value != 0) return true;
  }
  return false;
}

TEST(BluezModule, APressReachesTheHostAndDeactivationClosesTheLinkBeforeTheUnload) {
  PrivateBus bus;
  auto sim = StartSimulator(bus);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  {
    DriverModule module;
    ASSERT_TRUE(module.Open(VK5_DRIVER_FOLDER)) << module.error();
    auto *provider =
        static_cast<vr::IServerTrackedDeviceProvider *>(module.factory()("IServerTrackedDeviceProvider_004", nullptr));
    ASSERT_NE(provider, nullptr);
    DevHost host;
    ASSERT_EQ(provider->Init(&host), vr::VRInitError_None);
    vr::ITrackedDeviceServerDriver *device = host.AddedDevice();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Activate(0), vr::VRInitError_None);
    std::atomic<bool> running{true};
    std::thread frames([&] {
      while (running) {
        provider->RunFrame();
        std::this_thread::sleep_for(11ms);
      }
    });
    EXPECT_TRUE(host.WaitForLog("Device successfully connected.", 10s));
    sim->Send("fire");
    sim->Send("wait 300ms");
    sim->Send("eject");
    EXPECT_TRUE(Eventually([&] { return Pressed(host, "/input/fire/click"); }));
    EXPECT_TRUE(Eventually([&] { return Pressed(host, "/input/eject_mag/click"); }));
    running = false;
    frames.join();
    device->Deactivate();
    provider->Cleanup();
    // The module goes while its bus connection's last work may still be under way.
    module.Close();
  }
  EXPECT_TRUE(sim->WaitForLine("link down (Disconnect)"));
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace
