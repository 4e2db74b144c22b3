// The BlueZ backend against an implementation that is not ours: the bluez5
// template of python-dbusmock, driven through its org.bluez.Mock calls.
#include <gtest/gtest.h>

#include "ble/bluez/bluez_adapter.h"
#include "ble/bluez/bluez_names.h"
#include "ble/bluez/sdbus.h"
#include "support/blocking_wait.h"
#include "tests/ble/bluez/bus_fixture.h"

namespace {

using namespace bluez_test;
using namespace ble;
using ble::bluez::BluezAdapter;

constexpr const char *kDevicePath = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF";

class DbusMock {
public:
  explicit DbusMock(const PrivateBus &bus)
      : process_({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "bluez5"},
                 {"DBUS_SYSTEM_BUS_ADDRESS=" + bus.address()}) {
    if (sdbus::Bus::Open(bus.address(), control_) < 0) throw std::runtime_error("no bus");
    // The mock answers once its template is loaded.
    const bool up = Eventually([&] { return Call("/", bluez::kObjectManager, "GetManagedObjects", ""); }, 15s);
    if (!up) throw std::runtime_error("python-dbusmock did not come up");
  }

  // Calls a method on org.bluez with string arguments; true when it answered without error.
  template <class... Args>
  bool Call(const char *path, const char *interface, const char *member, const char *types, Args... args) {
    sdbus::Error error;
    sdbus::Message reply;
    return sd_bus_call_method(control_.get(), bluez::kBluezName, path, interface, member, error.get(), reply.out(),
                              types, args...) >= 0;
  }

  // An adapter hci0 that already knows the pistol.
  bool AddAdapterWithPistol() {
    return Call("/", "org.bluez.Mock", "AddAdapter", "ss", "hci0", "host") &&
           Call("/", "org.bluez.Mock", "AddDevice", "sss", "hci0", "AA:BB:CC:DD:EE:FF", "Pistol");
  }

  bool SetDeviceProperty(const char *name, bool value) {
    return Call(kDevicePath, "org.freedesktop.DBus.Mock", "UpdateProperties", "sa{sv}", bluez::kDevice1, 1, name, "b",
                static_cast<int>(value));
  }

private:
  Process process_;
  sdbus::Bus control_;
};

TEST(BluezWithDbusMock, HearsADeviceKnownBeforeTheScanAndOneAddedDuringIt) {
  PrivateBus bus;
  DbusMock mock(bus);
  ASSERT_TRUE(mock.AddAdapterWithPistol());
  BluezAdapter adapter(bus.address());
  auto watcher = adapter.CreateWatcher();
  Recorder<std::pair<std::u16string, std::uint64_t>> heard;
  watcher->Received([heard](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &args) {
    heard.Add({args.Advertisement()->LocalName(), args.BluetoothAddress()});
  });
  // The template's StartDiscovery fails without a filter set first; ours always sets one.
  watcher->Start();
  EXPECT_TRUE(heard.WaitFor([](const auto &h) { return h.first == u"Pistol" && h.second == 0xAABBCCDDEEFF; }));
  ASSERT_TRUE(mock.Call("/", "org.bluez.Mock", "AddDevice", "sss", "hci0", "11:22:33:44:55:66", "Pistol K12"));
  EXPECT_TRUE(heard.WaitFor([](const auto &h) { return h.first == u"Pistol K12" && h.second == 0x112233445566; }));
}

TEST(BluezWithDbusMock, FollowsConnectServicesResolvedAndDisconnect) {
  PrivateBus bus;
  DbusMock mock(bus);
  ASSERT_TRUE(mock.AddAdapterWithPistol());
  BluezAdapter adapter(bus.address());
  auto device = blocking_get(*adapter.FromBluetoothAddressAsync(0xAABBCCDDEEFF));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Name(), u"Pistol");
  Recorder<BluetoothConnectionStatus> statuses;
  device->ConnectionStatusChanged([statuses](BluetoothLEDevice &sender) { statuses.Add(sender.ConnectionStatus()); });

  auto services = device->GetGattServicesAsync();
  ASSERT_TRUE(statuses.WaitForCount(1));
  EXPECT_EQ(statuses.Items().front(), BluetoothConnectionStatus::Connected);
  // The template never resolves services by itself; the services wait holds until it does.
  EXPECT_EQ(services->Status(), AsyncStatus::Started);
  ASSERT_TRUE(mock.SetDeviceProperty("ServicesResolved", true));
  auto result = blocking_get(*services);
  EXPECT_EQ(result->Status(), GattCommunicationStatus::Success);
  EXPECT_EQ(result->Services()->Size(), 0u);

  ASSERT_TRUE(mock.Call("/", "org.bluez.Mock", "DisconnectDevice", "ss", "hci0", "AA:BB:CC:DD:EE:FF"));
  ASSERT_TRUE(statuses.WaitForCount(2));
  EXPECT_EQ(statuses.Items().back(), BluetoothConnectionStatus::Disconnected);
}

} // namespace
