#include "driver/frame_update.h"

#include "driver/controller_driver.h"
#include "driver/input_latches.h"
#include "pose/pose_exchange.h"

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
  vr::IVRDriverInput *input = vr::VRDriverInput();
  UpdateButton(input, inputLatches.fire, fireHold, fireClick, &fireValue);
  UpdateButton(input, inputLatches.eject_mag, ejectMagHold, ejectMagClick, nullptr);
  UpdateButton(input, inputLatches.load_mag, loadMagHold, loadMagClick, nullptr);

  vr::DriverPose_t pose;
  if (!ReadPose(pose)) return;
  lastPose = pose;
  vr::VRServerDriverHost()->TrackedDevicePoseUpdated(objectId, lastPose, sizeof(vr::DriverPose_t));
}
