#pragma once

#include <cstdint>
#include <cstring>

#include <openvr_driver.h>

#include "tools/host/null_host.h"

// A host that only counts what the driver reports and never allocates, for
// measuring the frame update itself. Installed as the module's driver context
// for its lifetime.
class QuietHost final : public devhost::NullHost {
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

  // Only the interfaces the frame update uses.
  void *GetGenericInterface(const char *version, vr::EVRInitError *error) override {
    void *found = nullptr;
    if (std::strcmp(version, vr::IVRServerDriverHost_Version) == 0 ||
        std::strcmp(version, vr::IVRDriverInput_Version) == 0)
      found = Offered(version);
    if (error) *error = found ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
    return found;
  }

  void TrackedDevicePoseUpdated(uint32_t, const vr::DriverPose_t &pose, uint32_t) override {
    ++poses;
    lastPose = pose;
  }
  vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t, bool, double) override {
    ++updates;
    return vr::VRInputError_None;
  }
  vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t, float, double) override {
    ++updates;
    return vr::VRInputError_None;
  }
};
