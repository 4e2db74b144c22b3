// Handler lists shared by the threads that add and revoke handlers and the
// loop thread that delivers.
#include "ble/bluez/event_list.h"

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ble::EventToken;
using ble::bluez::EventList;
using Handler = std::function<void(int)>;

void Deliver(const EventList<Handler> &list, int value) {
  list.ForEach([&](const Handler &handler) { handler(value); });
}

TEST(EventList, DeliversToEachHandlerUntilItIsRevoked) {
  EventList<Handler> list;
  int a = 0;
  int b = 0;
  const EventToken first = list.Add([&](int v) { a += v; });
  list.Add([&](int v) { b += v; });
  Deliver(list, 1);
  list.Remove(first);
  Deliver(list, 10);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 11);
  // An unknown or repeated revocation changes nothing.
  list.Remove(first);
  list.Remove(EventToken{999});
  EXPECT_EQ(list.Snapshot().size(), 1u);
}

TEST(EventList, ADeliveryUnderWayKeepsTheHandlerItStartedWith) {
  EventList<Handler> list;
  int calls = 0;
  const EventToken token = list.Add([&](int) { ++calls; });
  auto running = list.Snapshot();
  list.Remove(token);
  // The revoked handler is still alive for the delivery that had started.
  for (const auto &[t, handler] : running) (*handler)(0);
  EXPECT_EQ(calls, 1);
  Deliver(list, 0);
  EXPECT_EQ(calls, 1);
}

TEST(EventList, AHandlerMayAddAndRevokeHandlersDuringADelivery) {
  EventList<Handler> list;
  int later = 0;
  EventToken self{};
  self = list.Add([&](int) {
    list.Remove(self);
    list.Add([&](int) { ++later; });
  });
  Deliver(list, 0);
  EXPECT_EQ(later, 0);
  Deliver(list, 0);
  EXPECT_EQ(later, 1);
}

TEST(EventList, AnEmptyHandlerIsRefused) {
  EventList<Handler> list;
  EXPECT_THROW(list.Add(Handler{}), hresult_invalid_argument);
}

TEST(EventList, ConcurrentAddsAndRemovesLoseNoChangeAndTokensAreUnique) {
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  EventList<Handler> list;
  std::vector<std::vector<EventToken>> kept(kThreads);
  std::atomic<bool> running{true};
  std::thread reader([&] {
    while (running.load()) Deliver(list, 0);
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const EventToken token = list.Add([](int) {});
        // Every other handler is revoked again at once.
        if (i % 2) {
          list.Remove(token);
        } else {
          kept[t].push_back(token);
        }
      }
    });
  }
  for (auto &writer : writers) writer.join();
  running = false;
  reader.join();
  std::set<std::int64_t> expected;
  for (const auto &tokens : kept) {
    for (const auto &token : tokens) EXPECT_TRUE(expected.insert(token.value).second);
  }
  std::set<std::int64_t> present;
  const auto entries = list.Snapshot();
  for (const auto &[token, handler] : entries) EXPECT_TRUE(present.insert(token).second);
  EXPECT_EQ(present, expected);
  EXPECT_EQ(present.size(), static_cast<std::size_t>(kThreads * kEach / 2));
}

} // namespace
