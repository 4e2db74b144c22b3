#pragma once

#include <cstdint>
#include <cstring>

#include <openvr_driver.h>

// A host that offers nothing and records nothing: every interface method does
// nothing and answers with the neutral value (no interface, no pose, no
// error, an empty settings store, no resources). Hosts for tests and tools
// derive from it and override only what they do. It never allocates, so a
// frame measured against it costs only the driver's own work.
namespace devhost {

class NullHost : public vr::IVRDriverContext,
                 public vr::IVRServerDriverHost,
                 public vr::IVRProperties,
                 public vr::IVRDriverInput,
                 public vr::IVRDriverLog,
                 public vr::IVRSettings,
                 public vr::IVRDriverManager,
                 public vr::IVRResources {
public:
  NullHost() = default;
  NullHost(const NullHost &) = delete;
  NullHost &operator=(const NullHost &) = delete;

  // IVRDriverContext: no interface is handed out; the one driver loaded is handle 1.
  void *GetGenericInterface(const char *, vr::EVRInitError *error) override {
    if (error) *error = vr::VRInitError_Init_InterfaceNotFound;
    return nullptr;
  }
  vr::DriverHandle_t GetDriverHandle() override { return 1; }

  // IVRServerDriverHost
  bool TrackedDeviceAdded(const char *, vr::ETrackedDeviceClass, vr::ITrackedDeviceServerDriver *) override {
    return true;
  }
  void TrackedDevicePoseUpdated(uint32_t, const vr::DriverPose_t &, uint32_t) override {}
  void VsyncEvent(double) override {}
  void VendorSpecificEvent(uint32_t, vr::EVREventType, const vr::VREvent_Data_t &, double) override {}
  bool IsExiting() override { return false; }
  bool PollNextEvent(vr::VREvent_t *, uint32_t) override { return false; }
  void GetRawTrackedDevicePoses(float, vr::TrackedDevicePose_t *, uint32_t) override {}
  void RequestRestart(const char *, const char *, const char *, const char *) override {}
  uint32_t GetFrameTimings(vr::Compositor_FrameTiming *, uint32_t) override { return 0; }
  void SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t &, const vr::HmdMatrix34_t &) override {}
  void SetDisplayProjectionRaw(uint32_t, const vr::HmdRect2_t &, const vr::HmdRect2_t &) override {}
  void SetRecommendedRenderTargetSize(uint32_t, uint32_t, uint32_t) override {}

  // IVRProperties: every read finds nothing, every write is taken.
  vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t, vr::PropertyRead_t *batch,
                                              uint32_t count) override {
    for (uint32_t i = 0; batch && i < count; ++i) batch[i].eError = vr::TrackedProp_UnknownProperty;
    return vr::TrackedProp_Success;
  }
  vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t, vr::PropertyWrite_t *batch,
                                               uint32_t count) override {
    for (uint32_t i = 0; batch && i < count; ++i) batch[i].eError = vr::TrackedProp_Success;
    return vr::TrackedProp_Success;
  }
  const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override { return "error"; }
  vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t) override {
    return vr::k_ulInvalidPropertyContainer;
  }

  // IVRDriverInput: buttons and scalars are taken; haptics and skeletons are not offered.
  vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t, const char *,
                                           vr::VRInputComponentHandle_t *) override {
    return vr::VRInputError_None;
  }
  vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t, bool, double) override {
    return vr::VRInputError_None;
  }
  vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t, const char *, vr::VRInputComponentHandle_t *,
                                          vr::EVRScalarType, vr::EVRScalarUnits) override {
    return vr::VRInputError_None;
  }
  vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t, float, double) override {
    return vr::VRInputError_None;
  }
  vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t, const char *,
                                          vr::VRInputComponentHandle_t *) override {
    return vr::VRInputError_InvalidParam;
  }
  vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t, const char *, const char *, const char *,
                                            vr::EVRSkeletalTrackingLevel, const vr::VRBoneTransform_t *, uint32_t,
                                            vr::VRInputComponentHandle_t *) override {
    return vr::VRInputError_InvalidParam;
  }
  vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t, vr::EVRSkeletalMotionRange,
                                            const vr::VRBoneTransform_t *, uint32_t) override {
    return vr::VRInputError_InvalidHandle;
  }

  // IVRDriverLog
  void Log(const char *) override {}

  // IVRSettings: an empty settings store.
  const char *GetSettingsErrorNameFromEnum(vr::EVRSettingsError) override { return "error"; }
  void SetBool(const char *, const char *, bool, vr::EVRSettingsError *e) override { Unset(e); }
  void SetInt32(const char *, const char *, int32_t, vr::EVRSettingsError *e) override { Unset(e); }
  void SetFloat(const char *, const char *, float, vr::EVRSettingsError *e) override { Unset(e); }
  void SetString(const char *, const char *, const char *, vr::EVRSettingsError *e) override { Unset(e); }
  bool GetBool(const char *, const char *, vr::EVRSettingsError *e) override { return Unset(e), false; }
  int32_t GetInt32(const char *, const char *, vr::EVRSettingsError *e) override { return Unset(e), 0; }
  float GetFloat(const char *, const char *, vr::EVRSettingsError *e) override { return Unset(e), 0.0f; }
  void GetString(const char *, const char *, char *value, uint32_t len, vr::EVRSettingsError *e) override {
    if (value && len) value[0] = '\0';
    Unset(e);
  }
  void RemoveSection(const char *, vr::EVRSettingsError *e) override { Unset(e); }
  void RemoveKeyInSection(const char *, const char *, vr::EVRSettingsError *e) override { Unset(e); }

  // IVRDriverManager: no drivers.
  uint32_t GetDriverCount() const override { return 0; }
  uint32_t GetDriverName(vr::DriverId_t, char *value, uint32_t len) override {
    if (value && len) value[0] = '\0';
    return 0;
  }
  vr::DriverHandle_t GetDriverHandle(const char *) override { return vr::k_ulInvalidDriverHandle; }
  bool IsEnabled(vr::DriverId_t) const override { return false; }

  // IVRResources: no shared resources.
  uint32_t LoadSharedResource(const char *, char *, uint32_t) override { return 0; }
  uint32_t GetResourceFullPath(const char *, const char *, char *buffer, uint32_t len) override {
    if (buffer && len) buffer[0] = '\0';
    return 0;
  }

protected:
  // This object as the interface `version` names, or null for a version it does not implement.
  void *Offered(const char *version) {
    if (!version) return nullptr;
    if (std::strcmp(version, vr::IVRServerDriverHost_Version) == 0) return static_cast<vr::IVRServerDriverHost *>(this);
    if (std::strcmp(version, vr::IVRSettings_Version) == 0) return static_cast<vr::IVRSettings *>(this);
    if (std::strcmp(version, vr::IVRProperties_Version) == 0) return static_cast<vr::IVRProperties *>(this);
    if (std::strcmp(version, vr::IVRDriverLog_Version) == 0) return static_cast<vr::IVRDriverLog *>(this);
    if (std::strcmp(version, vr::IVRDriverManager_Version) == 0) return static_cast<vr::IVRDriverManager *>(this);
    if (std::strcmp(version, vr::IVRResources_Version) == 0) return static_cast<vr::IVRResources *>(this);
    if (std::strcmp(version, vr::IVRDriverInput_Version) == 0) return static_cast<vr::IVRDriverInput *>(this);
    return nullptr;
  }

private:
  static void Unset(vr::EVRSettingsError *e) {
    if (e) *e = vr::VRSettingsError_UnsetSettingHasNoDefault;
  }
};

} // namespace devhost
