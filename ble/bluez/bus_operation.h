#pragma once

// What the BlueZ backend's objects share: operations finished on the loop
// thread, running work there, waiting on the link's terms. Backend only.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bus_session.h"
#include "ble/link_worker.h"
#include "support/async_operation.h"
#include "support/blocking_wait.h"

namespace ble::bluez {

constexpr const char *kAdapter1 = "org.bluez.Adapter1";
constexpr const char *kDevice1 = "org.bluez.Device1";
constexpr const char *kCharacteristic1 = "org.bluez.GattCharacteristic1";

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

// Waits on the loop thread for something BlueZ reports: `watch(fn)` registers
// fn and returns its id, `unwatch(id)` drops it. The first of the report and
// `limit` (kErrorTimeout) runs `done` once with its code; the function
// returned ends the wait without it. Loop thread only.
inline std::function<void()> WatchWithin(BusSession &session, std::chrono::milliseconds limit,
                                         const std::function<std::uint64_t(std::function<void(HRESULT)>)> &watch,
                                         std::function<void(std::uint64_t)> unwatch,
                                         std::function<void(HRESULT)> done) {
  struct Wait {
    std::uint64_t waiter = 0;
    std::uint64_t timer = 0;
    bool over = false;
    std::function<void(std::uint64_t)> unwatch;
    std::function<void(HRESULT)> done;
  };
  auto wait = std::make_shared<Wait>();
  wait->unwatch = std::move(unwatch);
  wait->done = std::move(done);
  auto end = [&session, wait] {
    wait->over = true;
    session.CancelTimer(wait->timer);
    wait->unwatch(wait->waiter);
  };
  auto finish = [end, wait](HRESULT code) {
    if (wait->over) return;
    end();
    wait->done(code);
  };
  wait->waiter = watch(finish);
  if (!wait->over) wait->timer = session.AddTimer(limit, [finish] { finish(kErrorTimeout); });
  return [end, wait] {
    if (!wait->over) end();
  };
}

} // namespace ble::bluez
