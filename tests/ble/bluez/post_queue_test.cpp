// The loop thread's task list: order, many producers, closing, and that no
// task is lost or leaked.
#include "ble/bluez/post_queue.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ble::bluez::PostQueue;

TEST(PostQueue, RunsTasksInTheOrderTheyWerePushed) {
  PostQueue queue;
  EXPECT_FALSE(queue.RunAll());
  std::vector<int> ran;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(queue.Push([&ran, i] { ran.push_back(i); }));
  EXPECT_TRUE(queue.RunAll());
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(queue.RunAll());
}

TEST(PostQueue, ATaskPushedByARunningTaskWaitsForTheNextRound) {
  PostQueue queue;
  std::vector<int> ran;
  queue.Push([&] {
    ran.push_back(1);
    queue.Push([&] { ran.push_back(3); });
  });
  queue.Push([&] { ran.push_back(2); });
  queue.RunAll();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  queue.RunAll();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(PostQueue, ClosingFailsWhileTasksWaitAndThenRefusesAndDestroysLaterTasks) {
  PostQueue queue;
  int ran = 0;
  queue.Push([&] { ++ran; });
  EXPECT_FALSE(queue.TryClose());
  EXPECT_FALSE(queue.Closed());
  queue.RunAll();
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(queue.TryClose());
  EXPECT_TRUE(queue.Closed());
  auto held = std::make_shared<int>(0);
  EXPECT_FALSE(queue.Push([&ran, held] { ++ran; }));
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(ran, 1);
}

TEST(PostQueue, TasksThatNeverRanAreDestroyedWithTheQueue) {
  auto held = std::make_shared<int>(0);
  {
    PostQueue queue;
    queue.Push([held] {});
    queue.Push([held] {});
    EXPECT_EQ(held.use_count(), 3);
  }
  EXPECT_EQ(held.use_count(), 1);
}

TEST(PostQueue, EveryProducersTasksRunOnceAndInTheirOrderWhileTheConsumerRuns) {
  constexpr int kProducers = 4;
  constexpr int kTasks = 20'000;
  PostQueue queue;
  std::vector<std::vector<int>> seen(kProducers);
  std::atomic<int> done{0};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kTasks; ++i) ASSERT_TRUE(queue.Push([&seen, p, i] { seen[p].push_back(i); }));
      done.fetch_add(1);
    });
  }
  while (done.load() < kProducers) queue.RunAll();
  for (auto &producer : producers) producer.join();
  while (!queue.TryClose()) queue.RunAll();
  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(seen[p].size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(seen[p][i], i);
  }
}

TEST(PostQueue, APushRacingTheCloseEitherRunsOrIsRefusedNeverLost) {
  for (int round = 0; round < 200; ++round) {
    PostQueue queue;
    std::atomic<int> accepted{0};
    int ran = 0;
    std::thread producer([&] {
      for (int i = 0; i < 50; ++i) {
        if (queue.Push([&ran] { ++ran; })) accepted.fetch_add(1);
      }
    });
    while (!queue.TryClose()) queue.RunAll();
    producer.join();
    ASSERT_EQ(ran, accepted.load());
  }
}

} // namespace
