#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace ble::sim {

// The simulated radio's own threads: run posted work, in due-time order,
// outside any caller's thread.
class EventThreads {
public:
  explicit EventThreads(unsigned count);
  ~EventThreads();
  EventThreads(const EventThreads &) = delete;
  EventThreads &operator=(const EventThreads &) = delete;

  void Post(std::function<void()> work, std::chrono::milliseconds delay = {});
  // Until nothing is queued (delayed work included) and nothing runs. Never
  // call it from posted work.
  void WaitIdle();
  // Joins the threads; work still queued is dropped.
  void Stop();

private:
  void Run();

  using Clock = std::chrono::steady_clock;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::multimap<Clock::time_point, std::function<void()>> queue_;
  unsigned running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

} // namespace ble::sim
