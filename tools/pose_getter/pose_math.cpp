#include "tools/pose_getter/pose_math.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kRadians = std::numbers::pi / 180.0;

Rotation Multiply(const Rotation &a, const Rotation &b) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}
} // namespace

Rotation RotationFromYawPitchRoll(const YawPitchRoll &angles) {
  const double cy = std::cos(angles.yaw * kRadians), sy = std::sin(angles.yaw * kRadians);
  const double cp = std::cos(angles.pitch * kRadians), sp = std::sin(angles.pitch * kRadians);
  const double cr = std::cos(angles.roll * kRadians), sr = std::sin(angles.roll * kRadians);
  const Rotation yaw{{{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}}};
  const Rotation pitch{{{1, 0, 0}, {0, cp, -sp}, {0, sp, cp}}};
  const Rotation roll{{{cr, -sr, 0}, {sr, cr, 0}, {0, 0, 1}}};
  return Multiply(Multiply(yaw, pitch), roll);
}

YawPitchRoll YawPitchRollFromRotation(const Rotation &r) {
  // Row 1 of Ry*Rx*Rz is (cos p sin r, cos p cos r, -sin p).
  const double pitch = std::asin(std::clamp(-r.m[1][2], -1.0, 1.0));
  double yaw, roll;
  if (std::abs(r.m[1][2]) < 0.999999) {
    yaw = std::atan2(r.m[0][2], r.m[2][2]);
    roll = std::atan2(r.m[1][0], r.m[1][1]);
  } else {
    // Looking straight up or down: yaw and roll turn about the same axis.
    yaw = std::atan2(-r.m[2][0], r.m[0][0]);
    roll = 0;
  }
  return {yaw / kRadians, pitch / kRadians, roll / kRadians};
}

Rotation RotationOfRecord(const PoseRecord &record) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = record.m[i][j];
  return r;
}

PoseRecord ApplyMount(const PoseRecord &followed, const Rotation &mountRotation, const double (&mountPosition)[3]) {
  const Rotation device = RotationOfRecord(followed);
  const Rotation pistol = Multiply(device, mountRotation);
  PoseRecord out = followed;
  double lever[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) lever[i] += device.m[i][k] * mountPosition[k];
    for (int j = 0; j < 3; ++j) out.m[i][j] = static_cast<float>(pistol.m[i][j]);
    out.m[i][3] = static_cast<float>(followed.m[i][3] + lever[i]);
  }
  const float *w = followed.angularVelocity;
  out.velocity[0] = static_cast<float>(followed.velocity[0] + (w[1] * lever[2] - w[2] * lever[1]));
  out.velocity[1] = static_cast<float>(followed.velocity[1] + (w[2] * lever[0] - w[0] * lever[2]));
  out.velocity[2] = static_cast<float>(followed.velocity[2] + (w[0] * lever[1] - w[1] * lever[0]));
  return out;
}

PoseRecord RecordForHost(const PoseRecord &pistol) {
  // The module's step, read as a rigid transform: turn by -kTilt about X,
  // origin shifted by kShift along the record's +Z. Its inverse on the right
  // of the pistol pose: record axes = pistol axes turned by +kTilt about X, and
  // record origin = pistol origin - kShift * (record's +Z in tracking space).
  constexpr double kTiltDegrees = 30.0;
  constexpr double kShiftMetres = 0.25;
  static const Rotation untilt = RotationFromYawPitchRoll({0, kTiltDegrees, 0});
  const Rotation pistolAxes = RotationOfRecord(pistol);
  const Rotation record = Multiply(pistolAxes, untilt);
  PoseRecord out = pistol;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[i][j] = static_cast<float>(record.m[i][j]);
    out.m[i][3] = static_cast<float>(pistol.m[i][3] - kShiftMetres * record.m[i][2]);
  }
  // Angular velocity into the pistol's own frame: R^T w.
  for (int i = 0; i < 3; ++i) {
    double w = 0;
    for (int k = 0; k < 3; ++k) w += pistolAxes.m[k][i] * pistol.angularVelocity[k];
    out.angularVelocity[i] = static_cast<float>(w);
  }
  return out;
}

PoseRecord ApplyMount(const PoseRecord &followed, const MountOffset &mount) {
  return ApplyMount(followed, RotationFromYawPitchRoll(mount.rotation), mount.position);
}
