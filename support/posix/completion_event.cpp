#include "support/completion_event.h"

#include <algorithm>
#include <thread>

CompletionEvent::CompletionEvent() = default;
CompletionEvent::~CompletionEvent() = default;

void CompletionEvent::Set() noexcept {
  state_.store(1, std::memory_order_release);
  state_.notify_all();
}

void CompletionEvent::Wait() noexcept {
  while (state_.load(std::memory_order_acquire) == 0) state_.wait(0, std::memory_order_acquire);
}

// std::atomic cannot wait with a time limit; the bounded wait is short and
// rare (one per connection step), so it sleeps in slices that grow to 16 ms.
bool CompletionEvent::WaitFor(std::chrono::milliseconds time) noexcept {
  const auto end = std::chrono::steady_clock::now() + time;
  auto slice = std::chrono::milliseconds(1);
  while (state_.load(std::memory_order_acquire) == 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(slice, end - now));
    slice = std::min(slice * 2, std::chrono::milliseconds(16));
  }
  return true;
}
