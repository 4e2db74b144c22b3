// The angle convention and the mount offset, against hand-computed cases.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

#include <gtest/gtest.h>

#include "tools/pose_getter/pose_math.h"

namespace {
constexpr double kTol = 1e-6;

void Turn(const Rotation &r, const double (&v)[3], double (&out)[3]) {
  for (int i = 0; i < 3; ++i) out[i] = r.m[i][0] * v[0] + r.m[i][1] * v[1] + r.m[i][2] * v[2];
}

void ExpectVector(const double (&v)[3], double x, double y, double z) {
  EXPECT_NEAR(v[0], x, kTol);
  EXPECT_NEAR(v[1], y, kTol);
  EXPECT_NEAR(v[2], z, kTol);
}

PoseRecord DeviceAt(float x, float y, float z, YawPitchRoll angles = {0, 0, 0}) {
  const Rotation r = RotationFromYawPitchRoll(angles);
  PoseRecord p{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) p.m[i][j] = static_cast<float>(r.m[i][j]);
  p.m[0][3] = x, p.m[1][3] = y, p.m[2][3] = z;
  p.result = vr::TrackingResult_Running_OK;
  p.poseIsValid = 1;
  p.deviceIsConnected = 1;
  return p;
}

constexpr double kForward[3] = {0, 0, -1};
constexpr double kRight[3] = {1, 0, 0};
} // namespace

TEST(PoseMath, EachAngleTurnsTheWayTheDocumentSays) {
  double v[3];
  Turn(RotationFromYawPitchRoll({90, 0, 0}), kForward, v);
  ExpectVector(v, -1, 0, 0); // yaw left
  Turn(RotationFromYawPitchRoll({0, 90, 0}), kForward, v);
  ExpectVector(v, 0, 1, 0); // pitch up
  Turn(RotationFromYawPitchRoll({0, 0, 90}), kRight, v);
  ExpectVector(v, 0, 1, 0); // roll raises the right side
  // Pitch turns about the axis the yaw left behind: yaw left 90, pitch up 45.
  Turn(RotationFromYawPitchRoll({90, 45, 0}), kForward, v);
  ExpectVector(v, -std::sqrt(0.5), std::sqrt(0.5), 0);
}

TEST(PoseMath, AnglesComeBackFromTheirRotationAlsoLookingStraightUp) {
  for (const YawPitchRoll a : {YawPitchRoll{30, -20, 10}, YawPitchRoll{-170, 80, -95}, YawPitchRoll{0, 0, 0}}) {
    const YawPitchRoll b = YawPitchRollFromRotation(RotationFromYawPitchRoll(a));
    EXPECT_NEAR(b.yaw, a.yaw, 1e-9);
    EXPECT_NEAR(b.pitch, a.pitch, 1e-9);
    EXPECT_NEAR(b.roll, a.roll, 1e-9);
  }
  // Straight up: yaw and roll share one axis; the forward direction survives.
  const Rotation up = RotationFromYawPitchRoll({40, 90, 0});
  const YawPitchRoll b = YawPitchRollFromRotation(up);
  EXPECT_NEAR(b.pitch, 90, 1e-6);
  double v[3], w[3];
  Turn(up, kRight, v);
  Turn(RotationFromYawPitchRoll(b), kRight, w);
  ExpectVector(w, v[0], v[1], v[2]);
}

TEST(PoseMath, TheMountPositionIsInTheFollowedDevicesOwnFrame) {
  MountOffset mount;
  mount.position[1] = -0.05; // 5 cm below
  mount.position[2] = -0.10; // 10 cm ahead
  const PoseRecord straight = ApplyMount(DeviceAt(1, 2, 3), mount);
  EXPECT_NEAR(straight.m[0][3], 1.0, kTol);
  EXPECT_NEAR(straight.m[1][3], 1.95, kTol);
  EXPECT_NEAR(straight.m[2][3], 2.90, kTol);

  // The device turned left by 90 degrees: "ahead" is now -X.
  const PoseRecord turned = ApplyMount(DeviceAt(1, 2, 3, {90, 0, 0}), mount);
  EXPECT_NEAR(turned.m[0][3], 0.90, kTol);
  EXPECT_NEAR(turned.m[1][3], 1.95, kTol);
  EXPECT_NEAR(turned.m[2][3], 3.0, kTol);
  EXPECT_EQ(turned.poseIsValid, 1);
  EXPECT_EQ(turned.result, vr::TrackingResult_Running_OK);
}

