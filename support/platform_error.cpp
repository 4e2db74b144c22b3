#include "support/platform_error.h"

#include <cerrno>
#include <exception>
#include <new>
#include <stdexcept>

void raise_platform_error(HRESULT code) {
  switch (code) {
  case kEBounds:
    throw hresult_out_of_bounds();
  case kEChangedState:
    throw hresult_changed_state();
  case kEIllegalStateChange:
    throw hresult_illegal_state_change();
  case kEIllegalMethodCall:
    throw hresult_illegal_method_call();
  case kEIllegalDelegateAssignment:
    throw hresult_illegal_delegate_assignment();
  case kENotImpl:
    throw hresult_not_implemented();
  case kENoInterface:
    throw hresult_no_interface();
  case kRpcEWrongThread:
    throw hresult_wrong_thread();
  case kClassENotAvailable:
    throw hresult_class_not_available();
  case kRegdbEClassNotReg:
    throw hresult_class_not_registered();
  case kEAccessDenied:
    throw hresult_access_denied();
  case kEOutOfMemory:
    throw std::bad_alloc();
  case kEInvalidArg:
    throw hresult_invalid_argument();
  case kErrorCancelled:
    throw hresult_canceled();
  default:
    throw hresult_error(code);
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
    return error.code();
  } catch (const std::bad_alloc &) {
    return kEOutOfMemory;
  } catch (const std::out_of_range &) {
    return kEBounds;
  } catch (const std::invalid_argument &) {
    return kEInvalidArg;
  } catch (const std::exception &) {
    return kEFail;
  } catch (...) {
    // Something that is no exception class at all must not unwind into the platform.
    return kEFail;
  }
}
