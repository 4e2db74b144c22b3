#pragma once

#include <openvr_driver.h>

// Maps the shared block the pose helper writes into.
void OpenPoseExchange();
void ClosePoseExchange();

// Copies the pose out under the block's lock and converts it; false when no
// block is mapped (the frame then publishes no pose).
bool ReadPose(vr::DriverPose_t &out);
