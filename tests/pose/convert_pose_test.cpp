#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "pose/pose_exchange.h"

namespace {
// The 30-degree tilt: cos and sin of its half-angle.
constexpr double kCosHalfTilt = 0.9659258262890683;
constexpr double kSinHalfTilt = 0.25881904510252074;

PoseRecord Identity(float x, float y, float z) {
  PoseRecord r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0f;
  r.m[0][3] = x, r.m[1][3] = y, r.m[2][3] = z;
  return r;
}

void ExpectFinite(const vr::DriverPose_t &p) {
  for (double v : {p.qRotation.w, p.qRotation.x, p.qRotation.y, p.qRotation.z}) EXPECT_TRUE(std::isfinite(v));
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::isfinite(p.vecPosition[i]));
    EXPECT_TRUE(std::isfinite(p.vecVelocity[i]));
    EXPECT_TRUE(std::isfinite(p.vecAngularVelocity[i]));
  }
}
} // namespace

TEST(ConvertPose, IdentityRotationIsTiltedAndShiftedAlongZ) {
  const vr::DriverPose_t p = ConvertPose(Identity(1, 2, 3));
  EXPECT_EQ(p.qRotation.w, kCosHalfTilt);
  EXPECT_EQ(p.qRotation.x, -kSinHalfTilt);
  EXPECT_EQ(p.qRotation.y, 0.0);
  EXPECT_EQ(p.qRotation.z, 0.0);
  EXPECT_EQ(p.vecPosition[0], 1.0);
  EXPECT_EQ(p.vecPosition[1], 2.0);
  EXPECT_EQ(p.vecPosition[2], 3.25);
}

TEST(ConvertPose, HalfTurnAboutYShiftsBackwards) {
  PoseRecord r{};
  r.m[0][0] = -1.0f, r.m[1][1] = 1.0f, r.m[2][2] = -1.0f;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_EQ(p.qRotation.w, 0.0);
  EXPECT_EQ(p.qRotation.x, 0.0);
  EXPECT_EQ(p.qRotation.y, kCosHalfTilt);
  EXPECT_EQ(p.qRotation.z, kSinHalfTilt);
  EXPECT_EQ(p.vecPosition[0], 0.0);
  EXPECT_EQ(p.vecPosition[1], 0.0);
  EXPECT_EQ(p.vecPosition[2], -0.25);
}

TEST(ConvertPose, AllZeroRecordIsAnInvalidDisconnectedPose) {
  const vr::DriverPose_t p = ConvertPose(PoseRecord{});
  EXPECT_EQ(p.qRotation.w, 0.6123724356957945);
  EXPECT_EQ(p.qRotation.x, 0.3535533905932738);
  EXPECT_EQ(p.qRotation.y, 0.3535533905932738);
  EXPECT_EQ(p.qRotation.z, 0.6123724356957945);
  for (double v : p.vecPosition) EXPECT_EQ(v, 0.0);
  EXPECT_FALSE(p.poseIsValid);
  EXPECT_FALSE(p.deviceIsConnected);
  EXPECT_EQ(static_cast<int>(p.result), 0);
}

TEST(ConvertPose, VelocitiesPassUnchangedAndFixedFieldsAreSet) {
  PoseRecord r = Identity(0, 0, 0);
  r.velocity[0] = 1, r.velocity[1] = 2, r.velocity[2] = 3;
  r.angularVelocity[0] = 4, r.angularVelocity[1] = 5, r.angularVelocity[2] = 6;
  r.result = vr::TrackingResult_Running_OK;
  r.poseIsValid = 1;
  r.deviceIsConnected = 1;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_EQ(p.vecVelocity[0], 1.0);
  EXPECT_EQ(p.vecVelocity[1], 2.0);
  EXPECT_EQ(p.vecVelocity[2], 3.0);
  EXPECT_EQ(p.vecAngularVelocity[0], 4.0);
  EXPECT_EQ(p.vecAngularVelocity[1], 5.0);
  EXPECT_EQ(p.vecAngularVelocity[2], 6.0);
  EXPECT_EQ(p.result, vr::TrackingResult_Running_OK);
  EXPECT_TRUE(p.poseIsValid);
  EXPECT_TRUE(p.deviceIsConnected);
  EXPECT_EQ(p.qWorldFromDriverRotation.w, 1.0);
  EXPECT_EQ(p.qDriverFromHeadRotation.w, 1.0);
  EXPECT_EQ(p.poseTimeOffset, 0.0);
  EXPECT_FALSE(p.willDriftInYaw);
  EXPECT_FALSE(p.shouldApplyHeadModel);
  for (double v : p.vecAcceleration) EXPECT_EQ(v, 0.0);
}

