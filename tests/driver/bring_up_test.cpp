// Activation and deactivation of the real module in the development host,
// with and without the pose helper beside it.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pose/pose_exchange.h"

#include "tests/common/driver_folder.h"

namespace {
using devhost::Event;
using Kind = Event::Kind;

// The link worker logs from a thread of its own; only the pose side's lines
// have a fixed place in activation.
bool IsPoseLine(const std::string &line) {
  return line.rfind("PoseGetter", 0) == 0 || line == "CreateProcess failed." ||
         line.rfind("Failed to terminate", 0) == 0 || line == "Failed to get DLL path." ||
         line == "Failed to create file mapping object." || line == "Failed to map view of file." ||
         line == "Initializing controller";
}

// Pose-side log lines recorded after the first `from` of them.
std::vector<std::string> LinesSince(const devhost::DevHost &host, std::size_t from) {
  std::vector<std::string> lines;
  for (const std::string &line : host.LogLines())
    if (IsPoseLine(line)) lines.push_back(line);
  return {lines.begin() + static_cast<long>(std::min(from, lines.size())), lines.end()};
}

// How many pose-side lines are recorded: the mark LinesSince counts from. Not
// all lines: the link worker logs on its own thread at any time.
std::size_t PoseLineCount(const devhost::DevHost &host) {
  return LinesSince(host, 0).size();
}

// Pose-side log lines written before the first property write.
std::size_t LogsBeforeFirstProperty(const devhost::DevHost &host) {
  std::size_t logs = 0;
  for (const Event &e : host.Events()) {
    if (e.kind == Kind::Property) break;
    if (e.kind == Kind::Log && IsPoseLine(e.text)) ++logs;
  }
  return logs;
}
} // namespace

TEST(BringUp, WithoutTheHelperActivationLogsTheFailedStartAndStillSucceeds) {
  DriverFolder folder;
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  const std::size_t initLines = PoseLineCount(folder.host);

  EXPECT_EQ(device->Activate(0), vr::VRInitError_None);
  EXPECT_EQ(LinesSince(folder.host, initLines), std::vector<std::string>{"CreateProcess failed."});
  EXPECT_EQ(LogsBeforeFirstProperty(folder.host), initLines + 1);
  EXPECT_EQ(folder.host.EventsOf(Kind::Property).size(), 7u);
  EXPECT_EQ(folder.host.EventsOf(Kind::ComponentCreated).size(), 4u);

  // The exchange is open all the same: its zeroed block reads as no pose.
  EXPECT_TRUE(folder.FramesUntilPose([](const vr::DriverPose_t &p) { return !p.poseIsValid && !p.deviceIsConnected; },
                                     std::chrono::milliseconds(500)));

  const std::size_t activeLines = PoseLineCount(folder.host);
  device->Deactivate();
  EXPECT_EQ(LinesSince(folder.host, activeLines),
            std::vector<std::string>{"Failed to terminate PoseGetter process, the process may not exist."});
  folder.host.ClearEvents();
  folder.provider()->RunFrame();
  EXPECT_TRUE(folder.host.EventsOf(Kind::PoseUpdate).empty());
}

TEST(BringUp, WithTheHelperItsPosesArriveAndDeactivationKillsAndReapsIt) {
  DriverFolder folder;
  folder.AddPoseGetter("source = demo\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  const std::size_t initLines = PoseLineCount(folder.host);

  EXPECT_EQ(device->Activate(0), vr::VRInitError_None);
  EXPECT_EQ(LinesSince(folder.host, initLines), std::vector<std::string>{"PoseGetter process started."});
  EXPECT_EQ(LogsBeforeFirstProperty(folder.host), initLines + 1);
  EXPECT_TRUE(folder.FramesUntilPose(
      [](const vr::DriverPose_t &p) {
        return p.poseIsValid && p.deviceIsConnected && p.result == vr::TrackingResult_Running_OK;
      },
      std::chrono::seconds(5)))
      << "the demo motion never arrived";

  const std::size_t activeLines = PoseLineCount(folder.host);
  device->Deactivate();
  EXPECT_EQ(LinesSince(folder.host, activeLines), std::vector<std::string>{"PoseGetter process terminated."});
  EXPECT_TRUE(NoChildProcessLeft());
}

TEST(BringUp, ASecondActivationStopsTheFirstHelperBeforeStartingAnother) {
  DriverFolder folder;
  folder.AddPoseGetter("source = demo\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  const std::size_t initLines = PoseLineCount(folder.host);

  device->Activate(0);
  device->Activate(0);
  EXPECT_EQ(LinesSince(folder.host, initLines),
            (std::vector<std::string>{"PoseGetter process started.", "PoseGetter process terminated.",
                                      "PoseGetter process started."}));
  device->Deactivate();
  EXPECT_EQ(folder.host.LogLines().back(), "PoseGetter process terminated.");
  EXPECT_TRUE(NoChildProcessLeft());
}

// The first helper is gone before the block is opened and zeroed again, so it
// cannot write into the block the second one starts from. The opening is made
// to fail (a block others may read is refused) so that its line shows where
// it came.
TEST(BringUp, ASecondActivationStopsTheFirstHelperBeforeTheBlockIsOpenedAgain) {
  DriverFolder folder;
  folder.AddPoseGetter("source = demo\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);
  const std::size_t firstLines = LinesSince(folder.host, 0).size();
  ASSERT_EQ(::chmod((std::string("/dev/shm/") + kPoseExchangeName).c_str(), 0644), 0);
  device->Activate(0);
  EXPECT_EQ(LinesSince(folder.host, firstLines),
            (std::vector<std::string>{"PoseGetter process terminated.", "Failed to map view of file.",
                                      "PoseGetter process started."}));
  device->Deactivate();
  ::unlink((std::string("/dev/shm/") + kPoseExchangeName).c_str());
  EXPECT_TRUE(NoChildProcessLeft());
}
