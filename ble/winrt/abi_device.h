#pragma once

// The device, reached by address, with its connection status and services.

#include "ble/winrt/abi_gatt.h"
#include "ble/winrt/abi_generic.h"

namespace winrt_abi {

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
  virtual HRESULT STDMETHODCALLTYPE
  GetGattServicesWithCacheModeAsync(INT32 cacheMode, IAsyncOperation<IGattDeviceServicesResult *> **operation) = 0;
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

// The parameterized instances the backend meets, and their argument.
#define VK5_SIG_DEVICE VK5_RC("Windows.Devices.Bluetooth.BluetoothLEDevice", "b5ee2f7b-4ad8-4642-ac48-80a0b500e887")

template <>
inline constexpr GUID iid_of<IAsyncOperation<IBluetoothLEDevice *>> = ParameterizedIid(VK5_IAO(VK5_SIG_DEVICE));
template <>
inline constexpr GUID
    iid_of<IAsyncOperationCompletedHandler<IBluetoothLEDevice *>> = ParameterizedIid(VK5_AOCH(VK5_SIG_DEVICE));
template <>
inline constexpr GUID iid_of<DeviceEventHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_DEVICE,
                                                                            "cinterface(IInspectable)"));

// The runtime class name.
inline constexpr wchar_t kBluetoothLEDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";

} // namespace winrt_abi
