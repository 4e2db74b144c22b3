#include "tools/pose_getter/pose_summary.h"

#include <cstdio>

#include "tools/pose_getter/pose_math.h"

void FormatPoseSummary(const PoseRecord &r, char *out, std::size_t capacity) {
  const YawPitchRoll a = YawPitchRollFromRotation(RotationOfRecord(r));
  std::snprintf(out, capacity,
                "%s %s result %d  position (%+.3f, %+.3f, %+.3f) m  yaw/pitch/roll (%+.1f, %+.1f, %+.1f) deg",
                r.poseIsValid ? "valid" : "NOT valid", r.deviceIsConnected ? "connected" : "disconnected",
                static_cast<int>(r.result), static_cast<double>(r.m[0][3]), static_cast<double>(r.m[1][3]),
                static_cast<double>(r.m[2][3]), a.yaw + 0.0, a.pitch + 0.0, a.roll + 0.0);
}
