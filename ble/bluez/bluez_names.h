#pragma once

// The names on the bus that the backend and the simulator must agree on:
// BlueZ's service, the interfaces of the objects it exports, the standard
// D-Bus interfaces it is read through, and the error names that come back.

namespace ble::bluez {

inline constexpr const char *kBluezName = "org.bluez";

inline constexpr const char *kAdapter1 = "org.bluez.Adapter1";
inline constexpr const char *kDevice1 = "org.bluez.Device1";
inline constexpr const char *kService1 = "org.bluez.GattService1";
inline constexpr const char *kCharacteristic1 = "org.bluez.GattCharacteristic1";

inline constexpr const char *kBusName = "org.freedesktop.DBus";
inline constexpr const char *kBusPath = "/org/freedesktop/DBus";
inline constexpr const char *kObjectManager = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char *kProperties = "org.freedesktop.DBus.Properties";

namespace error_name {

inline constexpr const char *kNotPermitted = "org.bluez.Error.NotPermitted";
inline constexpr const char *kNotAuthorized = "org.bluez.Error.NotAuthorized";
inline constexpr const char *kNotReady = "org.bluez.Error.NotReady";
inline constexpr const char *kInProgress = "org.bluez.Error.InProgress";
inline constexpr const char *kNotConnected = "org.bluez.Error.NotConnected";
inline constexpr const char *kNotSupported = "org.bluez.Error.NotSupported";
inline constexpr const char *kInvalidArguments = "org.bluez.Error.InvalidArguments";
inline constexpr const char *kDoesNotExist = "org.bluez.Error.DoesNotExist";
inline constexpr const char *kFailed = "org.bluez.Error.Failed";

inline constexpr const char *kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr const char *kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char *kUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";
inline constexpr const char *kUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
inline constexpr const char *kUnknownInterface = "org.freedesktop.DBus.Error.UnknownInterface";
inline constexpr const char *kNoReply = "org.freedesktop.DBus.Error.NoReply";
inline constexpr const char *kTimeout = "org.freedesktop.DBus.Error.Timeout";
inline constexpr const char *kTimedOut = "org.freedesktop.DBus.Error.TimedOut";
inline constexpr const char *kServiceUnknown = "org.freedesktop.DBus.Error.ServiceUnknown";
inline constexpr const char *kNameHasNoOwner = "org.freedesktop.DBus.Error.NameHasNoOwner";
inline constexpr const char *kNoMemory = "org.freedesktop.DBus.Error.NoMemory";
inline constexpr const char *kPropertyReadOnly = "org.freedesktop.DBus.Error.PropertyReadOnly";

} // namespace error_name

} // namespace ble::bluez
