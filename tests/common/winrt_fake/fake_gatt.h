#pragma once

// The GATT side of a pistol: its one service with its one characteristic,
// the results that list them, and the notifications it sends.

#include <atomic>
#include <mutex>
#include <vector>

#include "tests/common/winrt_fake/fake_link.h"
#include "tests/common/winrt_fake/fake_operation.h"
#include "tests/common/winrt_fake/fake_streams.h"

namespace fake {

// A list handed to the caller, holding a reference on each item.
template <class T> class Vector final : public Implements<IVectorView<T *>> {
public:
  explicit Vector(std::vector<T *> items) : items_(std::move(items)) {}
  ~Vector() override {
    for (T *item : items_) item->Release();
  }
  HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, T **item) override {
    if (index >= items_.size()) return kBounds;
    *item = AddRefed(items_[index]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) override {
    *size = static_cast<UINT32>(items_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IndexOf(T *, UINT32 *, boolean *found) override {
    *found = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32, UINT32, T **, UINT32 *actual) override {
    *actual = 0;
    return E_NOTIMPL;
  }

private:
  std::vector<T *> items_;
};

class ValueChangedArgs final : public Implements<IGattValueChangedEventArgs> {
public:
  explicit ValueChangedArgs(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  HRESULT STDMETHODCALLTYPE get_CharacteristicValue(IBuffer **value) override {
    *value = new ByteBuffer(bytes_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) override {
    value->UniversalTime = 0;
    return S_OK;
  }

private:
  std::vector<BYTE> bytes_;
};

class Characteristic final : public Implements<IGattCharacteristic> {
public:
  explicit Characteristic(std::shared_ptr<DeviceLink> link) : link_(std::move(link)), address_(link_->address) {
    std::lock_guard lock(pistolsMutex);
    pistols[address_].characteristics.push_back(this);
  }
  ~Characteristic() override {
    std::lock_guard lock(pistolsMutex);
    auto &list = pistols[address_].characteristics;
    std::erase(list, this);
  }
  HRESULT STDMETHODCALLTYPE GetDescriptors(GUID, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CharacteristicProperties(UINT32 *value) override {
    *value = 0x10;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProtectionLevel(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ProtectionLevel(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_UserDescription(HSTRING *value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override {
    *value = kCharacteristic;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) override {
    *value = 0x21;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PresentationFormats(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadValueAsync(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(INT32, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE WriteValueAsync(IBuffer *, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE WriteValueWithOptionAsync(IBuffer *, INT32, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadClientCharacteristicConfigurationDescriptorAsync(IInspectable **) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(
      INT32 value, IAsyncOperation<GattCommunicationStatusAbi> **operation) override {
    const auto answer = link_->Reach("WriteClientCharacteristicConfigurationDescriptorAsync", false);
    return Start(
        operation, "WriteClientCharacteristicConfigurationDescriptorAsync",
        [&] {
          if (answer.status == 0) notifying_ = value == 1;
          return GattCommunicationStatusAbi{answer.status};
        },
        answer.delay);
  }
  HRESULT STDMETHODCALLTYPE add_ValueChanged(ValueChangedHandler *handler, EventRegistrationToken *token) override {
    return valueChanged_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventRegistrationToken token) override {
    return valueChanged_.Remove(token, this, [this](ValueChangedHandler *handler) {
      auto *args = new ValueChangedArgs({0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}); // a trigger packet
      handler->Invoke(static_cast<IGattCharacteristic *>(this), static_cast<IGattValueChangedEventArgs *>(args));
      args->Release();
    });
  }

  bool Subscribed() { return notifying_ && !valueChanged_.Empty(); }
  long Handlers() { return valueChanged_.Size(); }
  void Notify(std::vector<BYTE> bytes) {
    auto *args = new ValueChangedArgs(std::move(bytes));
    valueChanged_.Raise(static_cast<IGattCharacteristic *>(this), static_cast<IGattValueChangedEventArgs *>(args));
    args->Release();
  }

private:
  std::shared_ptr<DeviceLink> link_;
  UINT64 address_;
  std::atomic<bool> notifying_{false};
  EventSource<ValueChangedHandler> valueChanged_;
};

// A GATT result: its status, no protocol error, and a list of the pistol's
// one Item (implemented by ItemObject), empty unless the status is Success.
template <class I, class Item, class ItemObject> class GattResult : public Implements<I> {
public:
  GattResult(std::shared_ptr<DeviceLink> link, INT32 status) : link_(std::move(link)), status_(status) {}
  HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) override {
    *value = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) override {
    *value = nullptr;
    return S_OK;
  }

protected:
  HRESULT List(IVectorView<Item *> **value) {
    std::vector<Item *> items;
    if (status_ == 0) items.push_back(new ItemObject(link_));
    *value = new Vector<Item>(std::move(items));
    return S_OK;
  }

private:
  std::shared_ptr<DeviceLink> link_;
  INT32 status_;
};

class CharacteristicsResult final : public GattResult<IGattCharacteristicsResult, IGattCharacteristic, Characteristic> {
public:
  using GattResult::GattResult;
  HRESULT STDMETHODCALLTYPE get_Characteristics(IVectorView<IGattCharacteristic *> **value) override {
    return List(value);
  }
};

class Service final : public Implements<IGattDeviceService, IGattDeviceService3> {
public:
  explicit Service(std::shared_ptr<DeviceLink> link) : link_(std::move(link)) {}
  HRESULT STDMETHODCALLTYPE GetCharacteristics(GUID, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIncludedServices(GUID, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override {
    *value = kService;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) override {
    *value = 0x20;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Session(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_SharingMode(INT32 *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenAsync(INT32, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  GetCharacteristicsAsync(IAsyncOperation<IGattCharacteristicsResult *> **operation) override {
    return List(operation);
  }
  HRESULT STDMETHODCALLTYPE GetCharacteristicsWithCacheModeAsync(
      INT32 cacheMode, IAsyncOperation<IGattCharacteristicsResult *> **operation) override {
    if (cacheMode == 1) ++uncachedCalls;
    return List(operation);
  }

private:
  HRESULT List(IAsyncOperation<IGattCharacteristicsResult *> **operation) {
    const auto answer = link_->Reach("GetCharacteristicsAsync", false);
    return Start(
        operation, "GetCharacteristicsAsync",
        [&]() -> IGattCharacteristicsResult * { return new CharacteristicsResult(link_, answer.status); },
        answer.delay);
  }

  std::shared_ptr<DeviceLink> link_;
};

class ServicesResult final : public GattResult<IGattDeviceServicesResult, IGattDeviceService, Service> {
public:
  using GattResult::GattResult;
  HRESULT STDMETHODCALLTYPE get_Services(IVectorView<IGattDeviceService *> **value) override { return List(value); }
};

} // namespace fake
