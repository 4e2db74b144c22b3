#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "support/platform_error.h"

// The platform's state of an asynchronous operation.
enum class AsyncStatus : std::int32_t { Started = 0, Completed = 1, Canceled = 2, Error = 3 };

// Handed to an operation as its Completed handler. The platform calls it once,
// on any thread, when the operation ends; its reference keeps the handler alive.
class AsyncCompletedHandler {
public:
  virtual ~AsyncCompletedHandler() = default;
  virtual HRESULT Invoke(AsyncStatus status) noexcept = 0;
};

// What every asynchronous operation offers whatever its result. Each call
// succeeds or raises hresult_error.
class AsyncInfo {
public:
  virtual ~AsyncInfo() = default;
  virtual AsyncStatus Status() = 0;
  // The failure code of an operation that ended in Error.
  virtual HRESULT ErrorCode() = 0;
  // Asks the platform to end the operation as Canceled; it may still finish otherwise.
  virtual void Cancel() = 0;
  // Registers the one completion handler. On an operation that has already
  // ended the handler runs at once on the calling thread; a second
  // registration raises hresult_illegal_delegate_assignment.
  virtual void Completed(std::shared_ptr<AsyncCompletedHandler> handler) = 0;
};

template <class T> class AsyncOperation : public AsyncInfo {
public:
  using Result = T;
  // Reports the failure as a code instead of raising, as the platform does:
  // E_ILLEGAL_METHOD_CALL before the end, the error code after an Error.
  virtual HRESULT GetResults(T &result) = 0;
};

template <class T> using AsyncOperationPtr = std::shared_ptr<AsyncOperation<T>>;

// An operation that a backend finishes later from any thread, without a lock.
// Exactly one of Complete, Fail and Cancel takes effect; the completion handler
// runs once, on the thread that finishes the operation or, when registered
// late, on the registering thread.
template <class T> class PendingOperation : public AsyncOperation<T> {
public:
  bool Complete(T result) { return Finish(AsyncStatus::Completed, kSOk, &result); }
  bool Fail(HRESULT code) { return Finish(AsyncStatus::Error, code < 0 ? code : kEFail, nullptr); }
  bool FinishCanceled() { return Finish(AsyncStatus::Canceled, kErrorCancelled, nullptr); }

  AsyncStatus Status() override { return static_cast<AsyncStatus>(status_.load(std::memory_order_acquire)); }

  HRESULT ErrorCode() override {
    const AsyncStatus status = Status();
    return status == AsyncStatus::Error || status == AsyncStatus::Canceled ? error_ : kSOk;
  }

  void Cancel() override { FinishCanceled(); }

  void Completed(std::shared_ptr<AsyncCompletedHandler> handler) override {
    if (!handler) throw hresult_invalid_argument();
    if (registered_.exchange(true)) throw hresult_illegal_delegate_assignment();
    handler_ = std::move(handler);
    // Whoever sets the second of the two bits runs the handler.
    if (flags_.fetch_or(kHandlerSet, std::memory_order_acq_rel) & kFinished) RunHandler();
  }

  HRESULT GetResults(T &result) override {
    switch (Status()) {
    case AsyncStatus::Completed:
      result = result_;
      return kSOk;
    case AsyncStatus::Started:
      return kEIllegalMethodCall;
    default:
      return error_;
    }
  }

private:
  static constexpr std::uint32_t kHandlerSet = 1;
  static constexpr std::uint32_t kFinished = 2;

  bool Finish(AsyncStatus status, HRESULT error, T *result) {
    if (claimed_.exchange(true)) return false;
    if (result) result_ = std::move(*result);
    error_ = error;
    status_.store(static_cast<std::int32_t>(status), std::memory_order_release);
    if (flags_.fetch_or(kFinished, std::memory_order_acq_rel) & kHandlerSet) RunHandler();
    return true;
  }

  void RunHandler() {
    std::shared_ptr<AsyncCompletedHandler> handler = std::move(handler_);
    handler->Invoke(Status());
  }

  std::atomic<bool> claimed_{false};
  std::atomic<bool> registered_{false};
  std::atomic<std::uint32_t> flags_{0};
  std::atomic<std::int32_t> status_{static_cast<std::int32_t>(AsyncStatus::Started)};
  T result_{};
  HRESULT error_ = kSOk;
  std::shared_ptr<AsyncCompletedHandler> handler_;
};
