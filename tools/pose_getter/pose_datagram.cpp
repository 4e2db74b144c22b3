#include "tools/pose_getter/pose_datagram.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {
uint32_t ReadU32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void WriteU32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool ReadFinite(const uint8_t *p, float &out) {
  out = std::bit_cast<float>(ReadU32(p));
  return std::isfinite(out);
}

bool KnownTrackingResult(int32_t result) {
  switch (result) {
  case vr::TrackingResult_Uninitialized:
  case vr::TrackingResult_Calibrating_InProgress:
  case vr::TrackingResult_Calibrating_OutOfRange:
  case vr::TrackingResult_Running_OK:
  case vr::TrackingResult_Running_OutOfRange:
  case vr::TrackingResult_Fallback_RotationOnly:
    return true;
  default:
    return false;
  }
}
} // namespace

bool ParsePoseDatagram(const uint8_t *data, std::size_t size, PoseRecord &out) {
  if (!data || size != kPoseDatagramSize) return false;
  if (data[0] != kPoseDatagramVersion) return false;
  const uint8_t flags = data[1];
  if ((flags & ~(kDatagramPoseValid | kDatagramDeviceConnected)) != 0) return false;
  if (data[2] != 0 || data[3] != 0) return false;
  const auto result = static_cast<int32_t>(ReadU32(data + 4));
  if (!KnownTrackingResult(result)) return false;

  PoseRecord record{};
  const uint8_t *p = data + 8;
  for (auto &row : record.m)
    for (float &v : row) {
      if (!ReadFinite(p, v)) return false;
      p += 4;
    }
  for (float &v : record.velocity) {
    if (!ReadFinite(p, v)) return false;
    p += 4;
  }
  for (float &v : record.angularVelocity) {
    if (!ReadFinite(p, v)) return false;
    p += 4;
  }
  record.result = result;
  record.poseIsValid = (flags & kDatagramPoseValid) ? 1 : 0;
  record.deviceIsConnected = (flags & kDatagramDeviceConnected) ? 1 : 0;
  out = record;
  return true;
}

std::array<uint8_t, kPoseDatagramSize> EncodePoseDatagram(const PoseRecord &record) {
  std::array<uint8_t, kPoseDatagramSize> d{};
  d[0] = kPoseDatagramVersion;
  d[1] = static_cast<uint8_t>((record.poseIsValid ? kDatagramPoseValid : 0) |
                              (record.deviceIsConnected ? kDatagramDeviceConnected : 0));
  WriteU32(d.data() + 4, static_cast<uint32_t>(record.result));
  uint8_t *p = d.data() + 8;
  for (const auto &row : record.m)
    for (float v : row) WriteU32(p, std::bit_cast<uint32_t>(v)), p += 4;
  for (float v : record.velocity) WriteU32(p, std::bit_cast<uint32_t>(v)), p += 4;
  for (float v : record.angularVelocity) WriteU32(p, std::bit_cast<uint32_t>(v)), p += 4;
  return d;
}
