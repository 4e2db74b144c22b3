#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include <openvr_driver.h>

inline constexpr const char *kPoseExchangeName = "Getter_SharedMemory_K5";
inline constexpr std::size_t kPoseExchangeSize = 1024;

// The pose as the helper writes it: the byte layout of vr::TrackedDevicePose_t,
// with the two flags as raw bytes because another process writes them and a
// bool holding anything but 0 or 1 cannot be read safely.
struct PoseRecord {
  float m[3][4];
  float velocity[3];
  float angularVelocity[3];
  int32_t result;
  uint8_t poseIsValid;
  uint8_t deviceIsConnected;
  uint8_t padding[2];
};
static_assert(sizeof(PoseRecord) == sizeof(vr::TrackedDevicePose_t));
static_assert(offsetof(PoseRecord, velocity) == offsetof(vr::TrackedDevicePose_t, vVelocity));
static_assert(offsetof(PoseRecord, angularVelocity) == offsetof(vr::TrackedDevicePose_t, vAngularVelocity));
static_assert(offsetof(PoseRecord, result) == offsetof(vr::TrackedDevicePose_t, eTrackingResult));
static_assert(offsetof(PoseRecord, poseIsValid) == offsetof(vr::TrackedDevicePose_t, bPoseIsValid));
static_assert(offsetof(PoseRecord, deviceIsConnected) == offsetof(vr::TrackedDevicePose_t, bDeviceIsConnected));

// Offset 0 of the shared mapping. `lock` is only ever touched through
// std::atomic_ref (see exchange_lock.h): 0 free, 1 held.
struct PoseExchangeBlock {
  uint8_t lock;
  uint8_t padding[3];
  PoseRecord pose;
};
static_assert(sizeof(PoseExchangeBlock) == 84);
static_assert(offsetof(PoseExchangeBlock, pose) == 4);

// Maps the shared block the pose helper writes into and zeroes it. Opening an
// already open exchange reopens it.
void OpenPoseExchange();
void ClosePoseExchange();

inline constexpr std::chrono::microseconds kPoseLockWait{1000};

enum class PoseRead { NoBlock, Locked, Read };

// Copies the record out under the block's lock, waiting for it at most `wait`:
// the host's frame thread must not stall behind a helper that died holding it.
PoseRead ReadPoseRecord(PoseRecord &out, std::chrono::microseconds wait = kPoseLockWait);
// ReadPoseRecord, then ConvertPose.
PoseRead ReadPose(vr::DriverPose_t &out, std::chrono::microseconds wait = kPoseLockWait);

// The host's pose for a record: tilted 30 degrees about the device's X axis and
// shifted 0.25 along its Z axis. A record holding a NaN or an infinity comes
// out with poseIsValid false and those values as 0, and one whose rotation
// overflows with poseIsValid false and the identity rotation, so the host never
// sees a non-finite number or a quaternion it cannot normalise. The tracking
// result is passed on as the helper wrote it, any int32 included.
vr::DriverPose_t ConvertPose(const PoseRecord &record);
