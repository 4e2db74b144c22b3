// Any datagram a program may send to the opentrack port: parsing must not
// crash, and an accepted one is 48 bytes giving a finite, orthonormal pose.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "tools/pose_getter/opentrack_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  PoseRecord record;
  if (!ParseOpentrackDatagram(data, size, record)) return 0;
  if (size != kOpentrackDatagramSize) std::abort();
  for (const auto &row : record.m)
    for (float v : row)
      if (!std::isfinite(v)) std::abort();
  for (int c = 0; c < 3; ++c) {
    double length = 0;
    for (int r = 0; r < 3; ++r) length += double(record.m[r][c]) * double(record.m[r][c]);
    if (std::abs(length - 1.0) > 1e-4) std::abort();
  }
  if (record.poseIsValid != 1 || record.deviceIsConnected != 1) std::abort();
  return 0;
}
