#include "ble/bluez/loop_threads.h"

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bus_session.h"

namespace ble::bluez {

LoopThreads &LoopThreads::Instance() {
  static LoopThreads threads;
  return threads;
}

LoopThreads::~LoopThreads() {
  std::list<Entry> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(entries_);
  }
  for (auto &entry : all) {
    entry.session->RequestStop();
    if (entry.thread.get_id() != std::this_thread::get_id()) {
      entry.thread.join();
    } else {
      entry.thread.detach();
    }
  }
}

void LoopThreads::Start(std::shared_ptr<BusSession> session) {
  // The entry exists before the thread does, so a started thread always has a
  // place to be joined from: moving it into the list allocates nothing. The
  // lock is held across the start so the count cannot pass its bound.
  std::list<Entry> started(1);
  started.front().session = session;
  std::lock_guard lock(mutex_);
  // Threads that never get joined would otherwise pile up without limit.
  if (entries_.size() >= kMostThreads) raise_platform_error(kErrorBusy);
  started.front().thread = std::thread([session = std::move(session)] { session->Run(); });
  entries_.splice(entries_.end(), started);
}

void LoopThreads::Join(std::list<Entry> &entries) {
  for (auto &entry : entries) entry.thread.join();
}

void LoopThreads::Finish(const BusSession *session) {
  std::list<Entry> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->session.get() != session) continue;
      if (it->thread.get_id() != std::this_thread::get_id()) finished.splice(finished.end(), entries_, it);
      break;
    }
  }
  Join(finished);
}

void LoopThreads::JoinEnded() {
  std::list<Entry> ended;
  {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      const auto next = std::next(it);
      if (it->session->Finished() && it->thread.get_id() != std::this_thread::get_id()) {
        ended.splice(ended.end(), entries_, it);
      }
      it = next;
    }
  }
  Join(ended);
}

} // namespace ble::bluez
