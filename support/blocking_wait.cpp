#include "support/blocking_wait.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "support/completion_event.h"

namespace {

// The shared state of one wait. It is itself the completion handler, so the
// platform's reference keeps it (and its event) alive after an abandoned wait.
class CompletionRecord final : public AsyncCompletedHandler {
public:
  HRESULT Invoke(AsyncStatus status) noexcept override {
    // The status is stored before the event is set; a second call changes nothing.
    auto expected = static_cast<std::int32_t>(AsyncStatus::Started);
    status_.compare_exchange_strong(expected, static_cast<std::int32_t>(status));
    event.Set();
    return kSOk;
  }
  AsyncStatus Status() const noexcept { return static_cast<AsyncStatus>(status_.load()); }

  CompletionEvent event;

private:
  std::atomic<std::int32_t> status_{static_cast<std::int32_t>(AsyncStatus::Started)};
};

constexpr auto kStopCheckPeriod = std::chrono::milliseconds(20);
// Keeps "now + timeout" inside the clock's range for callers that pass a huge limit.
constexpr auto kLongestWait = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::hours(24 * 365 * 100));

void AbandonOperation(AsyncInfo &operation) {
  // The wait ends whatever Cancel answers; the record stays with the platform.
  try {
    operation.Cancel();
  } catch (const hresult_error &) {
  }
}

} // namespace

AsyncStatus wait_for_completed(AsyncInfo &operation) {
  const AsyncStatus status = operation.Status();
  if (status != AsyncStatus::Started) return status;
  auto record = std::make_shared<CompletionRecord>();
  operation.Completed(record);
  record->event.Wait();
  return record->Status();
}

AsyncStatus wait_for_completed(AsyncInfo &operation, const std::atomic<bool> &keepRunning,
                               std::chrono::milliseconds timeout) {
  const AsyncStatus status = operation.Status();
  if (status != AsyncStatus::Started) return status;
  auto record = std::make_shared<CompletionRecord>();
  operation.Completed(record);
  const auto deadline = std::chrono::steady_clock::now() + std::min(timeout, kLongestWait);
  for (;;) {
    if (record->event.WaitFor(std::chrono::milliseconds(0))) return record->Status();
    if (!keepRunning.load()) {
      AbandonOperation(operation);
      throw hresult_canceled(new_error_info(kErrorCancelled));
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      AbandonOperation(operation);
      throw hresult_wait_timeout(new_error_info(kErrorTimeout));
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (record->event.WaitFor(std::min(left, kStopCheckPeriod))) return record->Status();
  }
}
