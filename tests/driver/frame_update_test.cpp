#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ble/input_latches.h"
#include "driver/controller_driver.h"
#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "tests/common/second_view.h"
#include "tools/host/dev_host.h"

namespace {
using devhost::Event;
using Kind = Event::Kind;

constexpr vr::VRInputComponentHandle_t kFireClick = 11, kFireValue = 12, kEjectClick = 13, kLoadClick = 14;
constexpr uint32_t kDevice = 3;

// What one frame reported, in order: component updates and poses.
struct Report {
  Kind kind;
  uint64_t handle;
  double value;
};

class FrameUpdate : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(vr::InitServerDriverContext(&host), vr::VRInitError_None);
    inputLatches.fire.store(false);
    inputLatches.eject_mag.store(false);
    inputLatches.load_mag.store(false);
    controller.objectId = kDevice;
    controller.fireClick = kFireClick;
    controller.fireValue = kFireValue;
    controller.ejectMagClick = kEjectClick;
    controller.loadMagClick = kLoadClick;
    controller.driverInput = vr::VRDriverInput(); // as Activate leaves it
  }
  void TearDown() override {
    ClosePoseExchange();
    vr::CleanupDriverContext();
  }

  std::vector<Report> Frame() {
    host.ClearEvents();
    controller.FrameUpdate();
    std::vector<Report> reports;
    for (const Event &e : host.Events())
      if (e.kind == Kind::BooleanUpdate || e.kind == Kind::ScalarUpdate || e.kind == Kind::PoseUpdate)
        reports.push_back({e.kind, e.handle, e.value});
    return reports;
  }

  // Frames until (and including) the one that reports something; -1 if none within `limit`.
  int FramesUntilReport(int limit) {
    for (int i = 1; i <= limit; ++i)
      if (!Frame().empty()) return i;
    return -1;
  }

  devhost::DevHost host;
  ControllerDriver controller;
};

std::vector<Report> Press(uint64_t click, const uint64_t *value = nullptr) {
  std::vector<Report> r{{Kind::BooleanUpdate, click, 1.0}};
  if (value) r.push_back({Kind::ScalarUpdate, *value, 1.0});
  return r;
}

bool operator==(const Report &a, const Report &b) {
  return a.kind == b.kind && a.handle == b.handle && a.value == b.value;
}
} // namespace

TEST_F(FrameUpdate, OneFireEventIsAPressOfTwentyOneFrames) {
  inputLatches.fire.store(true);
  const uint64_t value = kFireValue;
  EXPECT_EQ(Frame(), Press(kFireClick, &value));
  EXPECT_FALSE(inputLatches.fire.load());
  for (int i = 1; i <= kHoldFrames; ++i) EXPECT_TRUE(Frame().empty()) << "frame " << i;
  const std::vector<Report> release{{Kind::BooleanUpdate, kFireClick, 0.0}, {Kind::ScalarUpdate, kFireValue, 0.0}};
  EXPECT_EQ(Frame(), release);
  EXPECT_TRUE(Frame().empty());
}

TEST_F(FrameUpdate, AnEventWhileHeldIsDropped) {
  inputLatches.fire.store(true);
  Frame();
  for (int i = 1; i < 5; ++i) Frame();
  inputLatches.fire.store(true);
  EXPECT_EQ(FramesUntilReport(30), kHoldFrames + 1 - 4) << "the release frame";
  EXPECT_FALSE(inputLatches.fire.load()) << "the dropped event was taken";
  EXPECT_EQ(FramesUntilReport(30), -1) << "no second press";
}

