#include "tools/pose_getter/openvr_follower.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/pose_getter/runtime_paths.h"

namespace {
bool Finite(const PoseRecord &r) {
  for (const auto &row : r.m)
    for (float v : row)
      if (!std::isfinite(v)) return false;
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(r.velocity[i]) || !std::isfinite(r.angularVelocity[i])) return false;
  return true;
}
} // namespace

OpenVrFollower::OpenVrFollower(const GetterConfig &config, std::string registryFile)
    : follow_(config.follow), serial_(config.followSerial),
      mountRotation_(RotationFromYawPitchRoll(config.offset.rotation)), mountPosition_{config.offset.position[0],
                                                                                       config.offset.position[1],
                                                                                       config.offset.position[2]},
      registryFile_(registryFile.empty() ? VrPathRegistryFile() : std::move(registryFile)) {}

OpenVrFollower::~OpenVrFollower() {
  Disconnect();
}

bool OpenVrFollower::Connect() {
  const RuntimeLookup runtime = FindRuntimeFolder(registryFile_);
  if (runtime.folder.empty()) {
    problem_ = runtime.problem;
    return false;
  }
  const std::string path = ClientLibraryPath(runtime.folder);
  std::string why;
  library_ = LoadClientLibrary(path, why);
  if (!library_) {
    problem_ = "cannot load " + path + ": " + why;
    return false;
  }
  const auto factory =
      reinterpret_cast<vrclient::ClientCoreFactoryFn>(FindLibrarySymbol(library_, vrclient::kClientCoreFactoryName));
  int code = 0;
  core_ = factory ? static_cast<vrclient::IVRClientCore *>(factory(vrclient::kClientCoreVersion, &code)) : nullptr;
  if (!core_) {
    problem_ = path + " offers no " + vrclient::kClientCoreVersion;
    Disconnect();
    return false;
  }
  const vr::EVRInitError init = core_->Init(vrclient::VRApplication_Background, nullptr);
  if (init != vr::VRInitError_None) {
    problem_ = init == vrclient::kInitErrorNoServerForBackgroundApp
                   ? std::string("the host is not running")
                   : "the runtime refused the connection (error " + std::to_string(init) + ")";
    // Init failed: nothing to clean up but the library.
    core_ = nullptr;
    Disconnect();
    return false;
  }
  vr::EVRInitError error = vr::VRInitError_None;
  system_ = static_cast<vrclient::IVRSystem *>(core_->GetGenericInterface(vrclient::kSystemVersion, &error));
  if (!system_ || error != vr::VRInitError_None) {
    problem_ = std::string("the runtime offers no ") + vrclient::kSystemVersion;
    system_ = nullptr;
    Disconnect();
    return false;
  }
  problem_.clear();
  return true;
}

void OpenVrFollower::Disconnect() {
  if (core_) core_->Cleanup();
  core_ = nullptr;
  system_ = nullptr;
  UnloadClientLibrary(library_);
  library_ = nullptr;
  device_ = vr::k_unTrackedDeviceIndexInvalid;
}

bool OpenVrFollower::IsOwnDevice(vr::TrackedDeviceIndex_t index) {
  vr::ETrackedPropertyError error = vr::TrackedProp_Success;
  const uint32_t n = system_->GetStringTrackedDeviceProperty(index, vr::Prop_SerialNumber_String, serialBuffer_,
                                                             static_cast<uint32_t>(sizeof serialBuffer_), &error);
  return error == vr::TrackedProp_Success && n > 0 && std::strcmp(serialBuffer_, kOwnSerialNumber) == 0;
}

vr::TrackedDeviceIndex_t OpenVrFollower::FindDevice() {
  switch (follow_) {
  case GetterConfig::Follow::LeftHand:
  case GetterConfig::Follow::RightHand: {
    const vr::TrackedDeviceIndex_t index = system_->GetTrackedDeviceIndexForControllerRole(
        follow_ == GetterConfig::Follow::LeftHand ? vr::TrackedControllerRole_LeftHand
                                                  : vr::TrackedControllerRole_RightHand);
    if (index >= vr::k_unMaxTrackedDeviceCount || IsOwnDevice(index)) return vr::k_unTrackedDeviceIndexInvalid;
    return index;
  }
  case GetterConfig::Follow::Tracker: {
    // The runtime keeps a switched-off tracker's index (and class) for the
    // rest of the session, so only a connected one counts.
    auto connectedTracker = [&](vr::TrackedDeviceIndex_t i) {
      return system_->GetTrackedDeviceClass(i) == vr::TrackedDeviceClass_GenericTracker &&
             system_->IsTrackedDeviceConnected(i) && !IsOwnDevice(i);
    };
    // Stay with the tracker being followed while it is there: one switched on
    // later under a lower index must not take the pistol over.
    if (device_ < vr::k_unMaxTrackedDeviceCount && connectedTracker(device_)) return device_;
    for (vr::TrackedDeviceIndex_t i = 0; i < vr::k_unMaxTrackedDeviceCount; ++i)
      if (connectedTracker(i)) return i;
    return vr::k_unTrackedDeviceIndexInvalid;
  }
  case GetterConfig::Follow::Serial:
    for (vr::TrackedDeviceIndex_t i = 0; i < vr::k_unMaxTrackedDeviceCount; ++i) {
      if (system_->GetTrackedDeviceClass(i) == vr::TrackedDeviceClass_Invalid) continue;
      vr::ETrackedPropertyError error = vr::TrackedProp_Success;
      const uint32_t n = system_->GetStringTrackedDeviceProperty(i, vr::Prop_SerialNumber_String, serialBuffer_,
                                                                 static_cast<uint32_t>(sizeof serialBuffer_), &error);
      if (error == vr::TrackedProp_Success && n > 0 && serial_ == serialBuffer_) return i;
    }
    return vr::k_unTrackedDeviceIndexInvalid;
  }
  return vr::k_unTrackedDeviceIndexInvalid;
}

