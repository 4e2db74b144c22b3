#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <openvr_driver.h>

// A stand-in for the VR driver host: it offers the host interfaces a driver
// asks for and records every call the driver makes into them.
namespace devhost {

struct Event {
  enum class Kind {
    InterfaceRequest,
    DeviceAdded,
    Log,
    Property,
    ComponentCreated,
    BooleanUpdate,
    ScalarUpdate,
    PoseUpdate,
  };
  Kind kind = Kind::Log;
  double seconds = 0;        // since the host started
  std::string text{};        // log line, serial, property/component name, interface version
  uint64_t handle = 0;       // component handle, property container
  int64_t number = 0;        // property id, device class, device index
  double value = 0;          // boolean (0/1) or scalar value; int32 property value
  std::string stringValue{}; // string property value
  vr::DriverPose_t pose{};   // pose updates
  uint32_t size = 0;         // pose struct size, property buffer size
  uint32_t tag = 0;          // property type tag; scalar type for created components
  bool granted = true;       // interface requests: was it handed out
};

const char *KindName(Event::Kind kind);

class DevHost final : public vr::IVRDriverContext,
                      public vr::IVRServerDriverHost,
                      public vr::IVRProperties,
                      public vr::IVRDriverInput,
                      public vr::IVRDriverLog,
                      public vr::IVRSettings,
                      public vr::IVRDriverManager,
                      public vr::IVRResources {
public:
  DevHost();

  // Interfaces named here are answered with null, to reach a driver's failure paths.
  void Withhold(const std::string &version) { withheld_.insert(version); }
  // Called for every event as it is recorded (on the driver's thread).
  void SetListener(std::function<void(const Event &)> listener);

  std::vector<Event> Events() const;
  std::vector<Event> EventsOf(Event::Kind kind) const;
  std::vector<std::string> LogLines() const;
  void ClearEvents();
  // Waits until `count` log lines equal to `line` have been recorded (or the timeout passes).
  bool WaitForLog(const std::string &line, std::chrono::milliseconds timeout, size_t count = 1) const;
  size_t CountLog(const std::string &line) const;
  std::string ComponentName(vr::VRInputComponentHandle_t handle) const;
  vr::ITrackedDeviceServerDriver *AddedDevice() const { return device_; }
  double Now() const;

  // IVRDriverContext
  void *GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError) override;
  vr::DriverHandle_t GetDriverHandle() override { return 1; }

  // IVRServerDriverHost
  bool TrackedDeviceAdded(const char *pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                          vr::ITrackedDeviceServerDriver *pDriver) override;
  void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t &newPose,
                                uint32_t unPoseStructSize) override;
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

  // IVRProperties
  vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t, vr::PropertyRead_t *pBatch,
                                              uint32_t unBatchEntryCount) override;
  vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                               vr::PropertyWrite_t *pBatch, uint32_t unBatchEntryCount) override;
  const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override { return "error"; }
  vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t nDevice) override {
    return 0x1000 + nDevice;
  }

  // IVRDriverInput
  vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                           vr::VRInputComponentHandle_t *pHandle) override;
  vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                           double fTimeOffset) override;
  vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                          vr::VRInputComponentHandle_t *pHandle, vr::EVRScalarType eType,
                                          vr::EVRScalarUnits eUnits) override;
  vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                          double fTimeOffset) override;
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
  void Log(const char *pchLogMessage) override;

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

  // IVRDriverManager: this driver alone.
  uint32_t GetDriverCount() const override { return 1; }
  uint32_t GetDriverName(vr::DriverId_t nDriver, char *pchValue, uint32_t unBufferSize) override;
  vr::DriverHandle_t GetDriverHandle(const char *) override { return 1; }
  bool IsEnabled(vr::DriverId_t nDriver) const override { return nDriver == 0; }

  // IVRResources: no shared resources.
  uint32_t LoadSharedResource(const char *, char *, uint32_t) override { return 0; }
  uint32_t GetResourceFullPath(const char *, const char *, char *buffer, uint32_t len) override {
    if (buffer && len) buffer[0] = '\0';
    return 0;
  }

private:
  static void Unset(vr::EVRSettingsError *e) {
    if (e) *e = vr::VRSettingsError_UnsetSettingHasNoDefault;
  }
  void Record(Event event);

  std::chrono::steady_clock::time_point start_;
  std::set<std::string> withheld_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
  std::vector<std::pair<vr::VRInputComponentHandle_t, std::string>> components_;
  std::function<void(const Event &)> listener_;
  vr::ITrackedDeviceServerDriver *device_ = nullptr;
  vr::VRInputComponentHandle_t nextHandle_ = 0x100;
};

// One line of text for an event, as the tool prints it.
std::string FormatEvent(const Event &event);
// The same event as one JSON object.
std::string FormatEventJson(const Event &event);

} // namespace devhost
