#include "ble/winrt/winrt_adapter.h"

#include <memory>
#include <utility>

#include "ble/winrt/abi.h"
#include "ble/winrt/delegate.h"
#include "support/win32/guid_conversion.h"

namespace ble::winrt {
namespace {

using namespace winrt_abi;

FactorySlot deviceStatics{kBluetoothLEDeviceClass, iid_of<IBluetoothLEDeviceStatics>};
FactorySlot watcherFactory{kAdvertisementWatcherClass, kIidIActivationFactory};
FactorySlot dataReaderStatics{kDataReaderClass, iid_of<IDataReaderStatics>};

EventToken ToToken(EventRegistrationToken token) {
  return EventToken{token.value};
}
EventRegistrationToken ToAbi(EventToken token) {
  return EventRegistrationToken{token.value};
}

std::u16string Text(HRESULT (STDMETHODCALLTYPE IBluetoothLEAdvertisement::*get)(HSTRING *),
                    IBluetoothLEAdvertisement *object) {
  hstring text;
  check((object->*get)(text.put()));
  return text.u16();
}

// ------------------------------------------------------------ operations

// One of the runtime's asynchronous operations in the shared operation model.
template <class T, class TAbi> class Operation final : public AsyncOperation<T> {
public:
  using Convert = T (*)(TAbi raw);

  Operation(com_ptr<IAsyncOperation<TAbi>> operation, Convert convert)
      : operation_(std::move(operation)), info_(operation_.template as<IAsyncInfo>(iid_of<IAsyncInfo>)),
        convert_(convert) {}

  ~Operation() override {
    // Closing frees the platform's result; an operation still running is left alone.
    INT32 status = 0;
    if (info_->get_Status(&status) >= 0 && status != static_cast<INT32>(AsyncStatus::Started)) info_->Close();
  }

  AsyncStatus Status() override {
    INT32 status = 0;
    check(info_->get_Status(&status));
    return static_cast<AsyncStatus>(status);
  }

  HRESULT ErrorCode() override {
    HRESULT code = kSOk;
    check(info_->get_ErrorCode(&code));
    return code;
  }

  void Cancel() override { check(info_->Cancel()); }

  void Completed(std::shared_ptr<AsyncCompletedHandler> handler) override {
    if (!handler) throw hresult_invalid_argument();
    auto delegate = MakeDelegate<IAsyncOperationCompletedHandler<TAbi>, IAsyncOperation<TAbi> *, INT32>(
        [handler = std::move(handler)](IAsyncOperation<TAbi> *, INT32 status) {
          check(handler->Invoke(static_cast<AsyncStatus>(status)));
        });
    check(operation_->put_Completed(delegate.get()));
  }

  HRESULT GetResults(T &result) override {
    TAbi raw{};
    const HRESULT code = operation_->GetResults(&raw);
    if (code < 0) return code;
    try {
      result = convert_(raw);
    } catch (...) {
      return current_failure_code();
    }
    return kSOk;
  }

private:
  com_ptr<IAsyncOperation<TAbi>> operation_;
  com_ptr<IAsyncInfo> info_;
  Convert convert_;
};

template <class T, class TAbi>
AsyncOperationPtr<T> WrapOperation(IAsyncOperation<TAbi> *raw, typename Operation<T, TAbi>::Convert convert) {
  auto operation = com_ptr<IAsyncOperation<TAbi>>::attach(raw);
  if (!operation) raise_platform_error(kEFail);
  return std::make_shared<Operation<T, TAbi>>(std::move(operation), convert);
}

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
    dataReaderStatics.Use<IDataReaderStatics>(
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

std::shared_ptr<GattDeviceServicesResult> ToServicesResult(IGattDeviceServicesResult *raw) {
  auto result = com_ptr<IGattDeviceServicesResult>::attach(raw);
  if (!result) raise_platform_error(kEFail);
  return std::make_shared<WinrtServicesResult>(std::move(result));
}

// ------------------------------------------------------------ device

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

  void Close() override { check(device_.as<IClosable>(iid_of<IClosable>)->Close()); }

private:
  com_ptr<IBluetoothLEDevice> device_;
};

std::shared_ptr<BluetoothLEDevice> ToDevice(IBluetoothLEDevice *raw) {
  // No device for the address is a result, not a failure.
  if (!raw) return nullptr;
  return std::make_shared<WinrtDevice>(com_ptr<IBluetoothLEDevice>::attach(raw));
}

// ------------------------------------------------------------ advertisement watcher

class WinrtAdvertisement final : public BluetoothLEAdvertisement {
public:
  explicit WinrtAdvertisement(com_ptr<IBluetoothLEAdvertisement> advertisement)
      : advertisement_(std::move(advertisement)) {}
  std::u16string LocalName() override { return Text(&IBluetoothLEAdvertisement::get_LocalName, advertisement_.get()); }

private:
  com_ptr<IBluetoothLEAdvertisement> advertisement_;
};

class WinrtReceivedArgs final : public BluetoothLEAdvertisementReceivedEventArgs {
public:
  explicit WinrtReceivedArgs(IBluetoothLEAdvertisementReceivedEventArgs *args) : args_(args) {}
  std::shared_ptr<BluetoothLEAdvertisement> Advertisement() override {
    com_ptr<IBluetoothLEAdvertisement> advertisement;
    check(args_->get_Advertisement(advertisement.put()));
    if (!advertisement) raise_platform_error(kEFail);
    return std::make_shared<WinrtAdvertisement>(std::move(advertisement));
  }
  std::uint64_t BluetoothAddress() override {
    UINT64 address = 0;
    check(args_->get_BluetoothAddress(&address));
    return address;
  }

private:
  IBluetoothLEAdvertisementReceivedEventArgs *args_; // valid for the invocation
};

class WinrtStoppedArgs final : public BluetoothLEAdvertisementWatcherStoppedEventArgs {
public:
  explicit WinrtStoppedArgs(IBluetoothLEAdvertisementWatcherStoppedEventArgs *args) : args_(args) {}
  BluetoothError Error() override {
    INT32 error = 0;
    check(args_->get_Error(&error));
    return static_cast<BluetoothError>(error);
  }

private:
  IBluetoothLEAdvertisementWatcherStoppedEventArgs *args_; // valid for the invocation
};

class WinrtWatcher final : public BluetoothLEAdvertisementWatcher {
public:
  explicit WinrtWatcher(com_ptr<IBluetoothLEAdvertisementWatcher> watcher) : watcher_(std::move(watcher)) {}

