#include "support/platform_error.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "support/system_error.h"

void raise_platform_error(HRESULT code) {
  switch (code) {
  case kEBounds:
    throw hresult_out_of_bounds(ThreadErrorInfo(code));
  case kEChangedState:
    throw hresult_changed_state(ThreadErrorInfo(code));
  case kEIllegalStateChange:
    throw hresult_illegal_state_change(ThreadErrorInfo(code));
  case kEIllegalMethodCall:
    throw hresult_illegal_method_call(ThreadErrorInfo(code));
  case kEIllegalDelegateAssignment:
    throw hresult_illegal_delegate_assignment(ThreadErrorInfo(code));
  case kENotImpl:
    throw hresult_not_implemented(ThreadErrorInfo(code));
  case kENoInterface:
    throw hresult_no_interface(ThreadErrorInfo(code));
  case kRpcEWrongThread:
    throw hresult_wrong_thread(ThreadErrorInfo(code));
  case kClassENotAvailable:
    throw hresult_class_not_available(ThreadErrorInfo(code));
  case kRegdbEClassNotReg:
    throw hresult_class_not_registered(ThreadErrorInfo(code));
  case kEAccessDenied:
    throw hresult_access_denied(ThreadErrorInfo(code));
  case kEOutOfMemory:
    throw std::bad_alloc();
  case kEInvalidArg:
    throw hresult_invalid_argument(ThreadErrorInfo(code));
  case kErrorCancelled:
    throw hresult_canceled(ThreadErrorInfo(code));
  default:
    throw hresult_error(code, ThreadErrorInfo(code));
  }
}

void raise_last_error() {
  // A failed call that left no error number still raises a failure (E_FAIL,
  // by the hresult_error rule), never a success code.
  raise_platform_error(HresultFromSystemError(LastSystemError()));
}

HRESULT current_failure_code() noexcept {
  const std::exception_ptr failure = std::current_exception();
  if (!failure) return kEFail;
  try {
    std::rethrow_exception(failure);
  } catch (const hresult_error &error) {
    RestoreThreadErrorInfo(error.info());
    return error.code();
  } catch (const std::bad_alloc &) {
    return kEOutOfMemory;
  } catch (const std::out_of_range &error) {
    return OriginateFailure(kEBounds, error.what());
  } catch (const std::invalid_argument &error) {
    return OriginateFailure(kEInvalidArg, error.what());
  } catch (const std::exception &error) {
    return OriginateFailure(kEFail, error.what());
  } catch (...) {
    // Something that is no exception class at all must not unwind into the platform.
    return kEFail;
  }
}
