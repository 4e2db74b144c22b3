#pragma once

#include <atomic>
#include <cstdint>

#include <openvr_driver.h>

// A press is reported on the frame that finds the latch and released
// kHoldFrames + 1 frames later: short pistol packets would otherwise be
// shorter than one host frame and never seen by applications.
inline constexpr int32_t kHoldFrames = 20;

struct ButtonHold {
  bool pressed = false;
  int32_t heldFrames = 0;
};

// One button's frame step, reported through the driver input interface.
// value is null for buttons without a scalar component.
// A null input interface (a host without one) moves the state but reports nothing.
void UpdateButton(vr::IVRDriverInput *input, std::atomic<bool> &latch, ButtonHold &hold,
                  vr::VRInputComponentHandle_t click, const vr::VRInputComponentHandle_t *value);
