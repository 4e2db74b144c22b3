// The openvr source against a fake runtime installed in a temporary folder:
// finding the device, mirroring its pose, and waiting for a runtime quietly.
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/pose_getter/fake_vrclient/fake_runtime.h"
#include "tools/pose_getter/openvr_follower.h"
#include "tools/pose_getter/pose_sources.h"

namespace {
using namespace std::chrono_literals;
using Clock = OpenVrFollower::Clock;

vr::TrackedDevicePose_t PoseAt(float x, bool valid = true, bool connected = true,
                               vr::ETrackingResult result = vr::TrackingResult_Running_OK) {
  vr::TrackedDevicePose_t p{};
  p.mDeviceToAbsoluteTracking.m[0][0] = p.mDeviceToAbsoluteTracking.m[1][1] = p.mDeviceToAbsoluteTracking.m[2][2] = 1;
  p.mDeviceToAbsoluteTracking.m[0][3] = x;
  p.mDeviceToAbsoluteTracking.m[1][3] = 1.0f;
  p.eTrackingResult = result;
  p.bPoseIsValid = valid;
  p.bDeviceIsConnected = connected;
  return p;
}

GetterConfig Following(GetterConfig::Follow follow, std::string serial = {}) {
  GetterConfig c;
  c.source = GetterConfig::Source::OpenVr;
  c.follow = follow;
  c.followSerial = std::move(serial);
  return c;
}

class OpenVrFollowerTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(runtime.Install()); }

  // A room: the headset, our own pistol (as the host may give it a hand), a
  // controller in each hand and two trackers.
  void FurnishRoom() {
    AddDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, "HMD-1", 0.0f);
    AddDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, kOwnSerialNumber, 9.0f);
    AddDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, "LEFT-1", 2.0f);
    AddDevice(3, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-A", 3.0f);
    AddDevice(4, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-B", 4.0f);
  }
  void AddDevice(uint32_t index, vr::ETrackedDeviceClass cls, vr::ETrackedControllerRole role, const char *serial,
                 float x) {
    runtime.setDevice(index, cls, role, serial);
    const vr::TrackedDevicePose_t pose = PoseAt(x);
    runtime.setPose(index, &pose);
  }

  FakeRuntime runtime;
  Clock::time_point t0 = Clock::now();
};
} // namespace

TEST_F(OpenVrFollowerTest, DevicesAreFoundBySerialByRoleOrAsTheFirstTracker) {
  FurnishRoom();
  struct Case {
    GetterConfig config;
    float x;
  };
  for (const Case &c :
       {Case{Following(GetterConfig::Follow::Serial, "TRK-B"), 4.0f},
        Case{Following(GetterConfig::Follow::Serial, "HMD-1"), 0.0f},
        Case{Following(GetterConfig::Follow::Tracker), 3.0f}, Case{Following(GetterConfig::Follow::LeftHand), 2.0f}}) {
    OpenVrFollower follower(c.config, runtime.RegistryFile());
    const auto record = follower.Poll(t0);
    ASSERT_TRUE(record);
    EXPECT_EQ(follower.state(), OpenVrFollower::State::Following) << follower.problem();
    EXPECT_EQ(record->m[0][3], c.x);
    EXPECT_EQ(record->poseIsValid, 1);
  }
  int origin = -1;
  uint32_t count = 0;
  runtime.lastPoseRequest(&origin, &count);
  EXPECT_EQ(origin, vrclient::TrackingUniverseRawAndUncalibrated);
  EXPECT_EQ(count, vr::k_unMaxTrackedDeviceCount);
  const FakeVrCounters n = runtime.counters();
  EXPECT_EQ(n.inits, 4);
  EXPECT_EQ(n.cleanups, 4) << "every follower leaves the runtime as it found it";
}

TEST_F(OpenVrFollowerTest, ThePistolItselfIsNeverFollowed) {
  FurnishRoom();
  // The host gave our pistol the right hand; an unknown serial matches nothing.
  for (const GetterConfig &c :
       {Following(GetterConfig::Follow::RightHand), Following(GetterConfig::Follow::Serial, "NOT-THERE")}) {
    OpenVrFollower follower(c, runtime.RegistryFile());
    const auto record = follower.Poll(t0);
    ASSERT_TRUE(record);
    EXPECT_EQ(follower.state(), OpenVrFollower::State::NoDevice);
    EXPECT_EQ(record->poseIsValid, 0);
    EXPECT_EQ(record->deviceIsConnected, 0);
  }
}

