#include <cerrno>

#include "support/system_error.h"

// No per-thread error objects here: a code is all an error carries.

error_info ThreadErrorInfo(HRESULT) {
  return {};
}

HRESULT OriginateFailure(HRESULT code, const char *) noexcept {
  return code;
}

void RestoreThreadErrorInfo(const error_info &) {}

std::uint32_t LastSystemError() noexcept {
  return static_cast<std::uint32_t>(errno);
}

error_info new_error_info(HRESULT) {
  return {};
}