TEST_F(FrameUpdate, AnEventBeforeTheReleaseFramesReadIsDroppedOneAfterItStartsANewPress) {
  inputLatches.eject_mag.store(true);
  Frame();
  for (int i = 1; i <= kHoldFrames; ++i) Frame();
  inputLatches.eject_mag.store(true); // arrives before the release frame reads the latch
  EXPECT_EQ(Frame(), (std::vector<Report>{{Kind::BooleanUpdate, kEjectClick, 0.0}}));
  EXPECT_TRUE(Frame().empty());

  inputLatches.eject_mag.store(true);
  Frame();
  for (int i = 1; i <= kHoldFrames + 1; ++i) Frame();
  inputLatches.eject_mag.store(true); // arrives after the release frame
  EXPECT_EQ(Frame(), Press(kEjectClick));
}

TEST_F(FrameUpdate, ButtonsAreIndependentAndReportInOrderBeforeThePose) {
  OpenPoseExchange();
  inputLatches.load_mag.store(true);
  inputLatches.eject_mag.store(true);
  inputLatches.fire.store(true);
  const std::vector<Report> reports = Frame();
  ASSERT_EQ(reports.size(), 5u);
  EXPECT_EQ(reports[0], (Report{Kind::BooleanUpdate, kFireClick, 1.0}));
  EXPECT_EQ(reports[1], (Report{Kind::ScalarUpdate, kFireValue, 1.0}));
  EXPECT_EQ(reports[2], (Report{Kind::BooleanUpdate, kEjectClick, 1.0}));
  EXPECT_EQ(reports[3], (Report{Kind::BooleanUpdate, kLoadClick, 1.0}));
  EXPECT_EQ(reports[4].kind, Kind::PoseUpdate);

  for (int i = 1; i <= kHoldFrames; ++i) Frame();
  const std::vector<Report> release = Frame();
  ASSERT_EQ(release.size(), 5u);
  EXPECT_EQ(release[0], (Report{Kind::BooleanUpdate, kFireClick, 0.0}));
  EXPECT_EQ(release[1], (Report{Kind::ScalarUpdate, kFireValue, 0.0}));
  EXPECT_EQ(release[2], (Report{Kind::BooleanUpdate, kEjectClick, 0.0}));
  EXPECT_EQ(release[3], (Report{Kind::BooleanUpdate, kLoadClick, 0.0}));

  // One button pressed alone leaves the others silent.
  inputLatches.load_mag.store(true);
  const std::vector<Report> alone = Frame();
  ASSERT_EQ(alone.size(), 2u);
  EXPECT_EQ(alone[0], (Report{Kind::BooleanUpdate, kLoadClick, 1.0}));
}

TEST_F(FrameUpdate, AMappedBlockNeverWrittenGivesAnInvalidPoseEveryFrame) {
  OpenPoseExchange();
  for (int i = 0; i < 3; ++i) {
    host.ClearEvents();
    controller.FrameUpdate();
    const std::vector<Event> poses = host.EventsOf(Kind::PoseUpdate);
    ASSERT_EQ(poses.size(), 1u);
    EXPECT_EQ(poses[0].number, kDevice);
    EXPECT_EQ(poses[0].size, sizeof(vr::DriverPose_t));
    EXPECT_FALSE(poses[0].pose.poseIsValid);
    EXPECT_FALSE(poses[0].pose.deviceIsConnected);
    EXPECT_EQ(static_cast<int>(poses[0].pose.result), 0);
  }
}

TEST_F(FrameUpdate, WithoutABlockNoPoseIsPublishedAndTheLastPoseIsKept) {
  EXPECT_TRUE(Frame().empty()) << "before the exchange is opened";

  OpenPoseExchange();
  {
    SecondView helper;
    helper.block().pose.m[0][3] = 4.0f;
    helper.block().pose.poseIsValid = 1;
  }
  Frame();
  EXPECT_EQ(controller.lastPose.vecPosition[0], 4.0);
  EXPECT_TRUE(controller.lastPose.poseIsValid);

  controller.Deactivate();
  EXPECT_EQ(controller.objectId, vr::k_unTrackedDeviceIndexInvalid);
  EXPECT_TRUE(Frame().empty()) << "after Deactivate";
  EXPECT_EQ(controller.lastPose.vecPosition[0], 4.0);
  EXPECT_TRUE(controller.lastPose.poseIsValid);
}

