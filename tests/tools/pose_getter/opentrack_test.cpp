// opentrack's UDP output: units, axes and signs, and what is dropped.
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include <gtest/gtest.h>

#include "tools/pose_getter/opentrack_datagram.h"
#include "tools/pose_getter/udp_feed.h"

namespace {
constexpr double kTol = 1e-6;

PoseRecord Parse(const OpentrackPose &pose) {
  const auto d = EncodeOpentrackDatagram(pose);
  PoseRecord r{};
  EXPECT_TRUE(ParseOpentrackDatagram(d.data(), d.size(), r));
  return r;
}

// The device's forward axis (-Z) in tracking space.
void ExpectForward(const PoseRecord &r, double x, double y, double z) {
  EXPECT_NEAR(-r.m[0][2], x, kTol);
  EXPECT_NEAR(-r.m[1][2], y, kTol);
  EXPECT_NEAR(-r.m[2][2], z, kTol);
}
} // namespace

TEST(Opentrack, CentimetresBecomeMetresOnTheHostsAxes) {
  const PoseRecord r = Parse({10, 20, -30, 0, 0, 0});
  // opentrack's +x is the user's left, +z backwards.
  EXPECT_NEAR(r.m[0][3], -0.10, kTol);
  EXPECT_NEAR(r.m[1][3], 0.20, kTol);
  EXPECT_NEAR(r.m[2][3], -0.30, kTol);
  EXPECT_EQ(r.poseIsValid, 1);
  EXPECT_EQ(r.deviceIsConnected, 1);
  EXPECT_EQ(r.result, vr::TrackingResult_Running_OK);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.velocity[i], 0.0f);
    EXPECT_EQ(r.angularVelocity[i], 0.0f);
  }
}

TEST(Opentrack, AnglesTurnAsInOpentrack) {
  // A yaw alone turns about the vertical axis, positive to the right.
  const PoseRecord yaw = Parse({0, 0, 0, 90, 0, 0});
  EXPECT_NEAR(yaw.m[1][1], 1.0, kTol);
  ExpectForward(yaw, 1, 0, 0);
  // Pitch positive looks up.
  ExpectForward(Parse({0, 0, 0, 0, 30, 0}), 0, std::sin(std::numbers::pi / 6), -std::cos(std::numbers::pi / 6));
  // Roll positive tilts to the left: the right side (+X) rises.
  const PoseRecord roll = Parse({0, 0, 0, 0, 0, 90});
  EXPECT_NEAR(roll.m[0][0], 0.0, kTol);
  EXPECT_NEAR(roll.m[1][0], 1.0, kTol);
  // Yaw first, then pitch about the turned axis: right 90 and up 45.
  ExpectForward(Parse({0, 0, 0, 90, 45, 0}), std::sqrt(0.5), std::sqrt(0.5), 0);
}

TEST(Opentrack, WrongSizesAndNonFiniteNumbersAreDropped) {
  const auto good = EncodeOpentrackDatagram({1, 2, 3, 4, 5, 6});
  PoseRecord r{};
  EXPECT_FALSE(ParseOpentrackDatagram(good.data(), 47, r));
  uint8_t longer[49] = {};
  std::memcpy(longer, good.data(), good.size());
  EXPECT_FALSE(ParseOpentrackDatagram(longer, sizeof longer, r));
  EXPECT_FALSE(ParseOpentrackDatagram(nullptr, 48, r));
  for (int field = 0; field < 6; ++field)
    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
      OpentrackPose p{1, 2, 3, 4, 5, 6};
      (&p.x)[field] = bad;
      const auto d = EncodeOpentrackDatagram(p);
      EXPECT_FALSE(ParseOpentrackDatagram(d.data(), d.size(), r)) << "field " << field;
    }
  // Finite, but beyond what the block's floats hold.
  const auto huge = EncodeOpentrackDatagram({1e300, 0, 0, 0, 0, 0});
  EXPECT_FALSE(ParseOpentrackDatagram(huge.data(), huge.size(), r));
}

TEST(Opentrack, TheFeedCountsDropsAndGoesStaleAfterOneHundredMilliseconds) {
  using namespace std::chrono_literals;
  const auto t0 = UdpFeed::Clock::now();
  UdpFeed feed(t0, &ParseOpentrackDatagram);
  const auto good = EncodeOpentrackDatagram({0, 100, 0, 0, 0, 0});
  ASSERT_TRUE(feed.OnDatagram(good.data(), good.size(), t0));
  // Our own 80-byte format is not opentrack's.
  uint8_t ours[80] = {1, 3};
  EXPECT_FALSE(feed.OnDatagram(ours, sizeof ours, t0 + 1ms));
  EXPECT_EQ(feed.dropped(), 1u);
  EXPECT_FALSE(feed.OnTick(t0 + 99ms));
  const auto stale = feed.OnTick(t0 + 100ms);
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->poseIsValid, 0);
  EXPECT_NEAR(stale->m[1][3], 1.0, kTol);
}
