#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <typeinfo>

#include "support/async_operation.h"
#include "support/blocking_wait.h"

using namespace std::chrono_literals;

namespace {

// A pending operation that counts what the waiter asks of it.
template <class T> class CountingOperation final : public PendingOperation<T> {
public:
  void Completed(std::shared_ptr<AsyncCompletedHandler> handler) override {
    ++registrations;
    PendingOperation<T>::Completed(std::move(handler));
  }
  HRESULT GetResults(T &result) override {
    ++resultRequests;
    if (resultsOverride) return *resultsOverride;
    return PendingOperation<T>::GetResults(result);
  }
  void Cancel() override {
    ++cancelRequests;
    if (!ignoresCancel) PendingOperation<T>::Cancel();
  }

  std::atomic<int> registrations{0};
  std::atomic<int> resultRequests{0};
  std::atomic<int> cancelRequests{0};
  bool ignoresCancel = false;
  std::optional<HRESULT> resultsOverride;
};

TEST(BlockingGet, AnOperationAlreadyCompletedRegistersNothing) {
  CountingOperation<int> operation;
  operation.Complete(7);
  EXPECT_EQ(blocking_get(operation), 7);
  EXPECT_EQ(operation.registrations, 0);
}

TEST(BlockingGet, ACanceledOperationRaisesWithoutAskingForResults) {
  CountingOperation<int> operation;
  operation.FinishCanceled();
  try {
    blocking_get(operation);
    FAIL();
  } catch (const hresult_canceled &error) {
    EXPECT_EQ(error.code(), static_cast<HRESULT>(0x800704C7));
  }
  EXPECT_EQ(operation.resultRequests, 0);
  EXPECT_EQ(operation.registrations, 0);
}

TEST(BlockingGet, WaitsForACompletionFromAnotherThread) {
  auto operation = std::make_shared<CountingOperation<std::shared_ptr<int>>>();
  std::thread platform([operation] {
    while (operation->registrations == 0) std::this_thread::yield();
    std::this_thread::sleep_for(5ms);
    operation->Complete(std::make_shared<int>(42));
  });
  auto result = blocking_get(*operation);
  platform.join();
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, 42);
  EXPECT_EQ(operation->registrations, 1);
}

TEST(BlockingGet, ACancelWhileWaitingRaisesCanceled) {
  CountingOperation<int> operation;
  std::thread platform([&] {
    while (operation.registrations == 0) std::this_thread::yield();
    operation.FinishCanceled();
  });
  EXPECT_THROW(blocking_get(operation), hresult_canceled);
  platform.join();
  EXPECT_EQ(operation.resultRequests, 0);
}

TEST(BlockingGet, AnErrorRaisesTheClassOfItsCode) {
  CountingOperation<int> denied;
  denied.Fail(kEAccessDenied);
  EXPECT_THROW(blocking_get(denied), hresult_access_denied);

  CountingOperation<int> failed;
  failed.Fail(kEFail);
  try {
    blocking_get(failed);
    FAIL();
  } catch (const hresult_error &error) {
    EXPECT_EQ(typeid(error), typeid(hresult_error));
    EXPECT_EQ(error.code(), kEFail);
  }

  CountingOperation<int> outOfMemory;
  outOfMemory.Fail(kEOutOfMemory);
  EXPECT_THROW(blocking_get(outOfMemory), std::bad_alloc);
}

TEST(BlockingGet, AnErrorIsRaisedEvenWhenGetResultsClaimsSuccess) {
  CountingOperation<int> operation;
  operation.Fail(kEAccessDenied);
  operation.resultsOverride = kSOk;
  EXPECT_THROW(blocking_get(operation), hresult_access_denied);
}

TEST(BlockingGet, AFailingGetResultsOnACompletedOperationIsRaised) {
  CountingOperation<int> operation;
  operation.Complete(1);
  operation.resultsOverride = kEChangedState;
  EXPECT_THROW(blocking_get(operation), hresult_changed_state);
}

TEST(BoundedBlockingGet, ReturnsTheResultOfACompletionInTime) {
  auto operation = std::make_shared<CountingOperation<int>>();
  std::atomic<bool> keepRunning{true};
  std::thread platform([operation] {
    std::this_thread::sleep_for(10ms);
    operation->Complete(5);
  });
  EXPECT_EQ(blocking_get(*operation, keepRunning, 5s), 5);
  platform.join();
  EXPECT_EQ(operation->cancelRequests, 0);
}

