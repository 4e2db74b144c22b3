#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/pose_getter/client_library.h"
#include "tools/pose_getter/getter_config.h"
#include "tools/pose_getter/openvr_client.h"

// Follows one tracked device of the running host as a background application
// of it: reaches the runtime the way the host's own loader does, finds the
// device named by the configuration, and turns its pose, moved by the mount
// offset, into the pistol's pose in tracking space (velocities in tracking
// space too); RunSource makes the module's record of it.
class OpenVrFollower {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFirstRetry{100};
  static constexpr std::chrono::milliseconds kLongestRetry{2000};
  static constexpr std::chrono::milliseconds kLookupEvery{1000};
  // Often enough to pass on every pose of a 250 Hz runtime.
  static constexpr std::chrono::milliseconds kPollEvery{3};

  enum class State { NoRuntime, NoDevice, Following };

  // `registryFile` empty: the platform's own place for the path registry.
  explicit OpenVrFollower(const GetterConfig &config, std::string registryFile = {});
  ~OpenVrFollower();
  OpenVrFollower(const OpenVrFollower &) = delete;
  OpenVrFollower &operator=(const OpenVrFollower &) = delete;

  // One pass: connects when a retry is due, looks the device up when due,
  // reads its pose. The record to write when it differs from the last one.
  std::optional<PoseRecord> Poll(Clock::time_point now);
  // When the next pass is worth making.
  Clock::time_point NextPoll(Clock::time_point now) const;

  State state() const { return state_; }
  // Once the host has asked its applications to quit: acknowledged, the
  // not-valid record handed out, the client shut down; Poll gives nothing more.
  bool hostQuit() const { return hostQuit_; }
  // Why there is no runtime, for a person: changes only when the reason does.
  const std::string &problem() const { return problem_; }
  vr::TrackedDeviceIndex_t deviceIndex() const { return device_; }

private:
  bool Connect();
  void Disconnect();
  vr::TrackedDeviceIndex_t FindDevice();
  bool IsOwnDevice(vr::TrackedDeviceIndex_t index);
  bool QuitRequested();
  std::optional<PoseRecord> Offer(const PoseRecord &record);
  PoseRecord NotValid() const;

  GetterConfig::Follow follow_;
  std::string serial_;
  Rotation mountRotation_;
  double mountPosition_[3];
  std::string registryFile_;

  LibraryHandle library_ = nullptr;
  vrclient::IVRClientCore *core_ = nullptr;
  vrclient::IVRSystem *system_ = nullptr;
  State state_ = State::NoRuntime;
  bool hostQuit_ = false;
  std::string problem_;
  Clock::duration retryDelay_ = kFirstRetry;
  std::optional<Clock::time_point> nextConnect_;
  std::optional<Clock::time_point> nextLookup_;
  vr::TrackedDeviceIndex_t device_ = vr::k_unTrackedDeviceIndexInvalid;

  PoseRecord lastOffered_{};
  bool offered_ = false;
  vr::TrackedDevicePose_t poses_[vr::k_unMaxTrackedDeviceCount]{};
  char serialBuffer_[256]{};
};
