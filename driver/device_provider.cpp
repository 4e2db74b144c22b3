#include "driver/device_provider.h"

#include "ble/input_latches.h"
#include "driver/controller_driver.h"
#include "support/host_log.h"

vr::EVRInitError DeviceProvider::Init(vr::IVRDriverContext *pDriverContext) {
  if (!pDriverContext) return vr::VRInitError_Init_InterfaceNotFound;
  VR_INIT_SERVER_DRIVER_CONTEXT(pDriverContext);

  LogLine("Initializing controller");
  // The module may outlive a host session (it is pinned on Windows), and a
  // notification that came after the last Cleanup must not become a press.
  inputLatches.fire.store(false);
  inputLatches.eject_mag.store(false);
  inputLatches.load_mag.store(false);
  controller = new ControllerDriver();
  vr::VRServerDriverHost()->TrackedDeviceAdded("aaa_vantorelle_k5_controller", vr::TrackedDeviceClass_Controller,
                                               controller);
  return vr::VRInitError_None;
}

void DeviceProvider::Cleanup() {
  // A host that skipped Deactivate must not leave the link worker running
  // against a freed controller.
  if (controller && controller->linkThread.joinable()) controller->Deactivate();
  delete controller;
  controller = nullptr;
  ForgetHostContext();
}

void DeviceProvider::RunFrame() {
  if (controller) controller->FrameUpdate();
}
