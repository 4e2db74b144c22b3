#include <string>

#include "support/system_error.h"
#include "support/win32/error_info.h"

error_info ThreadErrorInfo(HRESULT code) {
  return winrt_abi::CaptureErrorInfo(code);
}

HRESULT OriginateFailure(HRESULT code, const char *text) noexcept {
  try {
    std::wstring message;
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length > 1) {
      message.resize(static_cast<std::size_t>(length - 1));
      MultiByteToWideChar(CP_UTF8, 0, text, -1, message.data(), length);
    }
    winrt_abi::OriginateErrorInfo(code, message);
  } catch (...) {
    // The code still goes back; only its message is lost.
  }
  return code;
}

void RestoreThreadErrorInfo(const error_info &info) {
  winrt_abi::RestoreErrorInfo(info);
}

std::uint32_t LastSystemError() noexcept {
  return GetLastError();
}

error_info new_error_info(HRESULT code) {
  try {
    return winrt_abi::OriginateErrorInfo(code, {});
  } catch (...) {
    return {};
  }
}
