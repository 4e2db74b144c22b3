#include "support/platform_error.h"

#include <cerrno>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include "support/win32/error_info.h"
#endif

namespace {

error_info current_error_info([[maybe_unused]] HRESULT code) {
#ifdef _WIN32
  return winrt_abi::CaptureErrorInfo(code);
#else
  return {};
#endif
}

// A failure that is no platform error goes back to the platform with its text.
HRESULT report_failure(HRESULT code, [[maybe_unused]] const char *text) noexcept {
#ifdef _WIN32
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
#endif
  return code;
}

} // namespace

error_info new_error_info([[maybe_unused]] HRESULT code) {
#ifdef _WIN32
  try {
    return winrt_abi::OriginateErrorInfo(code, {});
  } catch (...) {
    return {};
  }
#else
  return {};
#endif
}

void raise_platform_error(HRESULT code) {
  switch (code) {
  case kEBounds:
    throw hresult_out_of_bounds(current_error_info(code));
  case kEChangedState:
    throw hresult_changed_state(current_error_info(code));
  case kEIllegalStateChange:
    throw hresult_illegal_state_change(current_error_info(code));
  case kEIllegalMethodCall:
    throw hresult_illegal_method_call(current_error_info(code));
  case kEIllegalDelegateAssignment:
    throw hresult_illegal_delegate_assignment(current_error_info(code));
  case kENotImpl:
    throw hresult_not_implemented(current_error_info(code));
  case kENoInterface:
    throw hresult_no_interface(current_error_info(code));
  case kRpcEWrongThread:
    throw hresult_wrong_thread(current_error_info(code));
  case kClassENotAvailable:
    throw hresult_class_not_available(current_error_info(code));
  case kRegdbEClassNotReg:
    throw hresult_class_not_registered(current_error_info(code));
  case kEAccessDenied:
    throw hresult_access_denied(current_error_info(code));
  case kEOutOfMemory:
    throw std::bad_alloc();
  case kEInvalidArg:
    throw hresult_invalid_argument(current_error_info(code));
  case kErrorCancelled:
    throw hresult_canceled(current_error_info(code));
  default:
    throw hresult_error(code, current_error_info(code));
  }
}

void raise_last_error() {
#ifdef _WIN32
  const DWORD error = GetLastError();
#else
  const auto error = static_cast<std::uint32_t>(errno);
#endif
  // A failed call that left no error number still raises a failure (E_FAIL,
  // by the hresult_error rule), never a success code.
  raise_platform_error(HresultFromSystemError(error));
}

HRESULT current_failure_code() noexcept {
  const std::exception_ptr failure = std::current_exception();
  if (!failure) return kEFail;
  try {
    std::rethrow_exception(failure);
  } catch (const hresult_error &error) {
#ifdef _WIN32
    winrt_abi::RestoreErrorInfo(error.info());
#endif
    return error.code();
  } catch (const std::bad_alloc &) {
    return kEOutOfMemory;
  } catch (const std::out_of_range &error) {
    return report_failure(kEBounds, error.what());
  } catch (const std::invalid_argument &error) {
    return report_failure(kEInvalidArg, error.what());
  } catch (const std::exception &error) {
    return report_failure(kEFail, error.what());
  } catch (...) {
    // Something that is no exception class at all must not unwind into the platform.
    return kEFail;
  }
}
