#pragma once

// Work handed to one consumer thread by any number of producers, without a
// lock: producers push onto an atomic list head, the consumer takes the whole
// list at once and runs it in the order it was pushed. Closing swaps in a
// mark that makes every later Push fail.

#include <atomic>
#include <functional>

namespace ble::bluez {

class PostQueue {
public:
  PostQueue() = default;
  // Tasks that never ran are destroyed here.
  ~PostQueue();
  PostQueue(const PostQueue &) = delete;
  PostQueue &operator=(const PostQueue &) = delete;

  // Any thread. False once closed: the task is destroyed without running.
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
  struct Node {
    std::function<void()> task;
    Node *next = nullptr;
  };
  static Node *ClosedMark();
  static void Free(Node *list);

  std::atomic<Node *> head_{nullptr};
};

} // namespace ble::bluez
