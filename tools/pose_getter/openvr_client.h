// Binary-compatible subset of the host's application-side interfaces: the
// client core the runtime's client library hands out, and the system
// interface. Only the methods the helper calls have their real signatures; the
// slots before them are declared as placeholders so every called method sits
// at the runtime's slot index. The slot numbers are pinned by
// tests/tools/pose_getter/client_abi_test.cpp.
#pragma once

#include <cstdint>

#include <openvr_driver.h>

namespace vrclient {

inline constexpr const char *kClientCoreVersion = "IVRClientCore_003";
inline constexpr const char *kSystemVersion = "IVRSystem_022";
inline constexpr const char *kClientCoreFactoryName = "VRClientCoreFactory";

enum EVRApplicationType {
  VRApplication_Other = 0,
  VRApplication_Scene = 1,
  VRApplication_Overlay = 2,
  VRApplication_Background = 3,
  VRApplication_Utility = 4,
};

enum ETrackingUniverseOrigin {
  TrackingUniverseSeated = 0,
  TrackingUniverseStanding = 1,
  TrackingUniverseRawAndUncalibrated = 2,
};

// Init's answer when no server runs: a background application never starts one.
inline constexpr int kInitErrorNoServerForBackgroundApp = 121;

// The event that asks an application to exit (VREvent_Quit).
inline constexpr uint32_t kEventQuit = 700;

// Room for one runtime event record: the type comes first, the rest is read by
// no one here. The runtime's record is 60 bytes with 4-byte packing (Linux)
// and 64 with 8-byte packing (Windows); kClientEventSize says which.
struct alignas(8) EventBuffer {
  uint32_t eventType;
  unsigned char rest[60];
};

// Defined by each platform's client library loader.
extern const uint32_t kClientEventSize;

// The exported factory of the client library.
using ClientCoreFactoryFn = void *(*)(const char *interfaceName, int *returnCode);

class IVRClientCore {
public:
  virtual vr::EVRInitError Init(EVRApplicationType applicationType, const char *startupInfo) = 0; // 0
  virtual void Cleanup() = 0;                                                                     // 1
  virtual vr::EVRInitError IsInterfaceVersionValid(const char *interfaceVersion) = 0;             // 2
  virtual void *GetGenericInterface(const char *nameAndVersion, vr::EVRInitError *error) = 0;     // 3
  virtual bool BIsHmdPresent() = 0;                                                               // 4
  virtual const char *GetEnglishStringForHmdError(vr::EVRInitError error) = 0;                    // 5
  virtual const char *GetIDForVRInitError(vr::EVRInitError error) = 0;                            // 6

protected:
  ~IVRClientCore() = default;
};

class IVRSystem {
public:
  // Slots 0 to 10: display methods the helper never calls.
  virtual void Unused0() = 0;
  virtual void Unused1() = 0;
  virtual void Unused2() = 0;
  virtual void Unused3() = 0;
  virtual void Unused4() = 0;
  virtual void Unused5() = 0;
  virtual void Unused6() = 0;
  virtual void Unused7() = 0;
  virtual void Unused8() = 0;
  virtual void Unused9() = 0;
  virtual void Unused10() = 0;
  virtual void GetDeviceToAbsoluteTrackingPose(ETrackingUniverseOrigin origin, float predictedSecondsToPhotonsFromNow,
                                               vr::TrackedDevicePose_t *poses, uint32_t poseCount) = 0; // 11
  virtual void Unused12() = 0;
  virtual void Unused13() = 0;
  virtual void Unused14() = 0;
  virtual void Unused15() = 0;
  virtual void Unused16() = 0;
  virtual vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole role) = 0;  // 17
  virtual vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t index) = 0; // 18
  virtual vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t index) = 0;                     // 19
  virtual bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t index) = 0;                                     // 20
  virtual void Unused21() = 0;
  virtual void Unused22() = 0;
  virtual void Unused23() = 0;
  virtual void Unused24() = 0;
  virtual void Unused25() = 0;
  virtual void Unused26() = 0;
  virtual uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t index, vr::ETrackedDeviceProperty prop,
                                                  char *value, uint32_t bufferSize,
                                                  vr::ETrackedPropertyError *error) = 0; // 27
  virtual void Unused28() = 0;
  // `size` is the caller's event record size; the runtime fills at most that.
  virtual bool PollNextEvent(EventBuffer *event, uint32_t size) = 0; // 29
  // Slots 30 to 42: events with poses, controller state, haptics, firmware.
  virtual void Unused30() = 0;
  virtual void Unused31() = 0;
  virtual void Unused32() = 0;
  virtual void Unused33() = 0;
  virtual void Unused34() = 0;
  virtual void Unused35() = 0;
  virtual void Unused36() = 0;
  virtual void Unused37() = 0;
  virtual void Unused38() = 0;
  virtual void Unused39() = 0;
  virtual void Unused40() = 0;
  virtual void Unused41() = 0;
  virtual void Unused42() = 0;
  // Tells the runtime that the quit event was seen and the process is exiting.
  virtual void AcknowledgeQuit_Exiting() = 0; // 43

protected:
  ~IVRSystem() = default;
};

} // namespace vrclient
