// Any datagram a program may send to the helper: parsing must not crash, and a
// datagram it accepts must be exactly the canonical encoding of a finite pose.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tools/pose_getter/pose_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  PoseRecord record;
  if (!ParsePoseDatagram(data, size, record)) return 0;
  if (size != kPoseDatagramSize) std::abort();
  for (const auto &row : record.m)
    for (float v : row)
      if (!std::isfinite(v)) std::abort();
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(record.velocity[i]) || !std::isfinite(record.angularVelocity[i])) std::abort();
  if (record.poseIsValid > 1 || record.deviceIsConnected > 1) std::abort();
  const auto again = EncodePoseDatagram(record);
  if (std::memcmp(again.data(), data, size) != 0) std::abort();
  return 0;
}
