#pragma once

#include <cstddef>

#include "pose/pose_exchange.h"

// One line a person can read for a record, as the host will show it: the
// record put through the module's own conversion, then the flags, the
// tracking result, the position in metres and the rotation as yaw/pitch/roll
// in degrees (the angles of pose_math.h). Written into `out` without
// allocating.
void FormatPoseSummary(const PoseRecord &record, char *out, std::size_t capacity);
