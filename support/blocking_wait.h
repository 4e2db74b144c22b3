#pragma once

#include <atomic>
#include <chrono>

#include "support/async_operation.h"
#include "support/platform_error.h"

// Waits until the operation has ended and gives its final status. An operation
// that has already ended is not waited for and gets no handler.
AsyncStatus wait_for_completed(AsyncInfo &operation);

// As above, but gives up when keepRunning turns false or the time runs out:
// the operation is then asked to cancel and the wait raises hresult_canceled
// (stop) or hresult_wait_timeout (time), without waiting for the platform to
// acknowledge. The stop flag and the time are looked at every few milliseconds.
AsyncStatus wait_for_completed(AsyncInfo &operation, const std::atomic<bool> &keepRunning,
                               std::chrono::milliseconds timeout);

namespace detail {
template <class T> T results_after(AsyncOperation<T> &operation, AsyncStatus status) {
  if (status == AsyncStatus::Canceled) throw hresult_canceled(new_error_info(kErrorCancelled));
  T result{};
  HRESULT code = operation.GetResults(result);
  if (code < 0) raise_platform_error(code);
  if (status == AsyncStatus::Error) {
    // An errored operation must never pass for a success, even if its
    // GetResults says otherwise.
    code = operation.ErrorCode();
    raise_platform_error(code < 0 ? code : kEFail);
  }
  return result;
}
} // namespace detail

// Waits for the operation and returns its result, or raises: hresult_canceled
// for a canceled operation (its results are not asked for), the class of its
// error code for a failed one. Blocks until the platform ends the operation.
template <class T> T blocking_get(AsyncOperation<T> &operation) {
  return detail::results_after(operation, wait_for_completed(operation));
}

// The bounded form the link worker uses, so that a stop never waits on the radio.
template <class T>
T blocking_get(AsyncOperation<T> &operation, const std::atomic<bool> &keepRunning, std::chrono::milliseconds timeout) {
  return detail::results_after(operation, wait_for_completed(operation, keepRunning, timeout));
}
