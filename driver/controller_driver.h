#pragma once

#include <cstdint>
#include <thread>

#include <openvr_driver.h>

#include "driver/frame_update.h"

// The one tracked device: a pistol-shaped controller with a trigger and two
// magazine buttons. Fields are zero until Activate.
class ControllerDriver final : public vr::ITrackedDeviceServerDriver {
public:
  vr::EVRInitError Activate(uint32_t unObjectId) override;
  void Deactivate() override;
  void EnterStandby() override {}
  void *GetComponent(const char *pchComponentNameAndVersion) override;
  void DebugRequest(const char *pchRequest, char *pchResponseBuffer, uint32_t unResponseBufferSize) override;
#ifdef VK5_GETPOSE_OUT_PARAM
  vr::DriverPose_t *GetPose(vr::DriverPose_t *pPoseOut) override;
#else
  vr::DriverPose_t GetPose() override;
#endif

  // Called once per host frame by the provider, active or not.
  void FrameUpdate();

  vr::TrackedDeviceIndex_t objectId = 0;
  vr::VRInputComponentHandle_t fireClick = 0;
  vr::VRInputComponentHandle_t fireValue = 0;
  vr::VRInputComponentHandle_t ejectMagClick = 0;
  vr::VRInputComponentHandle_t loadMagClick = 0;
  std::thread linkThread;
  ButtonHold fireHold;
  ButtonHold ejectMagHold;
  ButtonHold loadMagHold;
  vr::DriverPose_t lastPose{};
  // The host's input interface as Activate found it; null before that or on a host without one.
  vr::IVRDriverInput *driverInput = nullptr;
  StuckLockWatch stuckLock;
};
