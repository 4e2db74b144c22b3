// The module on a system with neither sd-bus library (a distribution without
// systemd or elogind): it loads, says once that Bluetooth needs one of them,
// publishes the helper's poses, and Deactivate does not wait on the link.
// The case runs in a child process whose dynamic loader cannot find them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ble/bluez/sdbus_library.h"
#include "tests/common/driver_folder.h"

extern char **environ;

namespace {

using namespace std::chrono_literals;
constexpr const char *kChildVariable = "VK5_SDBUS_ABSENT_CHILD";

// Runs this test again in a child whose loader hides the sd-bus libraries,
// with an empty library path; gives its exit status.
int RunInChild(const char *testName) {
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("LD_AUDIT=", 0) != 0 && entry.rfind("LD_LIBRARY_PATH=", 0) != 0 &&
        entry.rfind("GLIBC_TUNABLES=", 0) != 0)
      env.push_back(entry);
  }
  // An audit module costs the loader static TLS room; the thread sanitizer's
  // runtime then no longer fits the default reserve.
  env.push_back("GLIBC_TUNABLES=glibc.rtld.optional_static_tls=1048576");
  env.push_back(std::string("LD_AUDIT=") + VK5_HIDE_SDBUS_AUDIT);
  env.push_back("LD_LIBRARY_PATH=");
  env.push_back(std::string(kChildVariable) + "=1");
  const std::string filter = std::string("--gtest_filter=SdBusAbsent.") + testName;
  const std::string self = "/proc/self/exe";
  std::vector<char *> argv{const_cast<char *>(self.c_str()), const_cast<char *>(filter.c_str()), nullptr};
  std::vector<char *> envp;
  for (std::string &entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SdBusAbsent, TheModuleLoadsLogsOneLinePublishesPosesAndDeactivatesAtOnce) {
  if (!std::getenv(kChildVariable)) {
    EXPECT_EQ(RunInChild("TheModuleLoadsLogsOneLinePublishesPosesAndDeactivatesAtOnce"), 0);
    return;
  }
  // The child: the hiding works, or this case would prove nothing.
  for (const char *name : sdbus::kLibraryNames) ASSERT_EQ(dlopen(name, RTLD_NOW | RTLD_LOCAL), nullptr) << name;

  DriverFolder folder;
  folder.AddPoseGetter("source = demo\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr) << "the module did not load";
  ASSERT_EQ(device->Activate(0), vr::VRInitError_None);
  EXPECT_TRUE(folder.host.WaitForLog(sdbus::kMissingLibraryLine, 10s));
  // Frames as the host runs them, for long enough that the link has retried
  // its setup a few times (after 0.25, 0.75 and 1.75 s).
  const auto activated = std::chrono::steady_clock::now();
  bool posed = false;
  while (std::chrono::steady_clock::now() - activated < (posed ? 2s : 10s)) {
    folder.provider()->RunFrame();
    for (const devhost::Event &e : folder.host.EventsOf(devhost::Event::Kind::PoseUpdate))
      posed = posed || (e.pose.poseIsValid && e.pose.deviceIsConnected);
    std::this_thread::sleep_for(11ms);
  }
  EXPECT_TRUE(posed) << "the helper's poses never arrived";
  EXPECT_EQ(folder.host.CountLog(sdbus::kMissingLibraryLine), 1u)
      << "the line stands once, however often the link retries";

  // The link waits between setup attempts for up to 2 s; the bound is below
  // that, so a wait that does not end on the stop fails here.
  const auto start = std::chrono::steady_clock::now();
  device->Deactivate();
  const auto took = std::chrono::steady_clock::now() - start;
  std::printf("[ measured ] Deactivate without sd-bus: %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_LT(took, 1500ms);
  folder.Cleanup();
  EXPECT_TRUE(NoChildProcessLeft());
}

} // namespace
