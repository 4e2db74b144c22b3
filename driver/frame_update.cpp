#include "driver/frame_update.h"

#include "ble/input_latches.h"
#include "driver/controller_driver.h"
#include "pose/pose_exchange.h"
#include "support/host_log.h"

void UpdateButton(vr::IVRDriverInput *input, std::atomic<bool> &latch, ButtonHold &hold,
                  vr::VRInputComponentHandle_t click, const vr::VRInputComponentHandle_t *value) {
  const bool set = latch.load();
  if (hold.pressed) {
    // Taken, not left: an event that arrives during a press is dropped.
    if (set) latch.exchange(false);
    if (++hold.heldFrames > kHoldFrames) {
      hold.pressed = false;
      hold.heldFrames = 0;
      if (!input) return;
      input->UpdateBooleanComponent(click, false, 0.0);
      if (value) input->UpdateScalarComponent(*value, 0.0f, 0.0);
    }
  } else if (set) {
    latch.exchange(false);
    hold.pressed = true;
    if (!input) return;
    input->UpdateBooleanComponent(click, true, 0.0);
    if (value) input->UpdateScalarComponent(*value, 1.0f, 0.0);
  }
}

void ControllerDriver::FrameUpdate() {
  // Fetched once by Activate: a host without the interface is not asked again every frame.
  vr::IVRDriverInput *input = driverInput;
  UpdateButton(input, inputLatches.fire, fireHold, fireClick, &fireValue);
  UpdateButton(input, inputLatches.eject_mag, ejectMagHold, ejectMagClick, nullptr);
  UpdateButton(input, inputLatches.load_mag, loadMagHold, loadMagClick, nullptr);

  vr::DriverPose_t pose;
  switch (ReadPose(pose, stuckLock.paused ? std::chrono::microseconds::zero() : kPoseLockWait)) {
  case PoseRead::NoBlock:
    return;
  case PoseRead::Read:
    if (stuckLock.paused) LogLine("PoseGetter released the pose block's lock: poses flow again.");
    stuckLock = {};
    lastPose = pose;
    break;
  case PoseRead::Locked: {
    const auto now = std::chrono::steady_clock::now();
    if (!stuckLock.missing) {
      stuckLock.missing = true;
      stuckLock.missingSince = now;
    }
    if (stuckLock.paused || now - stuckLock.missingSince < kStuckLockPause) return;
    stuckLock.paused = true;
    LogLine("PoseGetter holds the pose block's lock: poses are paused.");
    // The host keeps showing the last pose it got, so it must learn that pose is gone.
    lastPose.poseIsValid = false;
    lastPose.result = vr::TrackingResult_Running_OutOfRange;
    break;
  }
  }
  vr::VRServerDriverHost()->TrackedDevicePoseUpdated(objectId, lastPose, sizeof(vr::DriverPose_t));
}
