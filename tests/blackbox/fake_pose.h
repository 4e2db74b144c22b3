#pragma once

#include <openvr_driver.h>

// What the fake pose helper and the tests that start it agree on.
inline constexpr const char *kExchangeName = "Getter_SharedMemory_K5";
inline constexpr unsigned kExchangeSize = 1024;
inline constexpr const char *kFakeHelperAliveName = "vk5_fake_pose_getter_alive";
inline constexpr unsigned long kFakeHelperLifetimeMs = 20000;

// Identity rotation at (1, 2, 3), moving at (0.5, 0, 0), tracked and connected.
inline vr::TrackedDevicePose_t FakeHelperPose() {
  static_assert(sizeof(vr::TrackedDevicePose_t) == 80);
  vr::TrackedDevicePose_t pose{};
  for (int i = 0; i < 3; ++i) pose.mDeviceToAbsoluteTracking.m[i][i] = 1.0f;
  pose.mDeviceToAbsoluteTracking.m[0][3] = 1.0f;
  pose.mDeviceToAbsoluteTracking.m[1][3] = 2.0f;
  pose.mDeviceToAbsoluteTracking.m[2][3] = 3.0f;
  pose.vVelocity.v[0] = 0.5f;
  pose.eTrackingResult = vr::TrackingResult_Running_OK;
  pose.bPoseIsValid = true;
  pose.bDeviceIsConnected = true;
  return pose;
}
