#include "ble/bluez/bluez_error.h"

#include <cerrno>
#include <iterator>

namespace ble::bluez {
namespace {

struct NamedCode {
  std::string_view name;
  HRESULT code;
};

constexpr NamedCode kBusErrors[] = {
    {"org.bluez.Error.NotPermitted", kEAccessDenied},
    {"org.bluez.Error.NotAuthorized", kEAccessDenied},
    {"org.freedesktop.DBus.Error.AccessDenied", kEAccessDenied},
    {"org.bluez.Error.NotReady", kErrorNotReady},
    {"org.bluez.Error.InProgress", kErrorBusy},
    {"org.bluez.Error.NotConnected", kErrorDeviceNotConnected},
    {"org.bluez.Error.NotSupported", kErrorNotSupported},
    {"org.bluez.Error.InvalidArguments", kEInvalidArg},
    {"org.freedesktop.DBus.Error.InvalidArgs", kEInvalidArg},
    {"org.bluez.Error.DoesNotExist", kErrorNotFound},
    {"org.freedesktop.DBus.Error.UnknownObject", kErrorNotFound},
    {"org.freedesktop.DBus.Error.UnknownMethod", kErrorNotFound},
    {"org.freedesktop.DBus.Error.UnknownInterface", kErrorNotFound},
    {"org.freedesktop.DBus.Error.NoReply", kErrorTimeout},
    {"org.freedesktop.DBus.Error.Timeout", kErrorTimeout},
    {"org.freedesktop.DBus.Error.TimedOut", kErrorTimeout},
    {"org.freedesktop.DBus.Error.ServiceUnknown", kErrorServiceNotActive},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", kErrorServiceNotActive},
    {"org.freedesktop.DBus.Error.NoMemory", kEOutOfMemory},
};

} // namespace

HRESULT HresultFromBusError(std::string_view errorName) noexcept {
  for (const NamedCode &entry : kBusErrors) {
    if (entry.name == errorName) return entry.code;
  }
  return kEFail;
}

HRESULT HresultFromErrno(int negativeErrno) noexcept {
  switch (-negativeErrno) {
  case ENOMEM:
    return kEOutOfMemory;
  case ETIMEDOUT:
    return kErrorTimeout;
  case ENOENT:
  case ECONNREFUSED:
  case ECONNRESET:
  case ENOTCONN:
  case EPIPE:
  case ESHUTDOWN:
  case EACCES:
  case ENXIO:
  case EHOSTDOWN:
    return kErrorNoBus;
  default:
    return kEFail;
  }
}

GattCommunicationStatus GattStatusFromCode(HRESULT code) noexcept {
  if (code >= 0) return GattCommunicationStatus::Success;
  return code == kEAccessDenied ? GattCommunicationStatus::AccessDenied : GattCommunicationStatus::Unreachable;
}

} // namespace ble::bluez
