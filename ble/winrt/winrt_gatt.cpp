#include "ble/winrt/winrt_gatt.h"

#include <memory>
#include <span>
#include <utility>

#include "ble/winrt/winrt_adapter.h"
#include "ble/winrt/winrt_operations.h"
#include "support/win32/guid_conversion.h"

namespace ble::winrt {
namespace {

using namespace winrt_abi;

// ------------------------------------------------------------ lists

template <class T, class TAbi, class Wrap> class Vector final : public VectorView<std::shared_ptr<T>> {
public:
  explicit Vector(com_ptr<IVectorView<TAbi *>> view) : view_(std::move(view)) {}
  std::uint32_t Size() override {
    UINT32 size = 0;
    check(view_->get_Size(&size));
    return size;
  }
  std::shared_ptr<T> GetAt(std::uint32_t index) override {
    com_ptr<TAbi> item;
    check(view_->GetAt(index, item.put()));
    return std::make_shared<Wrap>(std::move(item));
  }

private:
  com_ptr<IVectorView<TAbi *>> view_;
};

// ------------------------------------------------------------ streams

class WinrtDataReader final : public DataReader {
public:
  explicit WinrtDataReader(com_ptr<IDataReader> reader) : reader_(std::move(reader)) {}
  ~WinrtDataReader() override {
    if (auto closable = reader_.try_as<IClosable>(iid_of<IClosable>)) closable->Close();
  }
  std::uint32_t UnconsumedBufferLength() override {
    UINT32 length = 0;
    check(reader_->get_UnconsumedBufferLength(&length));
    return length;
  }
  void ReadBytes(std::span<std::uint8_t> bytes) override {
    check(reader_->ReadBytes(static_cast<UINT32>(bytes.size()), bytes.data()));
  }

private:
  com_ptr<IDataReader> reader_;
};

class WinrtBuffer final : public IBuffer {
public:
  explicit WinrtBuffer(com_ptr<winrt_abi::IBuffer> buffer) : buffer_(std::move(buffer)) {}
  std::shared_ptr<DataReader> CreateDataReader() override {
    com_ptr<IDataReader> reader;
    DataReaderStaticsSlot().Use<IDataReaderStatics>(
        [&](IDataReaderStatics *statics) { check(statics->FromBuffer(buffer_.get(), reader.put())); });
    if (!reader) raise_platform_error(kEFail);
    return std::make_shared<WinrtDataReader>(std::move(reader));
  }

private:
  com_ptr<winrt_abi::IBuffer> buffer_;
};

// ------------------------------------------------------------ GATT

class WinrtValueChangedArgs final : public GattValueChangedEventArgs {
public:
  explicit WinrtValueChangedArgs(IGattValueChangedEventArgs *args) : args_(args) {}
  std::shared_ptr<IBuffer> CharacteristicValue() override {
    com_ptr<winrt_abi::IBuffer> buffer;
    check(args_->get_CharacteristicValue(buffer.put()));
    if (!buffer) raise_platform_error(kEFail);
    return std::make_shared<WinrtBuffer>(std::move(buffer));
  }

private:
  IGattValueChangedEventArgs *args_; // valid for the invocation
};

class WinrtCharacteristic final : public GattCharacteristic {
public:
  explicit WinrtCharacteristic(com_ptr<IGattCharacteristic> characteristic)
      : characteristic_(std::move(characteristic)) {}

  Guid Uuid() override {
    GUID uuid{};
    check(characteristic_->get_Uuid(&uuid));
    return FromSystemGuid(uuid);
  }

  EventToken ValueChanged(ValueChangedHandler handler) override {
    auto delegate = MakeDelegate<winrt_abi::ValueChangedHandler, IGattCharacteristic *, IGattValueChangedEventArgs *>(
        [handler = std::move(handler)](IGattCharacteristic *sender, IGattValueChangedEventArgs *args) {
          WinrtCharacteristic senderView(com_ptr<IGattCharacteristic>::borrow(sender));
          WinrtValueChangedArgs argsView(args);
          handler(senderView, argsView);
        });
    EventRegistrationToken token{};
    check(characteristic_->add_ValueChanged(delegate.get(), &token));
    return ToToken(token);
  }

  void ValueChanged(EventToken token) override { check(characteristic_->remove_ValueChanged(ToAbi(token))); }

