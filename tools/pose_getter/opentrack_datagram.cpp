#include "tools/pose_getter/opentrack_datagram.h"

#include <bit>
#include <cmath>

#include "tools/pose_getter/pose_math.h"

namespace {
double ReadDouble(const uint8_t *p) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(p[i]) << (8 * i);
  return std::bit_cast<double>(bits);
}

void WriteDouble(uint8_t *p, double v) {
  const auto bits = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

bool FiniteRecord(const PoseRecord &r) {
  for (const auto &row : r.m)
    for (float v : row)
      if (!std::isfinite(v)) return false;
  return true;
}
} // namespace

PoseRecord RecordFromOpentrack(const OpentrackPose &pose) {
  // opentrack: +x to the user's left, +y up, +z backwards (away from the
  // screen); yaw positive turning right, pitch positive looking up, roll
  // positive tilting left; applied yaw, then pitch, then roll.
  const Rotation r = RotationFromYawPitchRoll({-pose.yaw, pose.pitch, pose.roll});
  PoseRecord out{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out.m[i][j] = static_cast<float>(r.m[i][j]);
  out.m[0][3] = static_cast<float>(-pose.x / 100.0);
  out.m[1][3] = static_cast<float>(pose.y / 100.0);
  out.m[2][3] = static_cast<float>(pose.z / 100.0);
  out.result = vr::TrackingResult_Running_OK;
  out.poseIsValid = 1;
  out.deviceIsConnected = 1;
  return out;
}

bool ParseOpentrackDatagram(const uint8_t *data, std::size_t size, PoseRecord &out) {
  if (!data || size != kOpentrackDatagramSize) return false;
  double v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = ReadDouble(data + 8 * i);
    if (!std::isfinite(v[i])) return false;
  }
  const PoseRecord record = RecordFromOpentrack({v[0], v[1], v[2], v[3], v[4], v[5]});
  // Finite doubles beyond float range would reach the block as infinities.
  if (!FiniteRecord(record)) return false;
  out = record;
  return true;
}

std::array<uint8_t, kOpentrackDatagramSize> EncodeOpentrackDatagram(const OpentrackPose &pose) {
  std::array<uint8_t, kOpentrackDatagramSize> d{};
  const double v[6] = {pose.x, pose.y, pose.z, pose.yaw, pose.pitch, pose.roll};
  for (int i = 0; i < 6; ++i) WriteDouble(d.data() + 8 * i, v[i]);
  return d;
}
