#include "tools/pose_getter/pose_summary.h"

#include <cstdio>

#include "tools/pose_getter/pose_math.h"

void FormatPoseSummary(const PoseRecord &record, char *out, std::size_t capacity) {
  const vr::DriverPose_t host = ConvertPose(record);
  const vr::HmdQuaternion_t &q = host.qRotation;
  const Rotation r{{{1 - 2 * (q.y * q.y + q.z * q.z), 2 * (q.x * q.y - q.z * q.w), 2 * (q.x * q.z + q.y * q.w)},
                    {2 * (q.x * q.y + q.z * q.w), 1 - 2 * (q.x * q.x + q.z * q.z), 2 * (q.y * q.z - q.x * q.w)},
                    {2 * (q.x * q.z - q.y * q.w), 2 * (q.y * q.z + q.x * q.w), 1 - 2 * (q.x * q.x + q.y * q.y)}}};
  const YawPitchRoll a = YawPitchRollFromRotation(r);
  std::snprintf(out, capacity,
                "as the host shows it: %s %s result %d  position (%+.3f, %+.3f, %+.3f) m  yaw/pitch/roll (%+.1f, "
                "%+.1f, %+.1f) deg",
                host.poseIsValid ? "valid" : "NOT valid", host.deviceIsConnected ? "connected" : "disconnected",
                static_cast<int>(host.result), host.vecPosition[0], host.vecPosition[1], host.vecPosition[2],
                a.yaw + 0.0, a.pitch + 0.0, a.roll + 0.0);
}
