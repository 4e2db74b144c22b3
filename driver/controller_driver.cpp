#include "driver/controller_driver.h"

#include <cstring>

#include "driver/bring_up.h"

namespace {
constexpr const char *kInputProfilePath = "{vantorelle_k5}/input/vantorelle_k5_controller_profile.json";
constexpr const char *kControllerType = "aaa_vantorelle_k5_controller";
constexpr int32_t kRoleHint = vr::TrackedControllerRole_Stylus; // a role that is neither hand
constexpr int32_t kHandSelectionPriority = 999999;
// What the dashboard draws and lists; the status window picks its icons by the
// model number. The model lives in the folder's resources/rendermodels.
constexpr const char *kRenderModelName = "{vantorelle_k5}vantorelle_k5_pistol";
constexpr const char *kModelNumber = "Vantorelle K5";
constexpr const char *kManufacturerName = "Vantorelle";
} // namespace

vr::EVRInitError ControllerDriver::Activate(uint32_t unObjectId) {
  BringUp(*this);

  objectId = unObjectId;
  stuckLock = {};
  // A host that offers no properties interface still gets a device, without
  // its properties; the components then go to the invalid container.
  vr::PropertyContainerHandle_t container = vr::k_ulInvalidPropertyContainer;
  if (vr::VRPropertiesRaw()) {
    vr::CVRPropertyHelpers *properties = vr::VRProperties();
    container = properties->TrackedDeviceToPropertyContainer(objectId);
    properties->SetStringProperty(container, vr::Prop_InputProfilePath_String, kInputProfilePath);
    properties->SetStringProperty(container, vr::Prop_ControllerType_String, kControllerType);
    properties->SetInt32Property(container, vr::Prop_ControllerRoleHint_Int32, kRoleHint);
    properties->SetInt32Property(container, vr::Prop_ControllerHandSelectionPriority_Int32, kHandSelectionPriority);
    properties->SetStringProperty(container, vr::Prop_RenderModelName_String, kRenderModelName);
    properties->SetStringProperty(container, vr::Prop_ModelNumber_String, kModelNumber);
    properties->SetStringProperty(container, vr::Prop_ManufacturerName_String, kManufacturerName);
  }

  vr::IVRDriverInput *input = vr::VRDriverInput();
  driverInput = input;
  // A host that offers no input interface still gets a device; it just has no buttons.
  if (input) {
    input->CreateScalarComponent(container, "/input/fire/value", &fireValue, vr::VRScalarType_Absolute,
                                 vr::VRScalarUnits_NormalizedTwoSided);
    input->CreateBooleanComponent(container, "/input/fire/click", &fireClick);
    input->CreateBooleanComponent(container, "/input/eject_mag/click", &ejectMagClick);
    input->CreateBooleanComponent(container, "/input/load_mag/click", &loadMagClick);
  }
  return vr::VRInitError_None;
}

void ControllerDriver::Deactivate() {
  objectId = vr::k_unTrackedDeviceIndexInvalid;
  TakeDown(*this);
}

void *ControllerDriver::GetComponent(const char *pchComponentNameAndVersion) {
  if (pchComponentNameAndVersion && std::strcmp(pchComponentNameAndVersion, vr::IVRDriverInput_Version) == 0)
    return this;
  return nullptr;
}

void ControllerDriver::DebugRequest(const char *, char *pchResponseBuffer, uint32_t unResponseBufferSize) {
  if (pchResponseBuffer && unResponseBufferSize >= 1) pchResponseBuffer[0] = '\0';
}

#ifdef VK5_GETPOSE_OUT_PARAM
vr::DriverPose_t *ControllerDriver::GetPose(vr::DriverPose_t *pPoseOut) {
  *pPoseOut = lastPose;
  return pPoseOut;
}
#else
vr::DriverPose_t ControllerDriver::GetPose() {
  return lastPose;
}
#endif