  void ScanningMode(BluetoothLEScanningMode mode) override {
    check(watcher_->put_ScanningMode(static_cast<INT32>(mode)));
  }

  EventToken Received(ReceivedHandler handler) override {
    auto delegate = MakeDelegate<WatcherReceivedHandler, IBluetoothLEAdvertisementWatcher *,
                                 IBluetoothLEAdvertisementReceivedEventArgs *>(
        [handler = std::move(handler)](IBluetoothLEAdvertisementWatcher *sender,
                                       IBluetoothLEAdvertisementReceivedEventArgs *args) {
          WinrtWatcher senderView(com_ptr<IBluetoothLEAdvertisementWatcher>::borrow(sender));
          WinrtReceivedArgs argsView(args);
          handler(senderView, argsView);
        });
    EventRegistrationToken token{};
    check(watcher_->add_Received(delegate.get(), &token));
    return ToToken(token);
  }
  void Received(EventToken token) override { check(watcher_->remove_Received(ToAbi(token))); }

  EventToken Stopped(StoppedHandler handler) override {
    auto delegate = MakeDelegate<WatcherStoppedHandler, IBluetoothLEAdvertisementWatcher *,
                                 IBluetoothLEAdvertisementWatcherStoppedEventArgs *>(
        [handler = std::move(handler)](IBluetoothLEAdvertisementWatcher *sender,
                                       IBluetoothLEAdvertisementWatcherStoppedEventArgs *args) {
          WinrtWatcher senderView(com_ptr<IBluetoothLEAdvertisementWatcher>::borrow(sender));
          WinrtStoppedArgs argsView(args);
          handler(senderView, argsView);
        });
    EventRegistrationToken token{};
    check(watcher_->add_Stopped(delegate.get(), &token));
    return ToToken(token);
  }
  void Stopped(EventToken token) override { check(watcher_->remove_Stopped(ToAbi(token))); }

  void Start() override { check(watcher_->Start()); }
  void Stop() override { check(watcher_->Stop()); }

private:
  com_ptr<IBluetoothLEAdvertisementWatcher> watcher_;
};

class Backend final : public Adapter {
public:
  std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() override {
    com_ptr<IInspectable> instance;
    watcherFactory.Use<IActivationFactory>(
        [&](IActivationFactory *factory) { check(factory->ActivateInstance(instance.put())); });
    if (!instance) raise_platform_error(kENoInterface);
    return std::make_shared<WinrtWatcher>(
        instance.as<IBluetoothLEAdvertisementWatcher>(iid_of<IBluetoothLEAdvertisementWatcher>));
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
