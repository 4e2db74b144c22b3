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

#include "tools/host/null_host.h"

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

class DevHost final : public NullHost {
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
  using NullHost::GetDriverHandle;

  // IVRServerDriverHost
  bool TrackedDeviceAdded(const char *pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                          vr::ITrackedDeviceServerDriver *pDriver) override;
  void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t &newPose,
                                uint32_t unPoseStructSize) override;

  // IVRProperties
  vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                               vr::PropertyWrite_t *pBatch, uint32_t unBatchEntryCount) override;
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

  // IVRDriverLog
  void Log(const char *pchLogMessage) override;

  // IVRDriverManager: this driver alone.
  uint32_t GetDriverCount() const override { return 1; }
  uint32_t GetDriverName(vr::DriverId_t nDriver, char *pchValue, uint32_t unBufferSize) override;
  vr::DriverHandle_t GetDriverHandle(const char *) override { return 1; }
  bool IsEnabled(vr::DriverId_t nDriver) const override { return nDriver == 0; }

private:
  void Record(Event event);
  // Hands out the next handle for the component `e` names, then records it.
  vr::EVRInputError AddComponent(Event e, vr::VRInputComponentHandle_t *pHandle);
  size_t CountLogLocked(const std::string &line) const; // with mutex_ held

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
