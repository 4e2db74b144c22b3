#include "tools/pose_getter/demo_motion.h"

#include <cmath>
#include <numbers>

namespace {
constexpr double kPeriodSeconds = 6.0;
constexpr double kRadius = 0.15;
constexpr double kBob = 0.05;
constexpr double kYawSwing = 0.3; // radians
constexpr double kCentre[3] = {0.0, 1.1, -0.4};
} // namespace

PoseRecord DemoPose(double seconds) {
  const double omega = 2.0 * std::numbers::pi / kPeriodSeconds;
  const double angle = std::fmod(seconds, kPeriodSeconds) * omega;
  const double yaw = kYawSwing * std::sin(angle);
  const double yawRate = kYawSwing * omega * std::cos(angle);

  PoseRecord r{};
  const auto c = static_cast<float>(std::cos(yaw));
  const auto s = static_cast<float>(std::sin(yaw));
  // A rotation about the vertical axis.
  r.m[0][0] = c, r.m[0][2] = s;
  r.m[1][1] = 1.0f;
  r.m[2][0] = -s, r.m[2][2] = c;
  r.m[0][3] = static_cast<float>(kCentre[0] + kRadius * std::cos(angle));
  r.m[1][3] = static_cast<float>(kCentre[1] + kBob * std::sin(2.0 * angle));
  r.m[2][3] = static_cast<float>(kCentre[2] + kRadius * std::sin(angle));
  r.velocity[0] = static_cast<float>(-kRadius * omega * std::sin(angle));
  r.velocity[1] = static_cast<float>(2.0 * kBob * omega * std::cos(2.0 * angle));
  r.velocity[2] = static_cast<float>(kRadius * omega * std::cos(angle));
  r.angularVelocity[1] = static_cast<float>(yawRate);
  r.result = vr::TrackingResult_Running_OK;
  r.poseIsValid = 1;
  r.deviceIsConnected = 1;
  return r;
}
