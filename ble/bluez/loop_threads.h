#pragma once

// The process-wide registry of loop threads. The module must not be unloaded
// while one runs, yet a connection can end on its own loop thread (a handler
// or a reply held the last reference), where it cannot be joined. Such threads
// stay here until a later connection, or the registry's destructor at unload,
// joins them.
//
// Only the link worker and the loop threads come here, never a host thread or
// a platform event handler, so a plain lock guards the list; no thread is
// joined while it is held.

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace ble::bluez {

class BusSession;

class LoopThreads {
public:
  static LoopThreads &Instance();

  LoopThreads() = default;
  ~LoopThreads();
  LoopThreads(const LoopThreads &) = delete;
  LoopThreads &operator=(const LoopThreads &) = delete;

  static constexpr std::size_t kMostThreads = 64;

  // Starts the thread that runs the session, and keeps it until joined;
  // raises (busy) when kMostThreads are kept already.
  void Start(std::shared_ptr<BusSession> session);
  // Joins the session's thread, unless called on it.
  void Finish(const BusSession *session);
  // Joins the threads whose loop has ended.
  void JoinEnded();

private:
  struct Entry {
    std::shared_ptr<BusSession> session;
    std::thread thread;
  };
  static void Join(std::list<Entry> &entries);

  std::mutex mutex_;
  std::list<Entry> entries_;
};

} // namespace ble::bluez
