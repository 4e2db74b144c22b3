#pragma once

// The runtime's asynchronous operation as the fake runs it: completed on the
// event thread, or held, or never, as the script says.

#include <atomic>
#include <mutex>
#include <type_traits>

#include "tests/common/winrt_fake/fake_object.h"

namespace fake {

template <class TAbi> class Operation final : public Implements<IAsyncOperation<TAbi>, IAsyncInfo> {
public:
  explicit Operation(const char *name) : name_(name) {}
  ~Operation() override {
    ReleaseResult(result_);
    if (handler_) handler_->Release();
  }

  // IAsyncOperation
  HRESULT STDMETHODCALLTYPE put_Completed(IAsyncOperationCompletedHandler<TAbi> *handler) override {
    if (!handler) return E_INVALIDARG;
    std::unique_lock lock(mutex_);
    if (handler_ || handlerRan_) return kIllegalDelegateAssignment;
    handler->AddRef();
    handler_ = handler;
    if (status_ != 0) {
      lock.unlock();
      RunHandler();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(IAsyncOperationCompletedHandler<TAbi> **handler) override {
    std::lock_guard lock(mutex_);
    *handler = AddRefed(handler_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResults(TAbi *results) override {
    std::lock_guard lock(mutex_);
    if (status_ == 0) return kIllegalMethodCall;
    if (status_ != 1) return error_;
    if constexpr (std::is_pointer_v<TAbi>)
      *results = AddRefed(result_);
    else
      *results = result_;
    return S_OK;
  }

  // IAsyncInfo
  HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) override {
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Status(INT32 *status) override {
    std::lock_guard lock(mutex_);
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *code) override {
    std::lock_guard lock(mutex_);
    *code = status_ >= 2 ? error_ : S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (held_ || Current().cancelIgnored) {
      // Acknowledged only when the test finishes the held operation.
      if (!cancelRequested_.exchange(true)) ++canceledOperations;
      return S_OK;
    }
    if (Finish(2, kCanceled, TAbi{})) ++canceledOperations;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

  // Ends the operation (first ending wins); the result's reference is taken over.
  bool Finish(INT32 status, HRESULT error, TAbi result) {
    {
      std::lock_guard lock(mutex_);
      if (status_ != 0) {
        ReleaseResult(result);
        return false;
      }
      status_ = status;
      error_ = error;
      result_ = result;
    }
    RunHandler();
    return true;
  }

  // Completes on the event thread after `delay`, unless scripted not to.
  void CompleteLater(TAbi result, std::chrono::milliseconds delay = 10ms) {
    if (Holds(name_)) {
      held_ = true;
      this->AddRef();
      std::lock_guard lock(scriptMutex);
      heldOperations.push_back([this, result](INT32 status) {
        if (status == 1) {
          Finish(1, S_OK, result);
        } else {
          ReleaseResult(result);
          Finish(2, kCanceled, TAbi{});
        }
        this->Release();
      });
      return;
    }
    if (NeverCompletes(name_)) {
      ReleaseResult(result);
      return;
    }
    this->AddRef();
    Events().Post(
        [this, result] {
          Finish(1, S_OK, result);
          this->Release();
        },
        delay);
  }

private:
  // A result object's reference, when the result is one.
  static void ReleaseResult(TAbi result) {
    if constexpr (std::is_pointer_v<TAbi>)
      if (result) result->Release();
  }

  void RunHandler() {
    IAsyncOperationCompletedHandler<TAbi> *handler = nullptr;
    INT32 status = 0;
    {
      std::lock_guard lock(mutex_);
      if (!handler_ || handlerRan_) return;
      handlerRan_ = true;
      handler = handler_;
      handler_ = nullptr;
      status = status_;
    }
    handler->Invoke(this, status);
    handler->Release();
  }

  const char *name_;
  std::atomic<bool> held_{false};
  std::atomic<bool> cancelRequested_{false};
  std::mutex mutex_;
  INT32 status_ = 0;
  HRESULT error_ = S_OK;
  TAbi result_{};
  IAsyncOperationCompletedHandler<TAbi> *handler_ = nullptr;
  bool handlerRan_ = false;
};

// Starts the named operation unless the script refuses it; it completes with
// what make() gives, after `delay`.
template <class TAbi, class Make>
HRESULT Start(IAsyncOperation<TAbi> **operation, const char *name, Make make, std::chrono::milliseconds delay = 10ms) {
  if (HRESULT refused = Refusal(name)) return refused;
  TAbi result = make();
  auto *op = new Operation<TAbi>(name);
  op->CompleteLater(result, delay);
  *operation = op;
  return S_OK;
}

} // namespace fake