TEST(ConvertPose, AnyNonZeroFlagByteCountsAsTrue) {
  PoseRecord r = Identity(0, 0, 0);
  r.poseIsValid = 2;
  r.deviceIsConnected = 0xFF;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_TRUE(p.poseIsValid);
  EXPECT_TRUE(p.deviceIsConnected);
}

TEST(ConvertPose, ComponentSignsFollowTheOffDiagonalDifferences) {
  // 90 degrees about X: y' = z, z' = -y.
  PoseRecord r{};
  r.m[0][0] = 1.0f;
  r.m[1][2] = -1.0f, r.m[2][1] = 1.0f;
  const vr::DriverPose_t p = ConvertPose(r);
  const double half = 0.5 * std::sqrt(2.0);
  EXPECT_DOUBLE_EQ(p.qRotation.w, half * kCosHalfTilt + half * kSinHalfTilt);
  EXPECT_DOUBLE_EQ(p.qRotation.x, half * kCosHalfTilt - half * kSinHalfTilt);
  r.m[1][2] = 1.0f, r.m[2][1] = -1.0f;
  EXPECT_LT(ConvertPose(r).qRotation.x, 0.0);
}

TEST(ConvertPose, ShiftUsesTheThirdColumnBeforeTheTilt) {
  // Device +Z pointing along world +X (90 degrees about Y).
  PoseRecord r{};
  r.m[0][2] = 1.0f, r.m[1][1] = 1.0f, r.m[2][0] = -1.0f;
  r.m[0][3] = 5.0f;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_EQ(p.vecPosition[0], 5.25);
  EXPECT_EQ(p.vecPosition[1], 0.0);
  EXPECT_EQ(p.vecPosition[2], 0.0);
}

TEST(ConvertPose, NonFiniteNumbersMakeThePoseInvalidAndNeverReachTheHost) {
  const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()};
  for (float bad : values) {
    for (int field = 0; field < 18; ++field) {
      PoseRecord r = Identity(1, 2, 3);
      r.poseIsValid = 1;
      r.deviceIsConnected = 1;
      r.result = vr::TrackingResult_Running_OK;
      if (field < 12)
        r.m[field / 4][field % 4] = bad;
      else if (field < 15)
        r.velocity[field - 12] = bad;
      else
        r.angularVelocity[field - 15] = bad;
      const vr::DriverPose_t p = ConvertPose(r);
      SCOPED_TRACE(field);
      EXPECT_FALSE(p.poseIsValid);
      EXPECT_TRUE(p.deviceIsConnected);
      EXPECT_EQ(p.result, vr::TrackingResult_Running_OK);
      ExpectFinite(p);
    }
  }
  // The bad value reads as 0; the rest is converted as usual.
  PoseRecord r = Identity(1, 2, 3);
  r.m[0][3] = std::numeric_limits<float>::quiet_NaN();
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_EQ(p.vecPosition[0], 0.0);
  EXPECT_EQ(p.vecPosition[2], 3.25);
  EXPECT_EQ(p.qRotation.w, kCosHalfTilt);
}

TEST(ConvertPose, DiagonalBeyondTheFloatRangeGivesAnInvalidFinitePose) {
  PoseRecord r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = std::numeric_limits<float>::max();
  r.poseIsValid = 1;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_FALSE(p.poseIsValid);
  ExpectFinite(p);
}

