#include "ble/bluez/post_queue.h"

#include <utility>

namespace ble::bluez {

bool PostQueue::Push(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (!closed_) {
      tasks_.push_back(std::move(task));
      return true;
    }
  }
  // Refused: the task goes now, outside the lock, whatever it holds.
  task = nullptr;
  return false;
}

bool PostQueue::RunAll() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  // What a throwing task leaves unrun is destroyed with the batch.
  for (auto &task : batch) task();
  return !batch.empty();
}

bool PostQueue::TryClose() {
  std::lock_guard lock(mutex_);
  if (!tasks_.empty()) return false;
  closed_ = true;
  return true;
}

bool PostQueue::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

} // namespace ble::bluez
