#pragma once

// The advertisement watcher, what it reports and the handlers it calls.

#include "ble/winrt/abi_generic.h"

namespace winrt_abi {

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

// The parameterized instances the backend meets, and their arguments.
#define VK5_SIG_WATCHER                                                                                                \
  VK5_RC("Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher",                                    \
         "a6ac336f-f3d3-4297-8d6c-c81ea6623f40")
#define VK5_SIG_RECEIVED_ARGS                                                                                          \
  VK5_RC("Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementReceivedEventArgs",                          \
         "27987ddf-e596-41be-8d43-9e6731d4a913")
#define VK5_SIG_STOPPED_ARGS                                                                                           \
  VK5_RC("Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcherStoppedEventArgs",                    \
         "dd40f84d-e7b9-43e3-9c04-0685d085fd8c")
template <>
inline constexpr GUID iid_of<WatcherReceivedHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_WATCHER,
                                                                                VK5_SIG_RECEIVED_ARGS));
template <>
inline constexpr GUID iid_of<WatcherStoppedHandler> = ParameterizedIid(VK5_TEH(VK5_SIG_WATCHER, VK5_SIG_STOPPED_ARGS));

// The runtime class name.
inline constexpr wchar_t kAdvertisementWatcherClass[] =
    L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";

} // namespace winrt_abi