TEST(ConvertPose, NonOrthonormalMatricesKeepEveryRootDefined) {
  PoseRecord r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = -3.0f;
  r.poseIsValid = 1;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_TRUE(p.poseIsValid);
  ExpectFinite(p);
  EXPECT_EQ(p.qRotation.w, kSinHalfTilt);
}

// Two tracked rotations, the record's floats exactly as a helper would write
// them, against quaternions worked out by hand from the float32 sums: the
// sums must stay in float32 (double sums move w by about 7.6e-9).
TEST(ConvertPose, RealisticRotationsMatchTheFloatSumsBitForBit) {
  struct Case {
    const char *what;
    float m[3][4];
    double q[4]; // w, x, y, z after the tilt
    double position[3];
  } cases[] = {
      {"37 degrees about (1, 2, 3)",
       {{0x1.a043fcp-1f, -0x1.d0a63cp-2f, 0x1.7596d6p-2f, 0x1.99999ap-4f},
        {0x1.05c80cp-1f, 0x1.b65baep-1f, -0x1.3153cp-4f, 0x1.333334p+0f},
        {-0x1.1d380cp-2f, 0x1.fa2502p-3f, 0x1.db2dd8p-1f, -0x1.99999ap-2f}},
       // w is 0.93795898774520414; with double sums it would be 0.93795899533407756
       {0x1.e03c2912b5b7ap-1, -0x1.4ee923acd5b30p-3, 0x1.9154a89968b4ap-4, 0x1.2896f12f59441p-2},
       {0x1.879838p-3, 0x1.2e6de5p+0, -0x1.58055cp-3}},
      {"123 degrees about (-0.3, 0.8, 0.52)",
       {{-0x1.9f69d2p-2f, -0x1.9cf8ecp-1f, 0x1.b840ep-2f, -0x1.8p+0f},
        {0x1.0c1bf8p-4f, 0x1.c62df4p-2f, 0x1.c9a884p-1f, 0x1.ccccccp-1f},
        {-0x1.d2c65ep-1f, 0x1.9023eep-2f, -0x1.045fbp-3f, 0x1.2p+1f}},
       {0x1.9219fa2761431p-2, -0x1.832ee0a0166adp-2, 0x1.1f1545e1984dep-1, 0x1.3f1af5731a5d3p-1},
       {-0x1.647bf2p+0, 0x1.1f9b768p+0, 0x1.1bee814p+1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    PoseRecord r{};
    std::memcpy(r.m, c.m, sizeof r.m);
    const vr::DriverPose_t p = ConvertPose(r);
    EXPECT_EQ(p.qRotation.w, c.q[0]);
    EXPECT_EQ(p.qRotation.x, c.q[1]);
    EXPECT_EQ(p.qRotation.y, c.q[2]);
    EXPECT_EQ(p.qRotation.z, c.q[3]);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p.vecPosition[i], c.position[i]) << i;
  }
}

// The tracking result is the helper's to set and reaches the host as written,
// whatever int32 it is; reading it back here goes through its bytes too.
TEST(ConvertPose, AnyTrackingResultPassesUnchanged) {
  for (int32_t result : {0, 1, 200, 201, 300, 511, 512, -1, 1000000, INT32_MIN, INT32_MAX}) {
    PoseRecord r = Identity(0, 0, 0);
    r.result = result;
    const vr::DriverPose_t p = ConvertPose(r);
    int32_t passed = 0;
    std::memcpy(&passed, &p.result, sizeof passed);
    EXPECT_EQ(passed, result);
  }
}

// An overflowing rotation must not hand the host (0, 0, 0, 0), which it
// would normalise into NaN: the identity, with the pose not valid.
TEST(ConvertPose, AnOverflowingRotationIsTheIdentity) {
  PoseRecord r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = std::numeric_limits<float>::max();
  r.poseIsValid = 1;
  const vr::DriverPose_t p = ConvertPose(r);
  EXPECT_FALSE(p.poseIsValid);
  EXPECT_EQ(p.qRotation.w, 1.0);
  EXPECT_EQ(p.qRotation.x, 0.0);
  EXPECT_EQ(p.qRotation.y, 0.0);
  EXPECT_EQ(p.qRotation.z, 0.0);
}