TEST_F(FrameUpdate, AStuckLockSkipsThePoseButNotTheButtons) {
  OpenPoseExchange();
  Frame();
  const vr::DriverPose_t before = controller.lastPose;
  SecondView helper;
  ASSERT_TRUE(TryLockExchange(helper.block()));
  helper.block().pose.poseIsValid = 1;

  inputLatches.fire.store(true);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<Report> reports = Frame();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  const uint64_t value = kFireValue;
  EXPECT_EQ(reports, Press(kFireClick, &value));
  EXPECT_EQ(controller.lastPose.poseIsValid, before.poseIsValid);

  UnlockExchange(helper.block());
  Frame();
  EXPECT_TRUE(controller.lastPose.poseIsValid);
}

// A helper that died holding the lock: after 100 ms of frames without a pose
// the host is told once that the pose is lost, with one log line, and told
// again in the log when poses flow.
TEST_F(FrameUpdate, ALockHeldForLongPausesThePoseOnceAndResumesWhenReleased) {
  OpenPoseExchange();
  SecondView helper;
  helper.block().pose.m[1][3] = 2.0f;
  helper.block().pose.poseIsValid = 1;
  helper.block().pose.result = vr::TrackingResult_Running_OK;
  Frame();
  ASSERT_TRUE(controller.lastPose.poseIsValid);
  ASSERT_TRUE(TryLockExchange(helper.block()));
  // Frames clear the host's record, so the log lines are counted as they come.
  std::vector<std::string> logged;
  host.SetListener([&](const Event &e) {
    if (e.kind == Kind::Log) logged.push_back(e.text);
  });
  const auto count = [&](const std::string &line) { return std::count(logged.begin(), logged.end(), line); };

  const std::string paused = "PoseGetter holds the pose block's lock: poses are paused.";
  const auto start = std::chrono::steady_clock::now();
  std::vector<Report> reports;
  int frames = 0;
  while (count(paused) == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    reports = Frame();
    ++frames;
    if (count(paused) == 0) {
      ASSERT_TRUE(reports.empty()) << "no pose inside the first 100 ms";
    }
  }
  ASSERT_EQ(count(paused), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, kStuckLockPause);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, Kind::PoseUpdate);
  EXPECT_FALSE(controller.lastPose.poseIsValid);
  EXPECT_EQ(controller.lastPose.result, vr::TrackingResult_Running_OutOfRange);
  EXPECT_EQ(controller.lastPose.vecPosition[1], 2.0) << "the last pose, only marked lost";

  for (int i = 0; i < 50; ++i) EXPECT_TRUE(Frame().empty());
  EXPECT_EQ(count(paused), 1);

  UnlockExchange(helper.block());
  EXPECT_EQ(Frame().size(), 1u);
  EXPECT_TRUE(controller.lastPose.poseIsValid);
  EXPECT_EQ(count("PoseGetter released the pose block's lock: poses flow again."), 1);
  Frame();
  EXPECT_EQ(count("PoseGetter released the pose block's lock: poses flow again."), 1);
}

// The host is asked for its input interface once per activation, not on
// every frame when it has none.
TEST_F(FrameUpdate, AHostWithoutAnInputInterfaceIsNotAskedEveryFrame) {
  host.Withhold(vr::IVRDriverInput_Version);
  vr::CleanupDriverContext();
  ASSERT_EQ(vr::InitServerDriverContext(&host), vr::VRInitError_None);
  controller.driverInput = nullptr;
  host.ClearEvents();
  inputLatches.fire.store(true);
  for (int i = 0; i < 100; ++i) controller.FrameUpdate();
  EXPECT_TRUE(host.EventsOf(Kind::InterfaceRequest).empty());
  EXPECT_FALSE(inputLatches.fire.load()) << "the press is still taken";
}
