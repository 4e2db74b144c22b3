// The process-wide registry of loop threads, and the connections that start them.
#include "ble/bluez/bus_session.h"

#include <thread>

#include <algorithm>
#include <array>

#include "ble/bluez/atomic_pointer.h"
#include "ble/bluez/bluez_error.h"

namespace ble::bluez {
namespace {

// Every loop thread, from its start. The module must not be unloaded while
// one runs, yet a connection can end on its own loop thread (a handler or a
// reply held the last reference), where it cannot be joined. Such threads
// stay here until a later connection, or this object's destructor at unload,
// joins them.
//
// Each slot holds one entry or nothing. Whoever swaps an entry out of its slot
// owns it and is the only one to join its thread; the shared pointers keep an
// entry readable by other scanners while that happens, and a compared pointer
// cannot be reused while it is held (no ABA).
class LoopThreads {
public:
  static constexpr std::size_t kSlots = 64;

  ~LoopThreads() {
    for (auto &slot : slots_) {
      auto entry = slot.Exchange(nullptr);
      if (!entry || entry == reserved_) continue;
      entry->session->RequestStop();
      if (entry->id != std::this_thread::get_id()) {
        entry->thread.join();
      } else {
        entry->thread.detach();
      }
    }
  }

  // A slot for a thread about to start; raises when every slot is taken.
  std::size_t Reserve() {
    for (std::size_t i = 0; i < kSlots; ++i) {
      std::shared_ptr<Entry> empty;
      if (slots_[i].CompareExchange(empty, reserved_)) {
        return i;
      }
    }
    raise_platform_error(kErrorBusy);
  }
  void Unreserve(std::size_t slot) { slots_[slot].Store(nullptr); }

  void Add(std::size_t slot, std::shared_ptr<BusSession> session, std::thread thread) {
    auto entry = std::make_shared<Entry>();
    entry->session = std::move(session);
    entry->id = thread.get_id();
    entry->thread = std::move(thread);
    slots_[slot].Store(std::move(entry));
  }

  // Joins the session's thread, unless called on it.
  void Finish(const BusSession *session) {
    for (auto &slot : slots_) {
      auto entry = slot.Load();
      if (!entry || entry == reserved_ || entry->session.get() != session) continue;
      if (entry->id == std::this_thread::get_id()) return;
      // Lost only to JoinEnded, which then joins it.
      if (slot.CompareExchange(entry, nullptr)) {
        entry->thread.join();
      }
      return;
    }
  }

  // Joins the threads whose loop has ended.
  void JoinEnded() {
    for (auto &slot : slots_) {
      auto entry = slot.Load();
      if (!entry || entry == reserved_ || !entry->session->Finished() || entry->id == std::this_thread::get_id()) {
        continue;
      }
      if (slot.CompareExchange(entry, nullptr)) {
        entry->thread.join();
      }
    }
  }

private:
  struct Entry {
    std::shared_ptr<BusSession> session;
    // Set before the entry is published; thread itself is touched only by the
    // one that took the entry out.
    std::thread::id id;
    std::thread thread;
  };
  const std::shared_ptr<Entry> reserved_ = std::make_shared<Entry>();
  std::array<AtomicPointer<std::shared_ptr<Entry>>, kSlots> slots_{};
};

LoopThreads &loopThreads() {
  static LoopThreads threads;
  return threads;
}

} // namespace

std::shared_ptr<BusConnection> BusConnection::Open(const std::string &address) {
  loopThreads().JoinEnded();
  sdbus::Bus bus;
  const int r = sdbus::Bus::Open(address, bus);
  if (r < 0) raise_platform_error(HresultFromErrno(r) == kEFail ? kErrorNoBus : HresultFromErrno(r));
  std::shared_ptr<BusConnection> connection(new BusConnection());
  connection->session_ = std::make_shared<BusSession>(std::move(bus));
  // Reserved first, so a started thread always has a place to be joined from.
  const std::size_t slot = loopThreads().Reserve();
  std::thread thread;
  try {
    thread = std::thread([session = connection->session_] { session->Run(); });
  } catch (...) {
    loopThreads().Unreserve(slot);
    throw;
  }
  loopThreads().Add(slot, connection->session_, std::move(thread));
  return connection;
}

BusConnection::~BusConnection() {
  session_->RequestStop();
  loopThreads().Finish(session_.get());
}

} // namespace ble::bluez
