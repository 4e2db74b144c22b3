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
  return 0;
}
