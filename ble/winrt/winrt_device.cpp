#include "ble/winrt/winrt_device.h"

#include <memory>
#include <string>
#include <utility>

#include "ble/winrt/winrt_gatt.h"
#include "ble/winrt/winrt_operations.h"

namespace ble::winrt {
namespace {

using namespace winrt_abi;

class WinrtDevice final : public BluetoothLEDevice {
public:
  explicit WinrtDevice(com_ptr<IBluetoothLEDevice> device) : device_(std::move(device)) {}

  EventToken ConnectionStatusChanged(ConnectionStatusChangedHandler handler) override {
    auto delegate = MakeDelegate<DeviceEventHandler, IBluetoothLEDevice *, IInspectable *>(
        [handler = std::move(handler)](IBluetoothLEDevice *sender, IInspectable *) {
          WinrtDevice senderView(com_ptr<IBluetoothLEDevice>::borrow(sender));
          handler(senderView);
        });
    EventRegistrationToken token{};
    check(device_->add_ConnectionStatusChanged(delegate.get(), &token));
    return ToToken(token);
  }

  void ConnectionStatusChanged(EventToken token) override {
    check(device_->remove_ConnectionStatusChanged(ToAbi(token)));
  }

  BluetoothConnectionStatus ConnectionStatus() override {
    INT32 status = 0;
    check(device_->get_ConnectionStatus(&status));
    return static_cast<BluetoothConnectionStatus>(status);
  }

  std::u16string Name() override {
    hstring name;
    check(device_->get_Name(name.put()));
    return name.u16();
  }

  AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>> GetGattServicesAsync() override {
    auto device3 = device_.as<IBluetoothLEDevice3>(iid_of<IBluetoothLEDevice3>);
    IAsyncOperation<IGattDeviceServicesResult *> *raw = nullptr;
    check(device3->GetGattServicesAsync(&raw));
    return WrapOperation<std::shared_ptr<GattDeviceServicesResult>>(raw, &ToServicesResult);
  }

  AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>>
  GetGattServicesWithCacheModeAsync(BluetoothCacheMode mode) override {
    auto device3 = device_.as<IBluetoothLEDevice3>(iid_of<IBluetoothLEDevice3>);
    IAsyncOperation<IGattDeviceServicesResult *> *raw = nullptr;
    check(device3->GetGattServicesWithCacheModeAsync(static_cast<INT32>(mode), &raw));
    return WrapOperation<std::shared_ptr<GattDeviceServicesResult>>(raw, &ToServicesResult);
  }

  void Close() override { check(device_.as<IClosable>(iid_of<IClosable>)->Close()); }

private:
  com_ptr<IBluetoothLEDevice> device_;
};

} // namespace

std::shared_ptr<BluetoothLEDevice> ToDevice(IBluetoothLEDevice *raw) {
  // No device for the address is a result, not a failure.
  if (!raw) return nullptr;
  return std::make_shared<WinrtDevice>(com_ptr<IBluetoothLEDevice>::attach(raw));
}

} // namespace ble::winrt
