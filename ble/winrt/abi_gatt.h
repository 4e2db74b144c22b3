#pragma once

// The GATT client: services, characteristics, their results and the value
// notifications.

#include "ble/winrt/abi_generic.h"
#include "ble/winrt/abi_streams.h"

namespace winrt_abi {

// Stand-ins for the runtime enums as results of generic interfaces, 4 bytes each.
enum class GattCommunicationStatusAbi : INT32 {};

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
  virtual HRESULT STDMETHODCALLTYPE
  GetCharacteristicsWithCacheModeAsync(INT32 cacheMode, IAsyncOperation<IGattCharacteristicsResult *> **operation) = 0;
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

// The parameterized instances the backend meets, and their arguments.
#define VK5_SIG_SERVICES_RESULT                                                                                        \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceServicesResult",                                 \
         "171dd3ee-016d-419d-838a-576cf475a3d8")
#define VK5_SIG_CHARACTERISTICS_RESULT                                                                                 \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristicsResult",                                \
         "1194945c-b257-4f3e-9db7-f68bc9a9aef2")
#define VK5_SIG_COMMUNICATION_STATUS                                                                                   \
  "enum(Windows.Devices.Bluetooth.GenericAttributeProfile.GattCommunicationStatus;i4)"
#define VK5_SIG_CHARACTERISTIC                                                                                         \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristic", "59cb50c1-5934-4f68-a198-"            \
                                                                                 "eb864fa44e6b")
#define VK5_SIG_VALUE_CHANGED_ARGS                                                                                     \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattValueChangedEventArgs",                                \
         "d21bdb54-06e3-4ed8-a263-acfac8ba7313")
#define VK5_SIG_SERVICE                                                                                                \
  VK5_RC("Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceService", "ac7b7c05-b33c-47cf-990f-"             \
                                                                                "6b8f5577df71")
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
inline constexpr GUID iid_of<ValueChangedHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_CHARACTERISTIC,
                                                                             VK5_SIG_VALUE_CHANGED_ARGS));
template <>
inline constexpr GUID iid_of<IVectorView<IGattDeviceService *>> = ParameterizedIid(VK5_IVV(VK5_SIG_SERVICE));
template <>
inline constexpr GUID iid_of<IVectorView<IGattCharacteristic *>> = ParameterizedIid(VK5_IVV(VK5_SIG_CHARACTERISTIC));

} // namespace winrt_abi
