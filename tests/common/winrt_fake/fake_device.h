#pragma once

// The device class: a connection to a pistol, found by address through the
// class's statics. Its link comes and goes as fake_link.h says; after the
// last Close the pistol may stay linked (and silent) for a while.

#include <atomic>
#include <mutex>

#include "tests/common/winrt_fake/fake_gatt.h"
#include "tests/common/winrt_fake/fake_operation.h"

namespace fake {

class Device final : public Implements<IBluetoothLEDevice, IBluetoothLEDevice3, IClosable>, public LinkOwner {
public:
  Device(UINT64 address, const Behaviour &behaviour) : address_(address) {
    std::lock_guard lock(pistolsMutex);
    Pistol &pistol = pistols[address_];
    const bool linkUp = pistol.LinkUp();
    if (linkUp || !behaviour.lazyConnection) {
      pistol.connected = true; // an existing link is taken over
      pistol.heldUntil = {};
    }
    pistol.devices.push_back(this);
    link_ = std::make_shared<DeviceLink>(address_, this, behaviour, linkUp);
  }
  ~Device() override {
    link_->Orphan();
    Unlist(Current(), false);
  }

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
    *value = link_->connected ? 1 : 0;
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
    return Discover(operation);
  }
  HRESULT STDMETHODCALLTYPE GetGattServicesWithCacheModeAsync(
      INT32 cacheMode, IAsyncOperation<IGattDeviceServicesResult *> **operation) override {
    if (cacheMode == 1) ++uncachedCalls;
    return Discover(operation);
  }

  // IClosable
  HRESULT STDMETHODCALLTYPE Close() override {
    const Behaviour behaviour = Current();
    if (behaviour.closeBlockMs != 0) BlockInClose(behaviour.closeBlockMs);
    closed_ = true;
    Unlist(behaviour, true);
    return S_OK;
  }

  // The link is gone; reported as the runtime does, after its supervision timeout.
  void Drop() {
    link_->connected = false;
    LinkChanged(false);
  }
  long Handlers() { return statusChanged_.Size(); }

  void LinkChanged(bool) override {
    statusChanged_.Raise(static_cast<IBluetoothLEDevice *>(this), static_cast<IInspectable *>(nullptr));
  }
  Object &AsObject() override { return *this; }

private:
  HRESULT Discover(IAsyncOperation<IGattDeviceServicesResult *> **operation) {
    if (closed_) return kClosed;
    const auto answer = link_->Reach("GetGattServicesAsync", true);
    return Start(
        operation, "GetGattServicesAsync",
        [&]() -> IGattDeviceServicesResult * { return new ServicesResult(link_, answer.status); }, answer.delay);
  }

  // The last device of a linked pistol let go: Windows keeps the link for a
  // while (or for good) before the pistol is free to advertise again.
  void Unlist(const Behaviour &behaviour, bool closing) {
    std::lock_guard lock(pistolsMutex);
    Pistol &pistol = pistols[address_];
    if (!std::erase(pistol.devices, this) || !pistol.devices.empty() || !pistol.connected) return;
    pistol.connected = false;
    if (!closing || !link_->connected) return;
    if (behaviour.closeDisconnectMs < 0)
      pistol.heldUntil = std::chrono::steady_clock::time_point::max();
    else
      pistol.heldUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(behaviour.closeDisconnectMs);
  }

  UINT64 address_;
  std::shared_ptr<DeviceLink> link_;
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
    const Behaviour behaviour = Current();
    return Start(
        operation, "FromBluetoothAddressAsync",
        [&]() -> IBluetoothLEDevice * {
          bool known = false;
          {
            std::lock_guard lock(pistolsMutex);
            // With the radio off the runtime knows no device by address.
            known = radioOn && pistols.count(address) && !pistols[address].name.empty() &&
                    (!behaviour.lookupNeedsAdvertisement || pistols[address].heard);
          }
          // A lookup that never completes opens no device.
          if (!known || NeverCompletes("FromBluetoothAddressAsync")) return nullptr;
          return new Device(address, behaviour);
        },
        Pace(20ms, 100ms));
  }
};

} // namespace fake
