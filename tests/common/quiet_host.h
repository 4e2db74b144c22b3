#pragma once

#include <cstdint>
#include <cstring>

#include <openvr_driver.h>

// A host that only counts what the driver reports and never allocates, for
// measuring the frame update itself. Installed as the module's driver context
// for its lifetime.
class QuietHost final : public vr::IVRDriverContext, public vr::IVRServerDriverHost, public vr::IVRDriverInput {
public:
  QuietHost() {
    vr::VRDriverContext() = this;
    vr::OpenVRInternal_ModuleServerDriverContext().Clear();
  }
  ~QuietHost() { vr::CleanupDriverContext(); }
  QuietHost(const QuietHost &) = delete;
  QuietHost &operator=(const QuietHost &) = delete;

  uint64_t poses = 0;
  uint64_t updates = 0;
  vr::DriverPose_t lastPose{};

  void *GetGenericInterface(const char *version, vr::EVRInitError *error) override {
    if (error) *error = vr::VRInitError_None;
    if (std::strcmp(version, vr::IVRServerDriverHost_Version) == 0) return static_cast<vr::IVRServerDriverHost *>(this);
    if (std::strcmp(version, vr::IVRDriverInput_Version) == 0) return static_cast<vr::IVRDriverInput *>(this);
    if (error) *error = vr::VRInitError_Init_InterfaceNotFound;
    return nullptr;
  }
  vr::DriverHandle_t GetDriverHandle() override { return 1; }

  bool TrackedDeviceAdded(const char *, vr::ETrackedDeviceClass, vr::ITrackedDeviceServerDriver *) override {
    return true;
  }
  void TrackedDevicePoseUpdated(uint32_t, const vr::DriverPose_t &pose, uint32_t) override {
    ++poses;
    lastPose = pose;
  }
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

  vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t, const char *,
                                           vr::VRInputComponentHandle_t *) override {
    return vr::VRInputError_None;
  }
  vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t, bool, double) override {
    ++updates;
    return vr::VRInputError_None;
  }
  vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t, const char *, vr::VRInputComponentHandle_t *,
                                          vr::EVRScalarType, vr::EVRScalarUnits) override {
    return vr::VRInputError_None;
  }
  vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t, float, double) override {
    ++updates;
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
};