  AsyncOperationPtr<GattCommunicationStatus> WriteClientCharacteristicConfigurationDescriptorAsync(
      GattClientCharacteristicConfigurationDescriptorValue value) override {
    IAsyncOperation<GattCommunicationStatusAbi> *raw = nullptr;
    check(characteristic_->WriteClientCharacteristicConfigurationDescriptorAsync(static_cast<INT32>(value), &raw));
    return WrapOperation<GattCommunicationStatus>(
        raw, [](GattCommunicationStatusAbi status) { return static_cast<GattCommunicationStatus>(status); });
  }

private:
  com_ptr<IGattCharacteristic> characteristic_;
};

class WinrtCharacteristicsResult final : public GattCharacteristicsResult {
public:
  explicit WinrtCharacteristicsResult(com_ptr<IGattCharacteristicsResult> result) : result_(std::move(result)) {}
  GattCommunicationStatus Status() override {
    INT32 status = 0;
    check(result_->get_Status(&status));
    return static_cast<GattCommunicationStatus>(status);
  }
  std::shared_ptr<VectorView<std::shared_ptr<GattCharacteristic>>> Characteristics() override {
    com_ptr<IVectorView<IGattCharacteristic *>> view;
    check(result_->get_Characteristics(view.put()));
    if (!view) raise_platform_error(kEFail);
    return std::make_shared<Vector<GattCharacteristic, IGattCharacteristic, WinrtCharacteristic>>(std::move(view));
  }

private:
  com_ptr<IGattCharacteristicsResult> result_;
};

std::shared_ptr<GattCharacteristicsResult> ToCharacteristicsResult(IGattCharacteristicsResult *raw) {
  auto result = com_ptr<IGattCharacteristicsResult>::attach(raw);
  if (!result) raise_platform_error(kEFail);
  return std::make_shared<WinrtCharacteristicsResult>(std::move(result));
}

class WinrtService final : public GattDeviceService {
public:
  explicit WinrtService(com_ptr<IGattDeviceService> service) : service_(std::move(service)) {}
  Guid Uuid() override {
    GUID uuid{};
    check(service_->get_Uuid(&uuid));
    return FromSystemGuid(uuid);
  }
  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>> GetCharacteristicsAsync() override {
    auto service3 = service_.as<IGattDeviceService3>(iid_of<IGattDeviceService3>);
    IAsyncOperation<IGattCharacteristicsResult *> *raw = nullptr;
    check(service3->GetCharacteristicsAsync(&raw));
    return WrapOperation<std::shared_ptr<GattCharacteristicsResult>>(raw, &ToCharacteristicsResult);
  }
  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>>
  GetCharacteristicsWithCacheModeAsync(BluetoothCacheMode mode) override {
    auto service3 = service_.as<IGattDeviceService3>(iid_of<IGattDeviceService3>);
    IAsyncOperation<IGattCharacteristicsResult *> *raw = nullptr;
    check(service3->GetCharacteristicsWithCacheModeAsync(static_cast<INT32>(mode), &raw));
    return WrapOperation<std::shared_ptr<GattCharacteristicsResult>>(raw, &ToCharacteristicsResult);
  }

private:
  com_ptr<IGattDeviceService> service_;
};

class WinrtServicesResult final : public GattDeviceServicesResult {
public:
  explicit WinrtServicesResult(com_ptr<IGattDeviceServicesResult> result) : result_(std::move(result)) {}
  GattCommunicationStatus Status() override {
    INT32 status = 0;
    check(result_->get_Status(&status));
    return static_cast<GattCommunicationStatus>(status);
  }
  std::shared_ptr<VectorView<std::shared_ptr<GattDeviceService>>> Services() override {
    com_ptr<IVectorView<IGattDeviceService *>> view;
    check(result_->get_Services(view.put()));
    if (!view) raise_platform_error(kEFail);
    return std::make_shared<Vector<GattDeviceService, IGattDeviceService, WinrtService>>(std::move(view));
  }

private:
  com_ptr<IGattDeviceServicesResult> result_;
};

} // namespace

std::shared_ptr<GattDeviceServicesResult> ToServicesResult(IGattDeviceServicesResult *raw) {
  auto result = com_ptr<IGattDeviceServicesResult>::attach(raw);
  if (!result) raise_platform_error(kEFail);
  return std::make_shared<WinrtServicesResult>(std::move(result));
}

} // namespace ble::winrt