TEST(BoundedBlockingGet, EndsPromptlyWhenTheStopFlagFalls) {
  auto operation = std::make_shared<CountingOperation<int>>();
  operation->ignoresCancel = true; // the platform never answers
  std::atomic<bool> keepRunning{true};
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);
    keepRunning = false;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(blocking_get(*operation, keepRunning, 60s), hresult_canceled);
  const auto waited = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(operation->cancelRequests, 1);
  EXPECT_EQ(operation->resultRequests, 0);
}

TEST(BoundedBlockingGet, AStopBeforeTheWaitCancelsAtOnce) {
  CountingOperation<int> operation;
  std::atomic<bool> keepRunning{false};
  EXPECT_THROW(blocking_get(operation, keepRunning, 60s), hresult_canceled);
  EXPECT_EQ(operation.cancelRequests, 1);
  EXPECT_EQ(operation.Status(), AsyncStatus::Canceled);
}

TEST(BoundedBlockingGet, TimesOutWithItsOwnError) {
  CountingOperation<int> operation;
  operation.ignoresCancel = true;
  std::atomic<bool> keepRunning{true};
  const auto start = std::chrono::steady_clock::now();
  try {
    blocking_get(operation, keepRunning, 30ms);
    FAIL();
  } catch (const hresult_wait_timeout &error) {
    EXPECT_EQ(error.code(), static_cast<HRESULT>(0x800705B4));
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 30ms);
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(operation.cancelRequests, 1);
}

TEST(BoundedBlockingGet, AnOperationThatEndsAfterAnAbandonedWaitFindsItsHandlerAlive) {
  auto operation = std::make_shared<CountingOperation<int>>();
  operation->ignoresCancel = true;
  std::atomic<bool> keepRunning{true};
  EXPECT_THROW(blocking_get(*operation, keepRunning, 1ms), hresult_wait_timeout);
  // The waiter is gone; the platform finishes now and calls the record it still holds.
  std::thread platform([operation] { operation->Complete(3); });
  platform.join();
  EXPECT_EQ(operation->Status(), AsyncStatus::Completed);
}

TEST(BoundedBlockingGet, AHugeTimeLimitDoesNotOverflow) {
  CountingOperation<int> operation;
  std::atomic<bool> keepRunning{true};
  std::thread platform([&] {
    while (operation.registrations == 0) std::this_thread::yield();
    operation.Complete(9);
  });
  EXPECT_EQ(blocking_get(operation, keepRunning, std::chrono::milliseconds::max()), 9);
  platform.join();
}

TEST(PendingOperation, ALateRegistrationRunsTheHandlerAtOnce) {
  struct Recorder final : AsyncCompletedHandler {
    HRESULT Invoke(AsyncStatus status) noexcept override {
      seen = status;
      ++calls;
      return kSOk;
    }
    AsyncStatus seen = AsyncStatus::Started;
    int calls = 0;
  };
  PendingOperation<int> operation;
  operation.Fail(kEAccessDenied);
  auto recorder = std::make_shared<Recorder>();
  operation.Completed(recorder);
  EXPECT_EQ(recorder->calls, 1);
  EXPECT_EQ(recorder->seen, AsyncStatus::Error);
  EXPECT_THROW(operation.Completed(recorder), hresult_illegal_delegate_assignment);
  EXPECT_FALSE(operation.Complete(1)); // the first ending stays
  EXPECT_EQ(operation.ErrorCode(), kEAccessDenied);
}

TEST(PendingOperation, RacingRegistrationAndCompletionRunTheHandlerExactlyOnce) {
  struct Counter final : AsyncCompletedHandler {
    HRESULT Invoke(AsyncStatus) noexcept override {
      ++calls;
      return kSOk;
    }
    std::atomic<int> calls{0};
  };
  for (int round = 0; round < 300; ++round) {
    PendingOperation<int> operation;
    auto counter = std::make_shared<Counter>();
    std::atomic<bool> go{false};
    std::thread finisher([&] {
      while (!go) std::this_thread::yield();
      operation.Complete(round);
    });
    std::thread canceler([&] {
      while (!go) std::this_thread::yield();
      operation.Cancel();
    });
    go = true;
    operation.Completed(counter);
    finisher.join();
    canceler.join();
    ASSERT_EQ(counter->calls, 1) << round;
  }
}

} // namespace
