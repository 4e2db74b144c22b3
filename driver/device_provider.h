#pragma once

#include <openvr_driver.h>

class ControllerDriver;

// The host's entry into the driver: owns the one controller.
class DeviceProvider final : public vr::IServerTrackedDeviceProvider {
public:
  vr::EVRInitError Init(vr::IVRDriverContext *pDriverContext) override;
  void Cleanup() override;
  const char *const *GetInterfaceVersions() override { return vr::k_InterfaceVersions; }
  void RunFrame() override;
  bool ShouldBlockStandbyMode() override { return false; }
  void EnterStandby() override {}
  void LeaveStandby() override {}

  ControllerDriver *controller = nullptr;
};
