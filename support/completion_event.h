#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// A manual-reset event, created not signalled, for one blocking wait. Each
// platform implements it in its own folder.
class CompletionEvent {
public:
  CompletionEvent();
  ~CompletionEvent();
  CompletionEvent(const CompletionEvent &) = delete;
  CompletionEvent &operator=(const CompletionEvent &) = delete;

  void Set() noexcept;
  void Wait() noexcept;
  // True when set within `time`; a time of zero only looks.
  bool WaitFor(std::chrono::milliseconds time) noexcept;

private:
  // Off Windows the event is this word; on Windows a system event handle.
  std::atomic<std::uint32_t> state_{0};
  void *handle_ = nullptr;
};