PoseRecord OpenVrFollower::NotValid() const {
  // Where it was last seen, neither valid nor moving, so the host neither
  // shows nor extrapolates a pose nobody measures.
  PoseRecord r = lastOffered_;
  if (!offered_) r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0f;
  r.poseIsValid = 0;
  r.deviceIsConnected = 0;
  r.result = vr::TrackingResult_Uninitialized;
  std::fill(std::begin(r.velocity), std::end(r.velocity), 0.0f);
  std::fill(std::begin(r.angularVelocity), std::end(r.angularVelocity), 0.0f);
  return r;
}

std::optional<PoseRecord> OpenVrFollower::Offer(const PoseRecord &record) {
  if (offered_ && std::memcmp(&record, &lastOffered_, sizeof record) == 0) return std::nullopt;
  lastOffered_ = record;
  offered_ = true;
  return record;
}

bool OpenVrFollower::QuitRequested() {
  vrclient::EventBuffer event{};
  while (system_->PollNextEvent(&event, vrclient::kClientEventSize))
    if (event.eventType == vrclient::kEventQuit) return true;
  return false;
}

std::optional<PoseRecord> OpenVrFollower::Poll(Clock::time_point now) {
  if (hostQuit_) return std::nullopt;
  if (system_ && QuitRequested()) {
    // The runtime waits a little longer for a process that says it is going;
    // the pose goes not valid at once, and the client lets go of the runtime.
    system_->AcknowledgeQuit_Exiting();
    hostQuit_ = true;
    Disconnect();
    state_ = State::NoRuntime;
    problem_ = "the host is quitting";
    PoseRecord last = NotValid();
    lastOffered_ = last;
    offered_ = true;
    return last;
  }
  if (!system_) {
    if (nextConnect_ && now < *nextConnect_) return Offer(NotValid());
    if (!Connect()) {
      nextConnect_ = now + retryDelay_;
      retryDelay_ = std::min<Clock::duration>(retryDelay_ * 2, kLongestRetry);
      state_ = State::NoRuntime;
      return Offer(NotValid());
    }
    retryDelay_ = kFirstRetry;
    nextConnect_.reset();
    nextLookup_.reset();
  }

  // A device may appear, vanish and come back under another index.
  if (!nextLookup_ || now >= *nextLookup_) {
    device_ = FindDevice();
    nextLookup_ = now + kLookupEvery;
  }
  if (device_ == vr::k_unTrackedDeviceIndexInvalid) {
    state_ = State::NoDevice;
    return Offer(NotValid());
  }
  state_ = State::Following;

  // Raw tracking space: the space the driver reports the pistol's pose in.
  system_->GetDeviceToAbsoluteTrackingPose(vrclient::TrackingUniverseRawAndUncalibrated, 0.0f, poses_,
                                           vr::k_unMaxTrackedDeviceCount);
  const vr::TrackedDevicePose_t &pose = poses_[device_];
  PoseRecord followed{};
  std::memcpy(followed.m, pose.mDeviceToAbsoluteTracking.m, sizeof followed.m);
  std::memcpy(followed.velocity, pose.vVelocity.v, sizeof followed.velocity);
  std::memcpy(followed.angularVelocity, pose.vAngularVelocity.v, sizeof followed.angularVelocity);
  followed.result = static_cast<int32_t>(pose.eTrackingResult);
  followed.poseIsValid = pose.bPoseIsValid ? 1 : 0;
  followed.deviceIsConnected = pose.bDeviceIsConnected ? 1 : 0;

  const PoseRecord pistol = ApplyMount(followed, mountRotation_, mountPosition_);
  return Offer(Finite(pistol) ? pistol : NotValid());
}

OpenVrFollower::Clock::time_point OpenVrFollower::NextPoll(Clock::time_point now) const {
  if (!system_ && nextConnect_) return std::max(now, *nextConnect_);
  if (state_ == State::NoDevice && nextLookup_) return std::max(now, *nextLookup_);
  return now + kPollEvery;
}
