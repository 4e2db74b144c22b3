// Any 80 bytes a helper may leave in the block: the conversion must not crash
// and must hand the host only finite numbers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pose/pose_exchange.h"

namespace {
void CheckFinite(double v) {
  if (!std::isfinite(v)) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size < sizeof(PoseRecord)) return -1;
  PoseRecord record;
  std::memcpy(&record, data, sizeof record);
  const vr::DriverPose_t p = ConvertPose(record);
  for (double v : {p.qRotation.w, p.qRotation.x, p.qRotation.y, p.qRotation.z}) CheckFinite(v);
  for (int i = 0; i < 3; ++i) {
    CheckFinite(p.vecPosition[i]);
    CheckFinite(p.vecVelocity[i]);
    CheckFinite(p.vecAngularVelocity[i]);
  }
  if (p.poseIsValid && !record.poseIsValid) std::abort();
  if (p.deviceIsConnected != (record.deviceIsConnected != 0)) std::abort();
  // The result is any int32 the helper wrote, passed on byte for byte.
  int32_t result = 0;
  std::memcpy(&result, &p.result, sizeof result);
  if (result != record.result) std::abort();
  if (!p.poseIsValid && record.poseIsValid && std::isfinite(p.qRotation.w) && p.qRotation.w == 0.0 &&
      p.qRotation.x == 0.0 && p.qRotation.y == 0.0 && p.qRotation.z == 0.0)
    std::abort(); // a zero quaternion cannot be normalised by the host
  return 0;
}
