#include <cstdlib>

#include <gtest/gtest.h>

#include "ble/adapter.h"

namespace {

// The module reaches the radio through BlueZ on the system bus; without a bus
// every way in raises (0x800704C9, see ble/bluez/bluez_error.h).
TEST(PlatformAdapter, WithoutASystemBusEveryWayInRaises) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vk5-no-bus", 1);
  ble::Adapter &adapter = ble::PlatformAdapter();
  try {
    adapter.CreateWatcher();
    FAIL();
  } catch (const hresult_error &error) {
    EXPECT_EQ(error.code(), static_cast<HRESULT>(0x800704C9));
  }
  EXPECT_THROW(adapter.FromBluetoothAddressAsync(1), hresult_error);
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace
