#pragma once

// The Windows Runtime interfaces the Bluetooth backend calls, declared on the
// raw ABI: vtable order, __stdcall, HRESULT results, out-parameters last.
// mingw-w64 gives only IInspectable, IActivationFactory, IBuffer and the
// event token; everything else is declared here. Interfaces list only the
// methods up to the last one called; later slots are left out.

#include <cstdint>

#include "support/win32/com_ptr.h"
#include "support/win32/parameterized_iid.h"

#include <activation.h>
#include <eventtoken.h>
#include <windows.storage.streams.h>

namespace winrt_abi {

using ABI::Windows::Storage::Streams::IBuffer;

struct TimeSpan {
  INT64 Duration;
};
struct DateTime {
  INT64 UniversalTime;
};

// Stand-ins for the runtime enums as results of generic interfaces, 4 bytes each.
enum class GattCommunicationStatusAbi : INT32 {};

template <class I> inline constexpr GUID iid_of{};

// ---------------------------------------------------------------- generic

struct IAsyncInfo : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(INT32 *status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *errorCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
template <>
inline constexpr GUID iid_of<IAsyncInfo>{0x00000036, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IClosable : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
template <>
inline constexpr GUID iid_of<IClosable>{0x30d5a829, 0x7fa4, 0x4026, {0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e}};

template <class TAbi> struct IAsyncOperation;

// AsyncOperationCompletedHandler<T>
template <class TAbi> struct IAsyncOperationCompletedHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation<TAbi> *asyncInfo, INT32 status) = 0;
};

template <class TAbi> struct IAsyncOperation : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncOperationCompletedHandler<TAbi> *handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncOperationCompletedHandler<TAbi> **handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(TAbi *results) = 0;
};

template <class TSender, class TArgs> struct ITypedEventHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(TSender sender, TArgs args) = 0;
};

template <class TAbi> struct IVectorView : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, TAbi *item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) = 0;
  virtual HRESULT STDMETHODCALLTYPE IndexOf(TAbi value, UINT32 *index, boolean *found) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 startIndex, UINT32 capacity, TAbi *items, UINT32 *actual) = 0;
};

// Read the bytes of an IBuffer directly (the fake's DataReader does).
struct IBufferByteAccess : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Buffer(BYTE **value) = 0;
};
template <>
inline constexpr GUID iid_of<IBufferByteAccess>{
    0x905a0fef, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
template <>
inline constexpr GUID iid_of<IBuffer>{0x905a0fe0, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};

// ---------------------------------------------------------------- advertisement

struct IBluetoothLEAdvertisement : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Flags(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Flags(IInspectable *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_LocalName(HSTRING value) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEAdvertisement>{
    0x066fb2b7, 0x33d1, 0x4e7d, {0x83, 0x67, 0xcf, 0x81, 0xd0, 0xf7, 0x96, 0x53}};

struct IBluetoothLEAdvertisementReceivedEventArgs : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(INT16 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AdvertisementType(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Advertisement(IBluetoothLEAdvertisement **value) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEAdvertisementReceivedEventArgs>{
    0x27987ddf, 0xe596, 0x41be, {0x8d, 0x43, 0x9e, 0x67, 0x31, 0xd4, 0xa9, 0x13}};

struct IBluetoothLEAdvertisementWatcherStoppedEventArgs : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Error(INT32 *value) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEAdvertisementWatcherStoppedEventArgs>{
    0xdd40f84d, 0xe7b9, 0x43e3, {0x9c, 0x04, 0x06, 0x85, 0xd0, 0x85, 0xfd, 0x8c}};

struct IBluetoothLEAdvertisementWatcher;
using WatcherReceivedHandler =
    ITypedEventHandler<IBluetoothLEAdvertisementWatcher *, IBluetoothLEAdvertisementReceivedEventArgs *>;
using WatcherStoppedHandler =
    ITypedEventHandler<IBluetoothLEAdvertisementWatcher *, IBluetoothLEAdvertisementWatcherStoppedEventArgs *>;

struct IBluetoothLEAdvertisementWatcher : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_MinSamplingInterval(TimeSpan *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MaxSamplingInterval(TimeSpan *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MinOutOfRangeTimeout(TimeSpan *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MaxOutOfRangeTimeout(TimeSpan *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ScanningMode(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ScanningMode(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SignalStrengthFilter(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SignalStrengthFilter(IInspectable *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AdvertisementFilter(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AdvertisementFilter(IInspectable *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start() = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Received(WatcherReceivedHandler *handler, EventRegistrationToken *token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Received(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Stopped(WatcherStoppedHandler *handler, EventRegistrationToken *token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Stopped(EventRegistrationToken token) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEAdvertisementWatcher>{
    0xa6ac336f, 0xf3d3, 0x4297, {0x8d, 0x6c, 0xc8, 0x1e, 0xa6, 0x62, 0x3f, 0x40}};

// ---------------------------------------------------------------- GATT

struct IGattValueChangedEventArgs : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_CharacteristicValue(IBuffer **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) = 0;
};
template <>
inline constexpr GUID iid_of<IGattValueChangedEventArgs>{
    0xd21bdb54, 0x06e3, 0x4ed8, {0xa2, 0x63, 0xac, 0xfa, 0xc8, 0xba, 0x73, 0x13}};

struct IGattCharacteristic;
using ValueChangedHandler = ITypedEventHandler<IGattCharacteristic *, IGattValueChangedEventArgs *>;

struct IGattCharacteristic : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetDescriptors(GUID descriptorUuid, IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CharacteristicProperties(UINT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProtectionLevel(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProtectionLevel(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserDescription(HSTRING *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PresentationFormats(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadValueAsync(IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(INT32 cacheMode, IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteValueAsync(IBuffer *value, IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteValueWithOptionAsync(IBuffer *value, INT32 option,
                                                              IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadClientCharacteristicConfigurationDescriptorAsync(IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(
      INT32 value, IAsyncOperation<GattCommunicationStatusAbi> **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ValueChanged(ValueChangedHandler *handler, EventRegistrationToken *token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventRegistrationToken token) = 0;
};
template <>
inline constexpr GUID iid_of<IGattCharacteristic>{
    0x59cb50c1, 0x5934, 0x4f68, {0xa1, 0x98, 0xeb, 0x86, 0x4f, 0xa4, 0x4e, 0x6b}};

struct IGattCharacteristicsResult : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Characteristics(IVectorView<IGattCharacteristic *> **value) = 0;
};
template <>
inline constexpr GUID iid_of<IGattCharacteristicsResult>{
    0x1194945c, 0xb257, 0x4f3e, {0x9d, 0xb7, 0xf6, 0x8b, 0xc9, 0xa9, 0xae, 0xf2}};

struct IGattDeviceService : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(GUID characteristicUuid, IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIncludedServices(GUID serviceUuid, IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) = 0;
};
template <>
inline constexpr GUID iid_of<IGattDeviceService>{
    0xac7b7c05, 0xb33c, 0x47cf, {0x99, 0x0f, 0x6b, 0x8f, 0x55, 0x77, 0xdf, 0x71}};

struct IGattDeviceService3 : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Session(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SharingMode(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenAsync(INT32 sharingMode, IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetCharacteristicsAsync(IAsyncOperation<IGattCharacteristicsResult *> **operation) = 0;
};
template <>
inline constexpr GUID iid_of<IGattDeviceService3>{
    0xb293a950, 0x0c53, 0x437c, {0xa9, 0xb3, 0x5c, 0x32, 0x10, 0xc6, 0xe5, 0x69}};

struct IGattDeviceServicesResult : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Services(IVectorView<IGattDeviceService *> **value) = 0;
};
template <>
inline constexpr GUID iid_of<IGattDeviceServicesResult>{
    0x171dd3ee, 0x016d, 0x419d, {0x83, 0x8a, 0x57, 0x6c, 0xf4, 0x75, 0xa3, 0xd8}};

// ---------------------------------------------------------------- device

struct IBluetoothLEDevice;
using DeviceEventHandler = ITypedEventHandler<IBluetoothLEDevice *, IInspectable *>;

struct IBluetoothLEDevice : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_GattServices(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ConnectionStatus(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGattService(GUID serviceUuid, IGattDeviceService **service) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_NameChanged(DeviceEventHandler *handler, EventRegistrationToken *token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NameChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_GattServicesChanged(DeviceEventHandler *handler,
                                                            EventRegistrationToken *token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_GattServicesChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(DeviceEventHandler *handler,
                                                                EventRegistrationToken *token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventRegistrationToken token) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEDevice>{
    0xb5ee2f7b, 0x4ad8, 0x4642, {0xac, 0x48, 0x80, 0xa0, 0xb5, 0x00, 0xe8, 0x87}};

struct IBluetoothLEDevice3 : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **value) = 0;
  virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGattServicesAsync(IAsyncOperation<IGattDeviceServicesResult *> **operation) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEDevice3>{
    0xaee9e493, 0x44ac, 0x40dc, {0xaf, 0x33, 0xb2, 0xc1, 0x3c, 0x01, 0xca, 0x46}};

struct IBluetoothLEDeviceStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING deviceId,
                                                IAsyncOperation<IBluetoothLEDevice *> **operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 address,
                                                              IAsyncOperation<IBluetoothLEDevice *> **operation) = 0;
};
template <>
inline constexpr GUID iid_of<IBluetoothLEDeviceStatics>{
    0xc8cf1a19, 0xf0b6, 0x4bf0, {0x86, 0x89, 0x41, 0x30, 0x3d, 0xe2, 0xd9, 0xf4}};

// ---------------------------------------------------------------- streams

struct IDataReader : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadByte(BYTE *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 count, BYTE *value) = 0;
};
template <>
inline constexpr GUID iid_of<IDataReader>{0xe2b50029, 0xb4c1, 0x4314, {0xa4, 0xb8, 0xfb, 0x81, 0x3a, 0x2f, 0x27, 0x5e}};

struct IDataReaderStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE FromBuffer(IBuffer *buffer, IDataReader **reader) = 0;
};
template <>
inline constexpr GUID iid_of<IDataReaderStatics>{
    0x11fcbfc8, 0xf93a, 0x471b, {0xb1, 0x21, 0xf3, 0x79, 0xe3, 0x49, 0x31, 0x3c}};

// ---------------------------------------------------------------- parameterized instances

// Type signatures of the arguments, and of each instance the backend meets.
#define VK5_RC(name, iid) "rc(" name ";{" iid "})"
#define VK5_SIG_DEVICE VK5_RC("Windows.Devices.Bluetooth.BluetoothLEDevice", "b5ee2f7b-4ad8-4642-ac48-80a0b500e887")
#define VK5_SIG_SERVICES_RESULT                                                                                        \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceServicesResult",                                 \
         "171dd3ee-016d-419d-838a-576cf475a3d8")
#define VK5_SIG_CHARACTERISTICS_RESULT                                                                                 \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristicsResult",                                \
         "1194945c-b257-4f3e-9db7-f68bc9a9aef2")
#define VK5_SIG_COMMUNICATION_STATUS                                                                                   \
  "enum(Windows.Devices.Bluetooth.GenericAttributeProfile.GattCommunicationStatus;i4)"
#define VK5_SIG_WATCHER                                                                                                \
  VK5_RC("Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher",                                    \
         "a6ac336f-f3d3-4297-8d6c-c81ea6623f40")
#define VK5_SIG_RECEIVED_ARGS                                                                                          \
  VK5_RC("Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementReceivedEventArgs",                          \
         "27987ddf-e596-41be-8d43-9e6731d4a913")
#define VK5_SIG_STOPPED_ARGS                                                                                           \
  VK5_RC("Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcherStoppedEventArgs",                    \
         "dd40f84d-e7b9-43e3-9c04-0685d085fd8c")
#define VK5_SIG_CHARACTERISTIC                                                                                         \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristic", "59cb50c1-5934-4f68-a198-"            \
                                                                                 "eb864fa44e6b")
#define VK5_SIG_VALUE_CHANGED_ARGS                                                                                     \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattValueChangedEventArgs",                                \
         "d21bdb54-06e3-4ed8-a263-acfac8ba7313")
#define VK5_SIG_SERVICE                                                                                                \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceService", "ac7b7c05-b33c-47cf-990f-"             \
                                                                                "6b8f5577df71")
#define VK5_IAO(arg) "pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};" arg ")"
#define VK5_AOCH(arg) "pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};" arg ")"
#define VK5_TEH(sender, args) "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};" sender ";" args ")"
#define VK5_IVV(arg) "pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};" arg ")"

template <>
inline constexpr GUID iid_of<IAsyncOperation<IBluetoothLEDevice *>> = ParameterizedIid(VK5_IAO(VK5_SIG_DEVICE));
template <>
inline constexpr GUID
    iid_of<IAsyncOperationCompletedHandler<IBluetoothLEDevice *>> = ParameterizedIid(VK5_AOCH(VK5_SIG_DEVICE));
template <>
inline constexpr GUID
    iid_of<IAsyncOperation<IGattDeviceServicesResult *>> = ParameterizedIid(VK5_IAO(VK5_SIG_SERVICES_RESULT));
template <>
inline constexpr GUID iid_of<IAsyncOperationCompletedHandler<IGattDeviceServicesResult *>> =
    ParameterizedIid(VK5_AOCH(VK5_SIG_SERVICES_RESULT));
template <>
inline constexpr GUID
    iid_of<IAsyncOperation<IGattCharacteristicsResult *>> = ParameterizedIid(VK5_IAO(VK5_SIG_CHARACTERISTICS_RESULT));
template <>
inline constexpr GUID iid_of<IAsyncOperationCompletedHandler<IGattCharacteristicsResult *>> =
    ParameterizedIid(VK5_AOCH(VK5_SIG_CHARACTERISTICS_RESULT));
template <>
inline constexpr GUID
    iid_of<IAsyncOperation<GattCommunicationStatusAbi>> = ParameterizedIid(VK5_IAO(VK5_SIG_COMMUNICATION_STATUS));
template <>
inline constexpr GUID iid_of<IAsyncOperationCompletedHandler<GattCommunicationStatusAbi>> =
    ParameterizedIid(VK5_AOCH(VK5_SIG_COMMUNICATION_STATUS));
template <>
inline constexpr GUID iid_of<WatcherReceivedHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_WATCHER,
                                                                                VK5_SIG_RECEIVED_ARGS));
template <>
inline constexpr GUID iid_of<WatcherStoppedHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_WATCHER, VK5_SIG_STOPPED_ARGS));
template <>
inline constexpr GUID iid_of<DeviceEventHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_DEVICE,
                                                                            "cinterface(IInspectable)"));
template <>
inline constexpr GUID iid_of<ValueChangedHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_CHARACTERISTIC,
                                                                             VK5_SIG_VALUE_CHANGED_ARGS));
template <>
inline constexpr GUID iid_of<IVectorView<IGattDeviceService *>> = ParameterizedIid(VK5_IVV(VK5_SIG_SERVICE));
template <>
inline constexpr GUID iid_of<IVectorView<IGattCharacteristic *>> = ParameterizedIid(VK5_IVV(VK5_SIG_CHARACTERISTIC));

// Runtime class names.
inline constexpr wchar_t kBluetoothLEDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";
inline constexpr wchar_t kAdvertisementWatcherClass[] =
    L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";
inline constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";

} // namespace winrt_abi
