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
