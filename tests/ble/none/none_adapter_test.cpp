#include <gtest/gtest.h>

#include "ble/adapter.h"

namespace {

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

} // namespace
