#pragma once

#include <openvr_driver.h>

// A helper process's fake runtime moves one device as the file named by
// VK5_FAKE_VRCLIENT_MOTION says, re-read at every pose call so a test can
// change the motion while the helper runs. One line:
//   swing INDEX r00 r01 ... r22 px py pz wx wy wz DEGREES PERIOD
//     turns about two world axes, up to ±DEGREES, from the rotation r, keeping
//     the device-frame point p at the world point w;
//   hold INDEX r00 ... r22 x y z   a still pose;
//   lost INDEX                     not tracked.
// The motion's clock starts when the file's text changes.
void ApplyScriptedMotion(vr::TrackedDevicePose_t (&poses)[vr::k_unMaxTrackedDeviceCount]);
