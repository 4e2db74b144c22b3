#pragma once

// The simulated radio's shared state and the pieces every simulated object is
// made of. Internal to ble/sim: only radio.cpp includes the object headers.

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <type_traits>
#include <utility>

#include "ble/sim/event_threads.h"
#include "ble/sim/radio.h"

namespace ble::sim {

class WatcherObject;
class DeviceObject;
class CharacteristicObject;

// Shared by a device object and everything reached through it, so that Close
// reaches its services and characteristics too. Guarded by the core's mutex.
struct DeviceLink {
  bool closed = false;
};

struct Radio::Core : std::enable_shared_from_this<Radio::Core> {
  explicit Core(unsigned threads) : events(threads) {}

  OpScript Take(Op op) {
    std::lock_guard lock(mutex);
    const auto index = static_cast<std::size_t>(op);
    ++calls[index];
    if (!next[index].empty()) {
      OpScript script = std::move(next[index].front());
      next[index].pop_front();
      return script;
    }
    return always[index] ? *always[index] : OpScript{};
  }

  // One call of an operation: its script decides whether it raises; the
  // script's hook runs after the effect.
  template <class Effect> auto Perform(Op op, Effect &&effect) {
    const OpScript script = Take(op);
    if (script.raise < 0) {
      if (script.inside) script.inside();
      raise_platform_error(script.raise);
    }
    using Result = decltype(effect(script));
    if constexpr (std::is_void_v<Result>) {
      effect(script);
      if (script.inside) script.inside();
    } else {
      Result result = effect(script);
      if (script.inside) script.inside();
      return result;
    }
  }

  template <class T, class Produce> AsyncOperationPtr<T> Async(Op op, Produce produce);

  template <class Call> void Deliver(Call &&call) {
    const HRESULT result = handler_boundary(std::forward<Call>(call));
    std::lock_guard lock(mutex);
    results.push_back(result);
  }

  bool IsConnected(std::uint64_t address) const { return connected.count(address) != 0; }
  const Pistol *FindPistol(std::uint64_t address) const {
    auto found = pistols.find(address);
    return found == pistols.end() ? nullptr : &found->second;
  }

  void RaiseConnectionStatusChanged(std::uint64_t address);

  // Under the mutex: true if this answer of op was scripted Unreachable.
  bool TakeUnreachable(std::uint64_t address, Op op) {
    auto found = unreachable.find({address, op});
    if (found == unreachable.end() || found->second == 0) return false;
    --found->second;
    return true;
  }

