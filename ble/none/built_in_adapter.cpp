#include "ble/built_in_adapter.h"

namespace ble {
namespace {

// For a platform without a radio backend: no watcher, no device.
class NoRadioAdapter final : public Adapter {
public:
  std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() override {
    raise_platform_error(kErrorDeviceNotAvailable);
  }
  AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t) override {
    raise_platform_error(kErrorDeviceNotAvailable);
  }
};

} // namespace

Adapter &BuiltInAdapter() {
  static NoRadioAdapter builtIn;
  return builtIn;
}

} // namespace ble
