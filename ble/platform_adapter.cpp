#include <atomic>

#include "ble/adapter.h"

#ifdef _WIN32
#include "ble/winrt/winrt_adapter.h"
#endif

namespace ble {
namespace {

#ifndef _WIN32
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

#endif

std::atomic<Adapter *> injectedAdapter{nullptr};

} // namespace

Adapter &PlatformAdapter() {
#ifdef _WIN32
  Adapter &builtIn = winrt::WinrtAdapter();
#else
  static NoRadioAdapter builtIn;
#endif
  Adapter *adapter = injectedAdapter.load();
  return adapter ? *adapter : builtIn;
}

void SetPlatformAdapter(Adapter *adapter) {
  injectedAdapter.store(adapter);
}

} // namespace ble
