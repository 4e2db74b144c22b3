#include "tests/tools/pose_getter/fake_vrclient/scripted_motion.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
using Clock = std::chrono::steady_clock;

std::string lastText;
Clock::time_point since;

void Multiply(const double (&a)[3][3], const double (&b)[3][3], double (&out)[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      out[i][j] = 0;
      for (int k = 0; k < 3; ++k) out[i][j] += a[i][k] * b[k][j];
    }
}
} // namespace

void ApplyScriptedMotion(vr::TrackedDevicePose_t (&poses)[vr::k_unMaxTrackedDeviceCount]) {
  const char *file = std::getenv("VK5_FAKE_VRCLIENT_MOTION");
  if (!file || !*file) return;
  std::FILE *in = std::fopen(file, "rb");
  if (!in) return;
  char buffer[1024] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, in);
  std::fclose(in);
  const std::string text(buffer, n);
  if (text != lastText) lastText = text, since = Clock::now();
  const double t = std::chrono::duration<double>(Clock::now() - since).count();

  char kind[16] = {};
  unsigned index = 0;
  int used = 0;
  if (std::sscanf(buffer, "%15s %u%n", kind, &index, &used) != 2 || index >= vr::k_unMaxTrackedDeviceCount) return;
  vr::TrackedDevicePose_t &pose = poses[index];
  const char *rest = buffer + used;
  double v[17] = {};
  int count = 0;
  for (double &x : v) {
    char *end = nullptr;
    x = std::strtod(rest, &end);
    if (end == rest) break;
    rest = end;
    ++count;
  }
  pose.bDeviceIsConnected = true;
  pose.eTrackingResult = vr::TrackingResult_Running_OK;
  pose.vVelocity = {};
  pose.vAngularVelocity = {};
  if (std::strcmp(kind, "lost") == 0) {
    pose.bPoseIsValid = false;
    pose.eTrackingResult = vr::TrackingResult_Running_OutOfRange;
    return;
  }
  double base[3][3];
  for (int i = 0; i < 9; ++i) base[i / 3][i % 3] = v[i];
  double r[3][3], point[3] = {0, 0, 0}, where[3] = {v[9], v[10], v[11]};
  if (std::strcmp(kind, "swing") == 0 && count == 17) {
    const double pi = std::acos(-1.0);
    const double yaw = v[15] * pi / 180 * std::sin(2 * pi * t / v[16]);
    const double pitch = v[15] * pi / 180 * std::sin(2 * pi * t / (0.77 * v[16]));
    const double turnY[3][3] = {{std::cos(yaw), 0, std::sin(yaw)}, {0, 1, 0}, {-std::sin(yaw), 0, std::cos(yaw)}};
    const double turnX[3][3] = {
        {1, 0, 0}, {0, std::cos(pitch), -std::sin(pitch)}, {0, std::sin(pitch), std::cos(pitch)}};
    double both[3][3];
    Multiply(turnY, turnX, both);
    Multiply(both, base, r);
    for (int i = 0; i < 3; ++i) point[i] = v[9 + i], where[i] = v[12 + i];
  } else if (std::strcmp(kind, "hold") == 0 && count == 12) {
    std::memcpy(r, base, sizeof r);
  } else {
    return;
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) pose.mDeviceToAbsoluteTracking.m[i][j] = static_cast<float>(r[i][j]);
    pose.mDeviceToAbsoluteTracking.m[i][3] =
        static_cast<float>(where[i] - (r[i][0] * point[0] + r[i][1] * point[1] + r[i][2] * point[2]));
  }
  pose.bPoseIsValid = true;
}
