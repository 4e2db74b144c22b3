#include <cstdlib>

#include <gtest/gtest.h>

#include "ble/adapter.h"

namespace {

class NamedAdapter final : public ble::Adapter {
public:
  std::shared_ptr<ble::BluetoothLEAdvertisementWatcher> CreateWatcher() override { throw hresult_not_implemented(); }
  AsyncOperationPtr<std::shared_ptr<ble::BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t) override {
    throw hresult_not_implemented();
  }
};

#ifdef __linux__
// Linux builds reach the radio through BlueZ on the system bus; without a bus
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
#elif !defined(_WIN32)
// Windows has its runtime backend (tests/ble/winrt).
TEST(PlatformAdapter, WithoutARadioBackendEveryWayInRaises) {
  ble::Adapter &adapter = ble::PlatformAdapter();
  try {
    adapter.CreateWatcher();
    FAIL();
  } catch (const hresult_error &error) {
    EXPECT_EQ(error.code(), kErrorDeviceNotAvailable);
  }
  EXPECT_THROW(adapter.FromBluetoothAddressAsync(1), hresult_error);
}
#endif

TEST(PlatformAdapter, AnInjectedAdapterServesUntilItsScopeEnds) {
  ble::Adapter &builtIn = ble::PlatformAdapter();
  NamedAdapter injected;
  {
    ble::ScopedPlatformAdapter use(injected);
    EXPECT_EQ(&ble::PlatformAdapter(), &injected);
  }
  EXPECT_EQ(&ble::PlatformAdapter(), &builtIn);
}

} // namespace
