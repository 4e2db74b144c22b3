#include "ble/bluez/bluez_error.h"

#include "ble/bluez/bluez_names.h"

#include <cerrno>
#include <iterator>

namespace ble::bluez {
namespace {

struct NamedCode {
  std::string_view name;
  HRESULT code;
};

constexpr NamedCode kBusErrors[] = {
    {error_name::kNotPermitted, kEAccessDenied},
    {error_name::kNotAuthorized, kEAccessDenied},
    {error_name::kAccessDenied, kEAccessDenied},
    {error_name::kNotReady, kErrorNotReady},
    {error_name::kInProgress, kErrorBusy},
    {error_name::kNotConnected, kErrorDeviceNotConnected},
    {error_name::kNotSupported, kErrorNotSupported},
    {error_name::kInvalidArguments, kEInvalidArg},
    {error_name::kInvalidArgs, kEInvalidArg},
    {error_name::kDoesNotExist, kErrorNotFound},
    {error_name::kUnknownObject, kErrorNotFound},
    {error_name::kUnknownMethod, kErrorNotFound},
    {error_name::kUnknownInterface, kErrorNotFound},
    {error_name::kNoReply, kErrorTimeout},
    {error_name::kTimeout, kErrorTimeout},
    {error_name::kTimedOut, kErrorTimeout},
    {error_name::kServiceUnknown, kErrorServiceNotActive},
    {error_name::kNameHasNoOwner, kErrorServiceNotActive},
    {error_name::kNoMemory, kEOutOfMemory},
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
