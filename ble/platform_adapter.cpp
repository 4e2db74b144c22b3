#include <atomic>

#include "ble/adapter.h"

namespace ble {
namespace {

// Until a radio backend is built for this platform: no watcher, no device.
class NoRadioAdapter final : public Adapter {
public:
  std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() override {
    raise_platform_error(kErrorDeviceNotAvailable);
  }
  AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t) override {
    raise_platform_error(kErrorDeviceNotAvailable);
  }
};

std::atomic<Adapter *> injectedAdapter{nullptr};

} // namespace

Adapter &PlatformAdapter() {
  static NoRadioAdapter builtIn;
  Adapter *adapter = injectedAdapter.load();
  return adapter ? *adapter : builtIn;
}

void SetPlatformAdapter(Adapter *adapter) {
  injectedAdapter.store(adapter);
}

} // namespace ble
