#pragma once

#include "pose/pose_exchange.h"

// A valid, connected pose `seconds` into a slow circle in front of the user at
// chest height, turning gently from side to side.
PoseRecord DemoPose(double seconds);
