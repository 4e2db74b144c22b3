#pragma once

#include <atomic>
#include <chrono>
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

// A pose block whose lock stays taken frame after frame: the helper died
// holding it. Past kStuckLockPause the host is told the pose is lost, and
// later frames only try the lock once instead of waiting for it.
inline constexpr std::chrono::milliseconds kStuckLockPause{100};

struct StuckLockWatch {
  bool missing = false; // the last frame found the lock taken
  bool paused = false;  // poses are reported lost until the lock is free
  std::chrono::steady_clock::time_point missingSince{};
};