  mutable std::mutex mutex;
  std::map<std::uint64_t, Pistol> pistols;
  std::set<std::uint64_t> connected;
  std::map<std::pair<std::uint64_t, Op>, int> unreachable;
  std::vector<std::weak_ptr<WatcherObject>> watchers;
  std::vector<std::weak_ptr<DeviceObject>> devices;
  std::vector<std::weak_ptr<CharacteristicObject>> characteristics;
  std::array<std::deque<OpScript>, static_cast<std::size_t>(Op::Count)> next;
  std::array<std::optional<OpScript>, static_cast<std::size_t>(Op::Count)> always;
  std::array<int, static_cast<std::size_t>(Op::Count)> calls{};
  std::vector<HRESULT> results;
  std::atomic<int> live{0};
  std::atomic<int> handlers{0};
  std::atomic<int> cancels{0};
  std::int64_t nextToken = 1;
  // Last member: its threads stop before the state they use goes away.
  EventThreads events;
};

using Core = Radio::Core;

template <class T> void Prune(std::vector<std::weak_ptr<T>> &list) {
  std::erase_if(list, [](const std::weak_ptr<T> &item) { return item.expired(); });
}

// Called under the core's mutex; the caller drops the result after unlocking,
// so that no object dies (and runs its handlers' destructors) under the lock.
template <class T> std::vector<std::shared_ptr<T>> Alive(const std::vector<std::weak_ptr<T>> &list) {
  std::vector<std::shared_ptr<T>> alive;
  for (const auto &weak : list)
    if (auto item = weak.lock()) alive.push_back(std::move(item));
  return alive;
}

// Raises RO_E_CLOSED on an object whose device has been closed. Called under the core's mutex.
inline void ThrowIfClosed(const DeviceLink &link) {
  if (link.closed) raise_platform_error(kRoEClosed);
}

// Every object of the radio counts itself while it lives.
struct Counted {
  explicit Counted(std::shared_ptr<Core> owner) : core(std::move(owner)) { ++core->live; }
  ~Counted() { --core->live; }
  Counted(const Counted &) = delete;
  Counted &operator=(const Counted &) = delete;
  std::shared_ptr<Core> core;
};

template <class Handler> class HandlerList {
public:
  explicit HandlerList(Core &core) : core_(core) {}
  ~HandlerList() { core_.handlers -= static_cast<int>(entries_.size()); }

  EventToken Add(Handler handler) {
    if (!handler) throw hresult_invalid_argument();
    std::lock_guard lock(core_.mutex);
    const std::int64_t token = core_.nextToken++;
    entries_.emplace_back(token, std::move(handler));
    ++core_.handlers;
    return EventToken{token};
  }

  void Remove(EventToken token) {
    Handler removed; // its captures die after the lock is released
    std::lock_guard lock(core_.mutex);
    auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const auto &entry) { return entry.first == token.value; });
    if (found == entries_.end()) return;
    removed = std::move(found->second);
    entries_.erase(found);
    --core_.handlers;
  }

  std::vector<Handler> Snapshot() const {
    std::lock_guard lock(core_.mutex);
    std::vector<Handler> copy;
    for (const auto &entry : entries_) copy.push_back(entry.second);
    return copy;
  }

private:
  Core &core_;
  std::vector<std::pair<std::int64_t, Handler>> entries_;
};

template <class T> class OperationObject final : public PendingOperation<T>, Counted {
public:
  OperationObject(std::shared_ptr<Core> owner, bool ignoresCancel)
      : Counted(std::move(owner)), ignoresCancel_(ignoresCancel) {}
  void Cancel() override {
    ++core->cancels;
    if (!ignoresCancel_) this->FinishCanceled();
  }

private:
  bool ignoresCancel_;
};

template <class T> class VectorObject final : public VectorView<T>, Counted {
public:
  VectorObject(std::shared_ptr<Core> owner, std::vector<T> items)
      : Counted(std::move(owner)), items_(std::move(items)) {}
  std::uint32_t Size() override {
    return core->Perform(Op::VectorSize, [&](const OpScript &) { return static_cast<std::uint32_t>(items_.size()); });
  }
  T GetAt(std::uint32_t index) override {
    return core->Perform(Op::VectorGetAt, [&](const OpScript &) {
      if (index >= items_.size()) throw hresult_out_of_bounds();
      return items_[index];
    });
  }

private:
  std::vector<T> items_;
};

template <class T, class Produce> AsyncOperationPtr<T> Radio::Core::Async(Op op, Produce produce) {
  return Perform(op, [&](const OpScript &script) -> AsyncOperationPtr<T> {
    auto operation =
        std::make_shared<OperationObject<T>>(shared_from_this(), script.completion == Completion::NeverEvenIfCanceled);
    auto finish = [operation, endAs = script.endAs, errorCode = script.errorCode, empty = script.emptyResult,
                   produce]() {
      switch (endAs) {
      case AsyncStatus::Canceled:
        operation->FinishCanceled();
        break;
      case AsyncStatus::Error:
        operation->Fail(errorCode);
        break;
      default:
        operation->Complete(empty ? T{} : produce());
        break;
      }
    };
    if (script.completion == Completion::Now) finish();
    if (script.completion == Completion::Later) events.Post(std::move(finish), script.delay);
    return operation;
  });
}

} // namespace ble::sim
