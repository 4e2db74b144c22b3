#include "ble/winrt/winrt_adapter.h"

#include "ble/winrt/abi.h"
#include "ble/winrt/winrt_device.h"
#include "ble/winrt/winrt_operations.h"
#include "ble/winrt/winrt_watcher.h"

namespace ble::winrt {
namespace {

using namespace winrt_abi;

FactorySlot deviceStatics{kBluetoothLEDeviceClass, iid_of<IBluetoothLEDeviceStatics>};
FactorySlot watcherFactory{kAdvertisementWatcherClass, kIidIActivationFactory};
FactorySlot dataReaderStatics{kDataReaderClass, iid_of<IDataReaderStatics>};

class Backend final : public Adapter {
public:
  std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() override {
    com_ptr<IInspectable> instance;
    watcherFactory.Use<IActivationFactory>(
        [&](IActivationFactory *factory) { check(factory->ActivateInstance(instance.put())); });
    if (!instance) raise_platform_error(kENoInterface);
    return WrapWatcher(instance.as<IBluetoothLEAdvertisementWatcher>(iid_of<IBluetoothLEAdvertisementWatcher>));
  }

  AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t address) override {
    IAsyncOperation<IBluetoothLEDevice *> *raw = nullptr;
    deviceStatics.Use<IBluetoothLEDeviceStatics>(
        [&](IBluetoothLEDeviceStatics *statics) { check(statics->FromBluetoothAddressAsync(address, &raw)); });
    return WrapOperation<std::shared_ptr<BluetoothLEDevice>>(raw, &ToDevice);
  }
};

// Stateless, so constant-initialised: no guard on first use.
constinit Backend backend;

} // namespace

Adapter &WinrtAdapter() {
  return backend;
}

FactorySlot &DeviceStaticsSlot() {
  return deviceStatics;
}
FactorySlot &WatcherFactorySlot() {
  return watcherFactory;
}
FactorySlot &DataReaderStaticsSlot() {
  return dataReaderStatics;
}

} // namespace ble::winrt
