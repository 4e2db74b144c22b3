#pragma once

// Work handed to the loop thread by the link worker and other loop threads,
// run in the order it was pushed. Only the backend's own threads push, so a
// plain lock guards the queue, and tasks run outside it. The threading rule:
// no lock on a host thread or inside a platform event handler; the frame path
// and the handlers stay lock-free. Closing makes every later Push fail.

#include <deque>
#include <functional>
#include <mutex>

namespace ble::bluez {

class PostQueue {
public:
  PostQueue() = default;
  // Tasks that never ran are destroyed here.
  ~PostQueue() = default;
  PostQueue(const PostQueue &) = delete;
  PostQueue &operator=(const PostQueue &) = delete;

  // Any backend thread. False once closed: the task is destroyed without running.
  bool Push(std::function<void()> task);

  // Consumer only, and only before Close succeeds. Runs what has been pushed
  // so far, oldest first; tasks pushed meanwhile wait for the next call.
  // Returns whether any task ran.
  bool RunAll();

  // Consumer only. Closes when nothing waits; false (and still open) when
  // tasks arrived first, which the caller runs before trying again.
  bool TryClose();

  bool Closed() const;

private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool closed_ = false;
};

} // namespace ble::bluez
