#include "pose/helper_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "pose/posix/process_calls.h"

extern char **environ;

namespace {
// The started helper; pid 0 when none is recorded. The pidfd names this very
// process, so a stop never signals a stranger that reused its id (the host
// may reap children of its own accord); -1 where the kernel has none.
pid_t poseGetterProcess = 0;
int poseGetterPidfd = -1;

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

int SendKill(pid_t pid, int pidfd) {
#ifdef SYS_pidfd_send_signal
  if (pidfd >= 0) return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
#endif
  (void)pidfd;
  return kill(pid, SIGKILL);
}

// Reaps the child within `limit`; false when it has not ended by then. A
// child the host reaped already (ECHILD) has ended too.
bool ReapWithin(pid_t pid, int pidfd, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t reaped = waitpid(pid, &status, WNOHANG);
    if (reaped == pid || (reaped < 0 && errno == ECHILD)) return true;
    if (reaped < 0 && errno != EINTR) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left <= std::chrono::milliseconds::zero()) return false;
    if (pidfd >= 0) {
      pollfd exited{pidfd, POLLIN, 0};
      (void)poll(&exited, 1, static_cast<int>(left.count()));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
    }
  }
}

const ProcessCalls kSystemCalls{OpenPidfd, SendKill, ReapWithin};
} // namespace

const char *const kPoseGetterFileName = "pose_getter";

ProcessCalls processCalls = kSystemCalls;

bool SpawnPoseGetter(const std::string &path) {
  poseGetterProcess = 0;
  if (poseGetterPidfd >= 0) close(poseGetterPidfd);
  poseGetterPidfd = -1;
  char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
  // The helper inherits none of the host's descriptors (sockets, devices,
  // the exchange's own) beyond the standard three.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  pid_t pid = 0;
  const bool started = posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
                       posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return false;
  poseGetterProcess = pid;
  // Opened while the child is still ours and unreaped, so it is this child.
  poseGetterPidfd = processCalls.openPidfd(pid);
  return true;
}

bool PoseGetterRecorded() {
  return poseGetterProcess > 0;
}

bool TerminatePoseGetter() {
  const pid_t pid = poseGetterProcess;
  const int pidfd = poseGetterPidfd;
  poseGetterProcess = 0;
  poseGetterPidfd = -1;
  // kill() with 0 or a negative id would reach a whole process group.
  if (pid <= 0) return false;
  // ESRCH: it had ended already, which is what the stop is for.
  const bool signalled = processCalls.sendKill(pid, pidfd) == 0 || errno == ESRCH;
  // Reaped whether it died now or earlier, so no zombie is left in the host;
  // but never waited on for long: a helper that cannot be signalled, or is
  // stuck in the kernel, must not hold the host in Deactivate.
  const bool ended = processCalls.reapWithin(pid, pidfd, signalled ? kHelperStopWait : std::chrono::milliseconds(0));
  if (pidfd >= 0) close(pidfd);
  return signalled && ended;
}
