#pragma once

#include "pose/pose_exchange.h"

// Writes one record under the block's lock. False, writing nothing, when the
// lock stays held (a reader stuck mid-copy): the next pose will try again.
bool WritePoseRecord(PoseExchangeBlock &block, const PoseRecord &record);
