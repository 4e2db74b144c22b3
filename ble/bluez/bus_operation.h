#pragma once

// What the BlueZ backend's objects share: operations finished on the loop
// thread, running work there, waiting on the link's terms. Backend only.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_names.h"
#include "ble/bluez/bus_connection.h"
#include "ble/link_worker.h"
#include "support/async_operation.h"
#include "support/blocking_wait.h"

namespace ble::bluez {

// An operation finished on the loop thread; cancelling it also undoes the
// step in progress there (drops the pending call, so its reply is ignored).
template <class T>
class BusOperation final : public PendingOperation<T>, public std::enable_shared_from_this<BusOperation<T>> {
public:
  explicit BusOperation(std::weak_ptr<BusSession> session) : session_(std::move(session)) {}

  void Cancel() override {
    if (!this->FinishCanceled()) return;
    if (auto session = session_.lock()) {
      session->Post([self = this->shared_from_this()] {
        auto hook = std::move(self->cancelHook_);
        self->cancelHook_ = nullptr;
        if (hook) hook();
      });
    }
  }

  // Loop thread from here on.
  bool Pending() { return this->Status() == AsyncStatus::Started; }
  void OnCancel(std::function<void()> hook) {
    if (Pending()) cancelHook_ = std::move(hook);
  }
  void Succeed(T value) {
    cancelHook_ = nullptr;
    this->Complete(std::move(value));
  }
  void Failed(HRESULT code) {
    cancelHook_ = nullptr;
    this->Fail(code);
  }

private:
  std::weak_ptr<BusSession> session_;
  std::function<void()> cancelHook_;
};

template <class T> std::shared_ptr<BusOperation<T>> NewOperation(const BusConnection &connection) {
  return std::make_shared<BusOperation<T>>(connection.weak());
}

// Runs task on the loop thread: at once when already there.
inline void OnLoop(const BusConnection &connection, std::function<void()> task) {
  if (connection.session().OnLoopThread()) {
    task();
  } else if (!connection.session().Post(std::move(task))) {
    raise_platform_error(kErrorNoBus);
  }
}

inline void IgnoreReply(const CallOutcome &) {}

// Waits on the link's own terms: bounded, and given up as soon as the link is
// told to stop, so a bluetoothd that never answers cannot hold a Deactivate.
template <class T> T AwaitOnLink(AsyncOperation<T> &operation) {
  return blocking_get(operation, linkRunning, linkTimings.operationTimeout);
}

// Waits on the loop thread for BlueZ to report `what` of the object at
// `path`. The first of the report and `limit` (kErrorTimeout) runs `done` once
// with its code. Cancelling the operation ends the wait without it, and then
// runs `cancelled` when given. Loop thread only.
template <class T>
void AwaitReport(BusSession &session, BusOperation<T> &operation, Awaited what, const std::string &path,
                 std::chrono::milliseconds limit, std::function<void(HRESULT)> done,
                 std::function<void()> cancelled = nullptr) {
  struct Wait {
    std::uint64_t waiter = 0;
    std::uint64_t timer = 0;
    bool over = false;
    std::function<void(HRESULT)> done;
  };
  auto wait = std::make_shared<Wait>();
  wait->done = std::move(done);
  auto end = [&session, wait] {
    wait->over = true;
    session.CancelTimer(wait->timer);
    session.events().CancelWhen(wait->waiter);
  };
  auto finish = [end, wait](HRESULT code) {
    if (wait->over) return;
    end();
    wait->done(code);
  };
  wait->waiter = session.events().When(what, path, finish);
  if (!wait->over) wait->timer = session.AddTimer(limit, [finish] { finish(kErrorTimeout); });
  operation.OnCancel([end, wait, cancelled = std::move(cancelled)] {
    if (!wait->over) end();
    if (cancelled) cancelled();
  });
}

} // namespace ble::bluez
