#include <gtest/gtest.h>

#include "tools/pose_getter/pose_datagram.h"
#include "tools/pose_getter/udp_feed.h"

namespace {
using namespace std::chrono_literals;

PoseRecord Moving() {
  PoseRecord r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0f;
  r.m[1][3] = 1.2f;
  r.velocity[0] = 0.5f;
  r.angularVelocity[2] = 1.0f;
  r.result = vr::TrackingResult_Running_OK;
  r.poseIsValid = 1;
  r.deviceIsConnected = 1;
  return r;
}
} // namespace

TEST(UdpFeed, EveryWellFormedDatagramIsWrittenAndGarbageIsCountedNotWritten) {
  const auto t0 = UdpFeed::Clock::now();
  UdpFeed feed(t0);
  const auto good = EncodePoseDatagram(Moving());
  const auto written = feed.OnDatagram(good.data(), good.size(), t0);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->m[1][3], 1.2f);

  auto bad = good;
  bad[0] = 9;
  EXPECT_FALSE(feed.OnDatagram(bad.data(), bad.size(), t0 + 1ms));
  EXPECT_FALSE(feed.OnDatagram(good.data(), 12, t0 + 2ms));
  EXPECT_EQ(feed.accepted(), 1u);
  EXPECT_EQ(feed.dropped(), 2u);
}

TEST(UdpFeed, SilenceOfOneHundredMillisecondsMakesThePoseNotValidOnce) {
  const auto t0 = UdpFeed::Clock::now();
  UdpFeed feed(t0);
  const auto good = EncodePoseDatagram(Moving());
  feed.OnDatagram(good.data(), good.size(), t0);

  EXPECT_FALSE(feed.OnTick(t0 + 99ms));
  EXPECT_EQ(feed.TimeUntilStale(t0 + 99ms), 1ms);
  // Garbage does not keep the pose alive.
  feed.OnDatagram(good.data(), 3, t0 + 99ms);
  const auto stale = feed.OnTick(t0 + 100ms);
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->poseIsValid, 0);
  EXPECT_EQ(stale->deviceIsConnected, 0);
  EXPECT_EQ(stale->m[1][3], 1.2f) << "left where it was last seen";
  EXPECT_EQ(stale->velocity[0], 0.0f);
  EXPECT_EQ(stale->angularVelocity[2], 0.0f);
  EXPECT_FALSE(feed.OnTick(t0 + 300ms)) << "written once";

  const auto fresh = feed.OnDatagram(good.data(), good.size(), t0 + 400ms);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->poseIsValid, 1);
  EXPECT_FALSE(feed.OnTick(t0 + 450ms));
  EXPECT_TRUE(feed.OnTick(t0 + 500ms));
}

TEST(UdpFeed, WithoutAnyDatagramTheBlockIsMarkedNotValidAfterTheFirstSilence) {
  const auto t0 = UdpFeed::Clock::now();
  UdpFeed feed(t0);
  EXPECT_FALSE(feed.OnTick(t0 + 50ms));
  const auto stale = feed.OnTick(t0 + 100ms);
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->poseIsValid, 0);
}