TEST(PoseMath, TheMountRotationIsAppliedAfterTheDevicesOwn) {
  MountOffset mount;
  mount.rotation = {0, 90, 0}; // the pistol points where the device's top points
  const PoseRecord p = ApplyMount(DeviceAt(0, 0, 0, {90, 0, 0}), mount);
  // Pistol forward = device up = world up; pistol right = device right = world forward (-Z).
  EXPECT_NEAR(p.m[0][2], 0, kTol);
  EXPECT_NEAR(p.m[1][2], -1, kTol);
  EXPECT_NEAR(p.m[2][2], 0, kTol);
  EXPECT_NEAR(p.m[0][0], 0, kTol);
  EXPECT_NEAR(p.m[1][0], 0, kTol);
  EXPECT_NEAR(p.m[2][0], -1, kTol);
}

TEST(PoseMath, TheOffsetPointMovesWithTheDevicesSpin) {
  MountOffset mount;
  mount.position[2] = -0.1;
  PoseRecord device = DeviceAt(0, 1, 0);
  device.velocity[0] = 0.5f;
  device.angularVelocity[1] = 2.0f; // spinning left about the vertical
  const PoseRecord p = ApplyMount(device, mount);
  // v + w x r = (0.5, 0, 0) + (0, 2, 0) x (0, 0, -0.1) = (0.5 - 0.2, 0, 0).
  EXPECT_NEAR(p.velocity[0], 0.3, kTol);
  EXPECT_NEAR(p.velocity[1], 0.0, kTol);
  EXPECT_NEAR(p.velocity[2], 0.0, kTol);
  EXPECT_EQ(p.angularVelocity[1], 2.0f);

  // The lever arm turns with the device: turned left, "ahead" is -X and the
  // same spin moves the point backwards (+Z).
  PoseRecord turned = DeviceAt(0, 1, 0, {90, 0, 0});
  turned.angularVelocity[1] = 2.0f;
  const PoseRecord q = ApplyMount(turned, mount);
  EXPECT_NEAR(q.velocity[0], 0.0, kTol);
  EXPECT_NEAR(q.velocity[2], 0.2, kTol);
}

TEST(PoseMath, TheModulesConversionTurnsTheRecordForTheHostBackIntoThePistolPose) {
  // A pistol tilted every way, moving and turning about all three axes.
  const Rotation r = RotationFromYawPitchRoll({35, -20, 50});
  PoseRecord pistol = DeviceAt(0.3f, 1.2f, -0.7f, {35, -20, 50});
  const float velocity[3] = {0.4f, -0.2f, 1.1f}, angular[3] = {1.5f, -0.5f, 2.0f};
  std::copy(std::begin(velocity), std::end(velocity), pistol.velocity);
  std::copy(std::begin(angular), std::end(angular), pistol.angularVelocity);

  const vr::DriverPose_t host = ConvertPose(RecordForHost(pistol));
  EXPECT_TRUE(host.poseIsValid);
  EXPECT_TRUE(host.deviceIsConnected);
  EXPECT_EQ(host.result, vr::TrackingResult_Running_OK);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(host.vecPosition[i], pistol.m[i][3], 1e-6) << i;
  // The host's rotation as a matrix against the pistol's.
  const vr::HmdQuaternion_t &q = host.qRotation;
  const double m[3][3] = {{1 - 2 * (q.y * q.y + q.z * q.z), 2 * (q.x * q.y - q.z * q.w), 2 * (q.x * q.z + q.y * q.w)},
                          {2 * (q.x * q.y + q.z * q.w), 1 - 2 * (q.x * q.x + q.z * q.z), 2 * (q.y * q.z - q.x * q.w)},
                          {2 * (q.x * q.z - q.y * q.w), 2 * (q.y * q.z + q.x * q.w), 1 - 2 * (q.x * q.x + q.y * q.y)}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(m[i][j], r.m[i][j], 1e-6) << i << j;
  // Linear velocity stays in tracking space; the angular one is read in the
  // pistol's own frame: R^T w.
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(host.vecVelocity[i], velocity[i], 1e-6) << i;
    const double own = r.m[0][i] * angular[0] + r.m[1][i] * angular[1] + r.m[2][i] * angular[2];
    EXPECT_NEAR(host.vecAngularVelocity[i], own, 1e-5) << i;
  }
}

TEST(PoseMath, TheInverseStepIsTheOneThatUndoesTheTiltAndTheShift) {
  // A level pistol at the origin: the record is turned 30 degrees up about X
  // and its origin sits 0.125 up and 0.2165 ahead of the pistol's.
  const PoseRecord record = RecordForHost(DeviceAt(0, 0, 0));
  EXPECT_NEAR(record.m[0][3], 0.0, 1e-6);
  EXPECT_NEAR(record.m[1][3], 0.125, 1e-6);
  EXPECT_NEAR(record.m[2][3], -0.25 * std::cos(std::numbers::pi / 6), 1e-6);
  EXPECT_NEAR(record.m[1][1], std::cos(std::numbers::pi / 6), 1e-6);
  EXPECT_NEAR(record.m[2][1], std::sin(std::numbers::pi / 6), 1e-6);
  EXPECT_EQ(record.poseIsValid, 1);
}
