// The pose road on Windows, as a black box: the development host loads the
// built module from a driver folder, the module starts the helper program
// that lies beside it, the helper's poses reach the host, and deactivation
// stops the helper again.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/blackbox/fake_pose.h"
#include "tests/common/driver_folder.h"

namespace {

using devhost::Event;
using namespace std::chrono_literals;

constexpr const char *kStartedLine = "PoseGetter process started.";
constexpr const char *kStartFailedLine = "CreateProcess failed.";
constexpr const char *kTerminatedLine = "PoseGetter process terminated.";
constexpr const char *kTerminateFailedLine = "Failed to terminate PoseGetter process, the process may not exist.";

bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

bool FakeHelperAlive() {
  HANDLE alive = OpenMutexA(SYNCHRONIZE, FALSE, kFakeHelperAliveName);
  if (!alive) return false;
  CloseHandle(alive);
  return true;
}

class PoseRoad : public ::testing::Test {
protected:
  void TearDown() override {
    // A failed case must not leave a helper process behind.
    if (active_) Stop();
  }

  // Loads the module from the folder and brings it as far as an active device.
  void Start() {
    device_ = folder_.Load();
    ASSERT_NE(device_, nullptr);
    active_ = true;
    ASSERT_EQ(device_->Activate(0), vr::VRInitError_None);
  }

  void Stop() {
    active_ = false;
    device_->Deactivate();
    folder_.Cleanup();
  }

  // Runs host frames at about 90 per second until `done` or the timeout.
  bool RunFramesUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
          folder_.provider()->RunFrame();
          return done();
        },
        timeout);
  }

  bool Logged(const std::string &line) const {
    const auto lines = host_.LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  DriverFolder folder_;
  devhost::DevHost &host_ = folder_.host;
  vr::ITrackedDeviceServerDriver *device_ = nullptr;
  bool active_ = false;
};

TEST_F(PoseRoad, ModuleLoadsFromItsDriverFolderAndRunsItsLifecycle) {
  Start();
  EXPECT_NE(folder_.module().libraryPath().find("win64"), std::string::npos) << folder_.module().libraryPath();
  EXPECT_EQ(host_.EventsOf(Event::Kind::ComponentCreated).size(), 4u);
  for (int frame = 0; frame < 10; ++frame) folder_.provider()->RunFrame();
  Stop();
  EXPECT_EQ(host_.AddedDevice(), device_);
}

TEST_F(PoseRoad, HelperBesideTheModuleIsStartedAndItsPosesReachTheHost) {
  folder_.AddBesideModule("fake_pose_getter.exe", "pose_getter.exe");
  Start();

  // The helper is started before the device describes itself.
  const auto events = host_.Events();
  const auto started = std::find_if(events.begin(), events.end(), [](const Event &e) {
    return e.kind == Event::Kind::Log && e.text == kStartedLine;
  });
  const auto firstProperty =
      std::find_if(events.begin(), events.end(), [](const Event &e) { return e.kind == Event::Kind::Property; });
  ASSERT_NE(started, events.end());
  EXPECT_LT(started - events.begin(), firstProperty - events.begin());

  auto trackedPose = [&] {
    for (const Event &e : host_.EventsOf(Event::Kind::PoseUpdate))
      if (e.pose.poseIsValid && e.pose.deviceIsConnected) return true;
    return false;
  };
  ASSERT_TRUE(RunFramesUntil(trackedPose, 5s)) << "no tracked pose from the helper within 5 s";
  EXPECT_TRUE(FakeHelperAlive());

  vr::DriverPose_t pose{};
  for (const Event &e : host_.EventsOf(Event::Kind::PoseUpdate))
    if (e.pose.poseIsValid) pose = e.pose;
  EXPECT_EQ(pose.result, vr::TrackingResult_Running_OK);
  // The fake's (1, 2, 3) shifted 0.25 along the device's own Z axis.
  EXPECT_NEAR(pose.vecPosition[0], 1.0, 1e-6);
  EXPECT_NEAR(pose.vecPosition[1], 2.0, 1e-6);
  EXPECT_NEAR(pose.vecPosition[2], 3.25, 1e-6);
  EXPECT_NEAR(pose.vecVelocity[0], 0.5, 1e-6);

  Stop();
  EXPECT_TRUE(Logged(kTerminatedLine));
  EXPECT_TRUE(WaitUntil([] { return !FakeHelperAlive(); }, 2s)) << "the helper outlived Deactivate";
}

TEST_F(PoseRoad, MissingHelperIsLoggedAndTheDeviceStillActivates) {
  Start();
  EXPECT_TRUE(Logged(kStartFailedLine));
  EXPECT_EQ(host_.EventsOf(Event::Kind::Property).size(), 7u);
  EXPECT_EQ(host_.EventsOf(Event::Kind::ComponentCreated).size(), 4u);

  // Nobody writes the block: the host sees an untracked, disconnected device.
  ASSERT_TRUE(RunFramesUntil([&] { return !host_.EventsOf(Event::Kind::PoseUpdate).empty(); }, 2s));
  for (const Event &e : host_.EventsOf(Event::Kind::PoseUpdate)) {
    EXPECT_FALSE(e.pose.poseIsValid);
    EXPECT_FALSE(e.pose.deviceIsConnected);
  }

  Stop();
  EXPECT_TRUE(Logged(kTerminateFailedLine));
  EXPECT_FALSE(Logged(kTerminatedLine));
}

TEST_F(PoseRoad, ShippedHelperIsStartedAndStopped) {
  folder_.AddBesideModule("pose_getter.exe", "pose_getter.exe");
  Start();
  EXPECT_TRUE(Logged(kStartedLine));
  RunFramesUntil([] { return false; }, 300ms);
  EXPECT_FALSE(host_.EventsOf(Event::Kind::PoseUpdate).empty());
  Stop();
  // Without a VR runtime under test the helper may already have ended on its own.
  EXPECT_TRUE(Logged(kTerminatedLine) || Logged(kTerminateFailedLine));
}

// A host that dies without Deactivate: the development host in a process of
// its own, killed once its helper runs. The helper must end with it.
TEST_F(PoseRoad, HelperEndsWhenTheHostProcessDies) {
  folder_.AddBesideModule("fake_pose_getter.exe", "pose_getter.exe");
  ASSERT_FALSE(FakeHelperAlive()) << "a helper from an earlier case still runs";
  const std::string hostProgram = (BuildOutputFolder() / "vk5-host.exe").string();
  std::string command;
  command.append("\"").append(hostProgram).append("\" \"").append(folder_.root().string()).append("\" --seconds 60");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION host{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &host))
      << GetLastError();
  const bool started = WaitUntil(FakeHelperAlive, 10s);
  TerminateProcess(host.hProcess, 1);
  WaitForSingleObject(host.hProcess, 10000);
  CloseHandle(host.hThread);
  CloseHandle(host.hProcess);
  ASSERT_TRUE(started) << "the host did not start its helper";
  EXPECT_TRUE(WaitUntil([] { return !FakeHelperAlive(); }, 5s)) << "the helper outlived its host";
}

} // namespace
