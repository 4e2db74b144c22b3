#pragma once

// The one translation from what BlueZ and the bus report into the failure
// codes the link sees. The codes, and why each was chosen:
//
// | Reported                                                    | Code       | Meaning kept               |
// |-------------------------------------------------------------|------------|----------------------------|
// | org.bluez.Error.NotPermitted, .NotAuthorized,               | 0x80070005 | E_ACCESSDENIED             |
// |   org.freedesktop.DBus.Error.AccessDenied                   |            |                            |
// | org.bluez.Error.NotReady (adapter powered off)              | 0x80070015 | ERROR_NOT_READY            |
// | org.bluez.Error.InProgress                                  | 0x800700AA | ERROR_BUSY                 |
// | org.bluez.Error.NotConnected                                | 0x8007048F | ERROR_DEVICE_NOT_CONNECTED |
// | org.bluez.Error.NotSupported                                | 0x80070032 | ERROR_NOT_SUPPORTED        |
// | org.bluez.Error.InvalidArguments, ...DBus.Error.InvalidArgs | 0x80070057 | E_INVALIDARG               |
// | org.bluez.Error.DoesNotExist, ...DBus.Error.UnknownObject,  | 0x80070490 | ERROR_NOT_FOUND            |
// |   .UnknownMethod, .UnknownInterface                         |            |                            |
// | org.freedesktop.DBus.Error.NoReply, .Timeout, .TimedOut     | 0x800705B4 | ERROR_TIMEOUT              |
// | org.freedesktop.DBus.Error.ServiceUnknown, .NameHasNoOwner  | 0x80070426 | ERROR_SERVICE_NOT_ACTIVE   |
// |   (no bluetoothd on the bus)                                |            |                            |
// | no bus at all, or the bus connection lost                   | 0x800704C9 | ERROR_CONNECTION_REFUSED   |
// | BlueZ present but no adapter object                         | 0x800710DF | ERROR_DEVICE_NOT_AVAILABLE |
// | an object used after Close                                  | 0x80000013 | RO_E_CLOSED                |
// | an operation given up because its session ended             | 0x800704C7 | ERROR_CANCELLED            |
// | org.bluez.Error.Failed and any other error name             | 0x80004005 | E_FAIL                     |
//
// Local sd-bus failures come as negative errno values: -ENOMEM becomes
// E_OUTOFMEMORY, -ETIMEDOUT the timeout code, the connection errors the
// no-bus code, anything else E_FAIL.

#include <string_view>

#include "ble/adapter.h"
#include "support/platform_error.h"

namespace ble::bluez {

inline constexpr HRESULT kErrorNotReady = static_cast<HRESULT>(0x80070015);
inline constexpr HRESULT kErrorBusy = static_cast<HRESULT>(0x800700AA);
inline constexpr HRESULT kErrorNotSupported = static_cast<HRESULT>(0x80070032);
inline constexpr HRESULT kErrorDeviceNotConnected = static_cast<HRESULT>(0x8007048F);
inline constexpr HRESULT kErrorNotFound = static_cast<HRESULT>(0x80070490);
inline constexpr HRESULT kErrorServiceNotActive = static_cast<HRESULT>(0x80070426);
inline constexpr HRESULT kErrorNoBus = static_cast<HRESULT>(0x800704C9);
inline constexpr HRESULT kErrorNoAdapter = kErrorDeviceNotAvailable;

// The code for a D-Bus error name (empty: E_FAIL).
HRESULT HresultFromBusError(std::string_view errorName) noexcept;

// The code for a negative errno from a local sd-bus call.
HRESULT HresultFromErrno(int negativeErrno) noexcept;

// What a failed connect or subscribe reports as a GATT status: refusals as
// AccessDenied, everything else as Unreachable.
GattCommunicationStatus GattStatusFromCode(HRESULT code) noexcept;

} // namespace ble::bluez