TEST_F(OpenVrFollowerTest, FlagsAndResultAreMirroredTheOffsetAppliedAndOnlyNewPosesWritten) {
  FurnishRoom();
  GetterConfig config = Following(GetterConfig::Follow::Serial, "TRK-A");
  config.offset.position[1] = -0.05;
  OpenVrFollower follower(config, runtime.RegistryFile());
  const auto first = follower.Poll(t0);
  ASSERT_TRUE(first);
  EXPECT_NEAR(first->m[1][3], 0.95, 1e-6);
  EXPECT_FALSE(follower.Poll(t0 + 3ms)) << "the same pose is not written twice";

  const vr::TrackedDevicePose_t lost = PoseAt(3.5f, false, true, vr::TrackingResult_Running_OutOfRange);
  runtime.setPose(3, &lost);
  const auto mirrored = follower.Poll(t0 + 6ms);
  ASSERT_TRUE(mirrored);
  EXPECT_EQ(mirrored->poseIsValid, 0);
  EXPECT_EQ(mirrored->deviceIsConnected, 1);
  EXPECT_EQ(mirrored->result, vr::TrackingResult_Running_OutOfRange);
  EXPECT_EQ(mirrored->m[0][3], 3.5f);
}

TEST_F(OpenVrFollowerTest, ADeviceThatDisappearsAndComesBackIsFollowedAgain) {
  FurnishRoom();
  OpenVrFollower follower(Following(GetterConfig::Follow::Serial, "TRK-B"), runtime.RegistryFile());
  ASSERT_TRUE(follower.Poll(t0));
  EXPECT_EQ(follower.deviceIndex(), 4u);

  // Switched off: the runtime reports it disconnected, then forgets it.
  const vr::TrackedDevicePose_t off = PoseAt(4.0f, false, false, vr::TrackingResult_Uninitialized);
  runtime.setPose(4, &off);
  const auto gone = follower.Poll(t0 + 10ms);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->deviceIsConnected, 0);
  runtime.removeDevice(4);
  follower.Poll(t0 + OpenVrFollower::kLookupEvery + 10ms);
  EXPECT_EQ(follower.state(), OpenVrFollower::State::NoDevice);

  // Switched on again, under another index.
  AddDevice(7, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-B", 7.0f);
  const auto back = follower.Poll(t0 + 2 * OpenVrFollower::kLookupEvery + 20ms);
  ASSERT_TRUE(back);
  EXPECT_EQ(follower.deviceIndex(), 7u);
  EXPECT_EQ(back->m[0][3], 7.0f);
  EXPECT_EQ(back->poseIsValid, 1);
  EXPECT_EQ(runtime.counters().inits, 1) << "the runtime connection outlives the device";
}

