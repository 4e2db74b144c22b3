#pragma once

// The runtime's asynchronous operations and event tokens in the shared model,
// for every class of the backend.

#include <memory>
#include <utility>

#include "ble/adapter.h"
#include "ble/winrt/abi_generic.h"
#include "ble/winrt/delegate.h"

namespace ble::winrt {

inline EventToken ToToken(EventRegistrationToken token) {
  return EventToken{token.value};
}
inline EventRegistrationToken ToAbi(EventToken token) {
  return EventRegistrationToken{token.value};
}

// One of the runtime's asynchronous operations in the shared operation model.
template <class T, class TAbi> class Operation final : public AsyncOperation<T> {
public:
  using Convert = T (*)(TAbi raw);

  Operation(winrt_abi::com_ptr<winrt_abi::IAsyncOperation<TAbi>> operation, Convert convert)
      : operation_(std::move(operation)),
        info_(operation_.template as<winrt_abi::IAsyncInfo>(winrt_abi::iid_of<winrt_abi::IAsyncInfo>)),
        convert_(convert) {}

  ~Operation() override {
    // Closing frees the platform's result; an operation still running is left alone.
    INT32 status = 0;
    if (info_->get_Status(&status) >= 0 && status != static_cast<INT32>(AsyncStatus::Started)) info_->Close();
  }

  AsyncStatus Status() override {
    INT32 status = 0;
    winrt_abi::check(info_->get_Status(&status));
    return static_cast<AsyncStatus>(status);
  }

  HRESULT ErrorCode() override {
    HRESULT code = kSOk;
    winrt_abi::check(info_->get_ErrorCode(&code));
    return code;
  }

  void Cancel() override { winrt_abi::check(info_->Cancel()); }

  void Completed(std::shared_ptr<AsyncCompletedHandler> handler) override {
    if (!handler) throw hresult_invalid_argument();
    using Handler = winrt_abi::IAsyncOperationCompletedHandler<TAbi>;
    auto delegate = winrt_abi::MakeDelegate<Handler, winrt_abi::IAsyncOperation<TAbi> *, INT32>(
        [handler = std::move(handler)](winrt_abi::IAsyncOperation<TAbi> *, INT32 status) {
          winrt_abi::check(handler->Invoke(static_cast<AsyncStatus>(status)));
        });
    winrt_abi::check(operation_->put_Completed(delegate.get()));
  }

  HRESULT GetResults(T &result) override {
    TAbi raw{};
    const HRESULT code = operation_->GetResults(&raw);
    if (code < 0) return code;
    try {
      result = convert_(raw);
    } catch (...) {
      return current_failure_code();
    }
    return kSOk;
  }

private:
  winrt_abi::com_ptr<winrt_abi::IAsyncOperation<TAbi>> operation_;
  winrt_abi::com_ptr<winrt_abi::IAsyncInfo> info_;
  Convert convert_;
};

// Takes over the operation's reference; a missing operation is a failure.
template <class T, class TAbi>
AsyncOperationPtr<T> WrapOperation(winrt_abi::IAsyncOperation<TAbi> *raw,
                                   typename Operation<T, TAbi>::Convert convert) {
  auto operation = winrt_abi::com_ptr<winrt_abi::IAsyncOperation<TAbi>>::attach(raw);
  if (!operation) raise_platform_error(kEFail);
  return std::make_shared<Operation<T, TAbi>>(std::move(operation), convert);
}

} // namespace ble::winrt
