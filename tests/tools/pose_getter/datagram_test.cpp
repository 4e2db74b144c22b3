#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "tools/pose_getter/pose_datagram.h"

namespace {
PoseRecord Sample() {
  PoseRecord r{};
  for (int i = 0; i < 12; ++i) r.m[i / 4][i % 4] = 0.5f * static_cast<float>(i) - 1.0f;
  r.velocity[0] = 1.5f, r.velocity[2] = -2.0f;
  r.angularVelocity[1] = 3.25f;
  r.result = vr::TrackingResult_Running_OK;
  r.poseIsValid = 1;
  r.deviceIsConnected = 1;
  return r;
}
} // namespace

TEST(PoseDatagram, AWellFormedDatagramGivesTheRecordItCarries) {
  const PoseRecord sent = Sample();
  const auto bytes = EncodePoseDatagram(sent);
  PoseRecord got{};
  ASSERT_TRUE(ParsePoseDatagram(bytes.data(), bytes.size(), got));
  EXPECT_EQ(std::memcmp(&got, &sent, sizeof got), 0);
}

TEST(PoseDatagram, TheLayoutIsLittleEndianAtTheDocumentedOffsets) {
  uint8_t d[80] = {1, 0x02, 0, 0, 201, 0, 0, 0};
  const float x = 0.75f; // m[0][3], at 8 + 4 * 3
  std::memcpy(d + 20, &x, 4);
  const float wz = -4.0f; // angular velocity z, at 76
  std::memcpy(d + 76, &wz, 4);
  PoseRecord r{};
  ASSERT_TRUE(ParsePoseDatagram(d, sizeof d, r));
  EXPECT_EQ(r.result, vr::TrackingResult_Running_OutOfRange);
  EXPECT_EQ(r.poseIsValid, 0);
  EXPECT_EQ(r.deviceIsConnected, 1);
  EXPECT_EQ(r.m[0][3], 0.75f);
  EXPECT_EQ(r.angularVelocity[2], -4.0f);
}

TEST(PoseDatagram, GarbageIsNeverAccepted) {
  const auto good = EncodePoseDatagram(Sample());
  PoseRecord untouched = Sample();
  untouched.m[0][0] = 42.0f;
  auto rejected = [&](const uint8_t *data, std::size_t size) {
    PoseRecord out = untouched;
    const bool ok = ParsePoseDatagram(data, size, out);
    return !ok && std::memcmp(&out, &untouched, sizeof out) == 0;
  };

  EXPECT_TRUE(rejected(nullptr, 80));
  EXPECT_TRUE(rejected(good.data(), 79));
  uint8_t longer[81] = {};
  std::memcpy(longer, good.data(), 80);
  EXPECT_TRUE(rejected(longer, 81));
  EXPECT_TRUE(rejected(good.data(), 0));

  auto mutated = [&](std::size_t offset, uint8_t value) {
    auto d = good;
    d[offset] = value;
    return rejected(d.data(), d.size());
  };
  EXPECT_TRUE(mutated(0, 0)) << "version 0";
  EXPECT_TRUE(mutated(0, 2)) << "version 2";
  EXPECT_TRUE(mutated(1, 0x04)) << "unknown flag";
  EXPECT_TRUE(mutated(2, 1)) << "reserved byte";
  EXPECT_TRUE(mutated(3, 1)) << "reserved byte";
  EXPECT_TRUE(mutated(4, 199)) << "unknown tracking result";
  EXPECT_TRUE(mutated(7, 0x80)) << "negative tracking result";

  const float nonFinite[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
  for (float bad : nonFinite)
    for (std::size_t offset = 8; offset < 80; offset += 4) {
      auto d = good;
      std::memcpy(d.data() + offset, &bad, 4);
      EXPECT_TRUE(rejected(d.data(), d.size())) << "non-finite at " << offset;
    }
}