TEST_F(OpenVrFollowerTest, TheFollowedTrackerKeepsThePistolWhenAnotherIsSwitchedOnBelowIt) {
  AddDevice(3, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-A", 3.0f);
  OpenVrFollower follower(Following(GetterConfig::Follow::Tracker), runtime.RegistryFile());
  ASSERT_TRUE(follower.Poll(t0));
  AddDevice(1, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-NEW", 1.0f);
  follower.Poll(t0 + OpenVrFollower::kLookupEvery + 1ms);
  EXPECT_EQ(follower.deviceIndex(), 3u);
}

TEST_F(OpenVrFollowerTest, ATrackerSwitchedOffEarlierUnderALowerIndexIsSkipped) {
  // The runtime keeps a switched-off tracker's index and class all session.
  AddDevice(1, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-OFF", 1.0f);
  const vr::TrackedDevicePose_t off = PoseAt(1.0f, false, false, vr::TrackingResult_Uninitialized);
  runtime.setPose(1, &off);
  AddDevice(5, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-ON", 5.0f);
  OpenVrFollower follower(Following(GetterConfig::Follow::Tracker), runtime.RegistryFile());
  const auto record = follower.Poll(t0);
  ASSERT_TRUE(record);
  EXPECT_EQ(follower.deviceIndex(), 5u);
  EXPECT_EQ(record->poseIsValid, 1);

  // The followed one goes off too: nothing to follow until one comes back.
  const vr::TrackedDevicePose_t fiveOff = PoseAt(5.0f, false, false, vr::TrackingResult_Uninitialized);
  runtime.setPose(5, &fiveOff);
  const auto gone = follower.Poll(t0 + OpenVrFollower::kLookupEvery + 1ms);
  ASSERT_TRUE(gone);
  EXPECT_EQ(follower.state(), OpenVrFollower::State::NoDevice);
  EXPECT_EQ(gone->deviceIsConnected, 0);
  const vr::TrackedDevicePose_t oneOn = PoseAt(1.5f);
  runtime.setPose(1, &oneOn);
  const auto back = follower.Poll(t0 + 2 * OpenVrFollower::kLookupEvery + 2ms);
  ASSERT_TRUE(back);
  EXPECT_EQ(follower.deviceIndex(), 1u);
  EXPECT_EQ(back->m[0][3], 1.5f);
}

TEST_F(OpenVrFollowerTest, TheHostsQuitIsAcknowledgedThePoseMadeNotValidAndTheClientShutDown) {
  AddDevice(3, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK-A", 3.0f);
  struct Recording final : PoseSink {
    std::vector<PoseRecord> written;
    int passes = 0;
    FakeRuntime *runtime = nullptr;
    void Write(const PoseRecord &r) override { written.push_back(r); }
    bool KeepRunning() override {
      if (++passes == 5) runtime->queueQuit();
      return passes < 5000; // a bound, should the quit never be seen
    }
  } sink;
  sink.runtime = &runtime;
  RunOpenVr(Following(GetterConfig::Follow::Tracker), sink, runtime.RegistryFile());
  EXPECT_LT(sink.passes, 5000) << "the helper returned on the quit event";
  ASSERT_GE(sink.written.size(), 2u);
  EXPECT_EQ(sink.written.front().poseIsValid, 1);
  EXPECT_EQ(sink.written.back().poseIsValid, 0);
  EXPECT_EQ(sink.written.back().deviceIsConnected, 0);
  const FakeVrCounters n = runtime.counters();
  EXPECT_EQ(n.quitAcks, 1);
  EXPECT_EQ(n.inits, 1);
  EXPECT_EQ(n.cleanups, 1);
  EXPECT_GE(n.eventPolls, 4) << "events are read every pass once connected";
}

TEST(OpenVrFollowerWithoutRuntime, NoRuntimeMeansOneNotValidPoseAndRetriesBackingOffToTwoSeconds) {
  FakeRuntime nothingInstalled;
  OpenVrFollower follower(Following(GetterConfig::Follow::Tracker), nothingInstalled.RegistryFile());
  const auto t0 = Clock::now();
  const auto first = follower.Poll(t0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->poseIsValid, 0);
  EXPECT_EQ(first->deviceIsConnected, 0);
  EXPECT_EQ(follower.state(), OpenVrFollower::State::NoRuntime);
  EXPECT_FALSE(follower.problem().empty());

  auto now = t0;
  std::chrono::milliseconds expected = OpenVrFollower::kFirstRetry;
  for (int attempt = 0; attempt < 8; ++attempt) {
    EXPECT_EQ(follower.NextPoll(now) - now, expected);
    now = follower.NextPoll(now);
    EXPECT_FALSE(follower.Poll(now)) << "nothing new to write";
    expected = std::min(expected * 2, OpenVrFollower::kLongestRetry);
  }
}

TEST(OpenVrFollowerWithoutRuntime, ARuntimeThatAppearsLateOrWhoseHostStartsLateIsPickedUp) {
  FakeRuntime runtime;
  OpenVrFollower follower(Following(GetterConfig::Follow::Tracker), runtime.RegistryFile());
  auto now = Clock::now();
  follower.Poll(now);
  EXPECT_EQ(follower.state(), OpenVrFollower::State::NoRuntime);

  // Installed, but the host's server is not up yet.
  ASSERT_TRUE(runtime.Install());
  runtime.setServerRunning(false);
  now = follower.NextPoll(now);
  follower.Poll(now);
  EXPECT_EQ(follower.state(), OpenVrFollower::State::NoRuntime);
  EXPECT_EQ(follower.problem(), "the host is not running");
  EXPECT_EQ(runtime.counters().inits, 1);

  runtime.setServerRunning(true);
  runtime.setDevice(2, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK");
  const vr::TrackedDevicePose_t pose = PoseAt(0.25f);
  runtime.setPose(2, &pose);
  EXPECT_FALSE(follower.Poll(now + 1ms)) << "no retry before the delay is up";
  now = follower.NextPoll(now);
  const auto followed = follower.Poll(now);
  ASSERT_TRUE(followed);
  EXPECT_EQ(follower.state(), OpenVrFollower::State::Following);
  EXPECT_EQ(followed->m[0][3], 0.25f);
  EXPECT_EQ(followed->poseIsValid, 1);
  EXPECT_EQ(follower.NextPoll(now) - now, OpenVrFollower::kPollEvery);
}
