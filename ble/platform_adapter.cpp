#include <atomic>

#include "ble/adapter.h"

#if defined(VK5_BLUEZ_BACKEND)
#include "ble/bluez/bluez_adapter.h"
#elif defined(_WIN32)
#include "ble/winrt/winrt_adapter.h"
#endif

namespace ble {
namespace {

#if !defined(VK5_BLUEZ_BACKEND) && !defined(_WIN32)
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
#if defined(VK5_BLUEZ_BACKEND)
  // Holds no connection of its own: each run of the link opens one on first use.
  static bluez::BluezAdapter builtIn;
#elif defined(_WIN32)
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
