#include "ble/sim/event_threads.h"

#include <utility>

namespace ble::sim {

EventThreads::EventThreads(unsigned count) {
  for (unsigned i = 0; i < (count ? count : 1); ++i) threads_.emplace_back([this] { Run(); });
}

EventThreads::~EventThreads() {
  Stop();
}

void EventThreads::Post(std::function<void()> work, std::chrono::milliseconds delay) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    // Equal times keep their posting order.
    queue_.emplace(Clock::now() + delay, std::move(work));
  }
  wake_.notify_one();
}

void EventThreads::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || (queue_.empty() && running_ == 0); });
}

void EventThreads::Stop() {
  decltype(queue_) dropped;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    dropped.swap(queue_);
  }
  wake_.notify_all();
  idle_.notify_all();
  for (std::thread &thread : threads_) thread.join();
  threads_.clear();
}

void EventThreads::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (queue_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto first = queue_.begin();
    if (first->first > Clock::now()) {
      // A copy: while this thread waits, another may run and erase the entry.
      const Clock::time_point due = first->first;
      wake_.wait_until(lock, due);
      continue;
    }
    std::function<void()> work = std::move(first->second);
    queue_.erase(first);
    ++running_;
    lock.unlock();
    work();
    work = nullptr;
    lock.lock();
    --running_;
    if (queue_.empty() && running_ == 0) idle_.notify_all();
  }
}

} // namespace ble::sim
