#include "pose/helper_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char **environ;

namespace {
// The started helper; 0 when none is recorded.
pid_t poseGetterProcess = 0;
} // namespace

bool ModuleFilePath(std::string &out) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&ModuleFilePath), &info) || !info.dli_fname || !*info.dli_fname) return false;
  // Resolved now: the host may change its working directory after loading us.
  if (char *resolved = realpath(info.dli_fname, nullptr)) {
    out = resolved;
    std::free(resolved);
  } else {
    out = info.dli_fname;
  }
  return true;
}

bool SpawnPoseGetter(const std::string &path) {
  poseGetterProcess = 0;
  char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  poseGetterProcess = pid;
  return true;
}

bool PoseGetterRecorded() {
  return poseGetterProcess > 0;
}

bool TerminatePoseGetter() {
  const pid_t pid = poseGetterProcess;
  poseGetterProcess = 0;
  // kill() with 0 or a negative id would reach a whole process group.
  if (pid <= 0) return false;
  const bool killed = kill(pid, SIGKILL) == 0;
  // Reaped whether it died now or earlier, so no zombie is left in the host.
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return killed;
}
