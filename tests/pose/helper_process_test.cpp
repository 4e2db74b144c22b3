// Starting and stopping the pose helper as a real process: what it inherits,
// and a stop that cannot kill it or waits on a helper that will not end.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "pose/helper_process.h"
#include "pose/posix/process_calls.h"
#include "tests/common/temp_folder.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

pid_t lastSignalled = 0;

// Ends the helper behind the stop's back and reaps it; false if it was not ours to reap.
bool KillAndReap(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  return waitpid(pid, &status, 0) == pid;
}

class HelperProcess : public ::testing::Test {
protected:
  void SetUp() override {
    fs::copy_file(VK5_HELPER_PROBE, probe_);
    saved_ = processCalls;
  }
  void TearDown() override {
    processCalls = saved_;
    TerminatePoseGetter();
  }

  // The descriptors the started probe reports, once it has written them.
  std::vector<int> ReportedDescriptors() {
    const fs::path report = probe_.string() + ".fds";
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!fs::exists(report) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::ifstream in(report);
    std::vector<int> fds;
    for (int fd; in >> fd;) fds.push_back(fd);
    std::sort(fds.begin(), fds.end());
    return fds;
  }

  TempFolder dir_{"vk5-helper"};
  fs::path probe_ = dir_.path() / "pose_getter";
  ProcessCalls saved_{};
};

TEST_F(HelperProcess, InheritsOnlyTheStandardDescriptorsAndIsKilledAndReaped) {
  // Descriptors the host holds without close-on-exec, as many hosts do.
  const int file = ::open("/dev/null", O_RDONLY);
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ASSERT_TRUE(SpawnPoseGetter(probe_.string()));
  const std::vector<int> fds = ReportedDescriptors();
  ::close(file);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  for (int fd : fds) EXPECT_LE(fd, 2) << "descriptor " << fd << " leaked into the helper";
  EXPECT_TRUE(TerminatePoseGetter());
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "the helper is reaped, no zombie is left";
}

// A helper that cannot be signalled (another user's, say) is reported as not
// terminated, and the stop does not wait for it.
TEST_F(HelperProcess, AHelperThatCannotBeSignalledIsReportedAtOnce) {
  processCalls.sendKill = [](pid_t pid, int) {
    lastSignalled = pid;
    errno = EPERM;
    return -1;
  };
  ASSERT_TRUE(SpawnPoseGetter(probe_.string()));
  ReportedDescriptors();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(TerminatePoseGetter());
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  ASSERT_GT(lastSignalled, 0);
  EXPECT_TRUE(KillAndReap(lastSignalled));
}

// A helper that does not end when killed (stuck in the kernel) holds the
// stop for a bounded time, then the stop goes on and reports the failure.
TEST_F(HelperProcess, AHelperThatDoesNotEndHoldsTheStopForABoundedTime) {
  processCalls.sendKill = [](pid_t pid, int) {
    lastSignalled = pid;
    return 0; // "signalled", but it keeps running
  };
  ASSERT_TRUE(SpawnPoseGetter(probe_.string()));
  ReportedDescriptors();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(TerminatePoseGetter());
  const auto took = Clock::now() - start;
  EXPECT_GE(took, kHelperStopWait - std::chrono::milliseconds(50));
  EXPECT_LT(took, kHelperStopWait + std::chrono::seconds(4));
  EXPECT_TRUE(KillAndReap(lastSignalled));
}

// The host reaped the helper itself (its own SIGCHLD handling) and the id may
// now belong to anyone: the stop signals through the pidfd opened at the
// start, which names only that process, and neither hangs nor fails loudly.
TEST_F(HelperProcess, AHelperReapedByTheHostIsNotSignalledByItsOldId) {
  static ProcessCalls real;
  static pid_t spawned;
  static int usedPidfd;
  real = saved_;
  spawned = 0;
  usedPidfd = -1;
  processCalls.openPidfd = [](pid_t pid) {
    spawned = pid;
    return real.openPidfd(pid);
  };
  processCalls.sendKill = [](pid_t pid, int pidfd) {
    usedPidfd = pidfd;
    return real.sendKill(pid, pidfd);
  };
  ASSERT_TRUE(SpawnPoseGetter(probe_.string()));
  ReportedDescriptors();
  ASSERT_GT(spawned, 0);
  ASSERT_TRUE(KillAndReap(spawned));

  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(TerminatePoseGetter()) << "it has ended, which is what the stop is for";
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  if (usedPidfd < 0) GTEST_SKIP() << "this kernel has no pidfd; the id was signalled";
}

} // namespace
