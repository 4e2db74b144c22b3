#pragma once

// The device class: a connection to a pistol, found by address through the
// class's statics.

#include <atomic>
#include <mutex>

#include "tests/common/winrt_fake/fake_gatt.h"
#include "tests/common/winrt_fake/fake_operation.h"

namespace fake {

class Device final : public Implements<IBluetoothLEDevice, IBluetoothLEDevice3, IClosable> {
public:
  explicit Device(UINT64 address) : address_(address) {
    std::lock_guard lock(pistolsMutex);
    Pistol &pistol = pistols[address_];
    pistol.connected = true;
    pistol.devices.push_back(this);
  }
  ~Device() override { Unlist(); }

  HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) override {
    std::lock_guard lock(pistolsMutex);
    *value = MakeString(pistols[address_].name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_GattServices(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ConnectionStatus(INT32 *value) override {
    if (closed_) return kClosed;
    *value = connected_ ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override {
    *value = address_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetGattService(GUID, IGattDeviceService **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NameChanged(DeviceEventHandler *, EventRegistrationToken *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_NameChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_GattServicesChanged(DeviceEventHandler *, EventRegistrationToken *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_GattServicesChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(DeviceEventHandler *handler,
                                                        EventRegistrationToken *token) override {
    return statusChanged_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventRegistrationToken token) override {
    return statusChanged_.Remove(token, this, [this](DeviceEventHandler *handler) {
      handler->Invoke(static_cast<IBluetoothLEDevice *>(this), static_cast<IInspectable *>(nullptr));
    });
  }

  // IBluetoothLEDevice3
  HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGattServicesAsync(IAsyncOperation<IGattDeviceServicesResult *> **operation) override {
    if (closed_) return kClosed;
    return Start(operation, "GetGattServicesAsync",
                 [&]() -> IGattDeviceServicesResult * { return new ServicesResult(address_); });
  }

  // IClosable
  HRESULT STDMETHODCALLTYPE Close() override {
    closed_ = true;
    Unlist();
    return S_OK;
  }

  void Drop() {
    connected_ = false;
    statusChanged_.Raise(static_cast<IBluetoothLEDevice *>(this), static_cast<IInspectable *>(nullptr));
  }
  long Handlers() { return statusChanged_.Size(); }

private:
  void Unlist() {
    std::lock_guard lock(pistolsMutex);
    Pistol &pistol = pistols[address_];
    if (std::erase(pistol.devices, this) && pistol.devices.empty()) pistol.connected = false;
  }

  UINT64 address_;
  std::atomic<bool> connected_{true};
  std::atomic<bool> closed_{false};
  EventSource<DeviceEventHandler> statusChanged_;
};

class DeviceStatics final : public Implements<IActivationFactory, IBluetoothLEDeviceStatics> {
public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING, IAsyncOperation<IBluetoothLEDevice *> **) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 address,
                                                      IAsyncOperation<IBluetoothLEDevice *> **operation) override {
    return Start(operation, "FromBluetoothAddressAsync", [&]() -> IBluetoothLEDevice * {
      bool known = false;
      {
        std::lock_guard lock(pistolsMutex);
        // With the radio off the runtime knows no device by address.
        known = radioOn && pistols.count(address) && !pistols[address].name.empty();
      }
      // A lookup that never completes opens no device.
      if (!known || NeverCompletes("FromBluetoothAddressAsync")) return nullptr;
      return new Device(address);
    });
  }
};

} // namespace fake
