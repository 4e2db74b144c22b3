#include "pose/helper_process.h"

#include "support/win32/system_headers.h"

namespace {
// The started helper's handles and ids; all zero when none is recorded.
PROCESS_INFORMATION poseGetterProcess{};
// The job the helper runs in, held until the stop. It kills the helper when
// its last handle closes, and the system closes ours when the host ends in
// any way, so a host that dies without Deactivate takes the helper with it.
HANDLE poseGetterJob = nullptr;

HANDLE MakeKillOnCloseJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

void CloseJob() {
  if (poseGetterJob) CloseHandle(poseGetterJob);
  poseGetterJob = nullptr;
}
} // namespace

const char *const kPoseGetterFileName = "pose_getter.exe";

bool SpawnPoseGetter(const std::string &path) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  poseGetterProcess = {};
  // An earlier helper whose record is cleared here can no longer be stopped;
  // closing its job ends it.
  CloseJob();
  if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &poseGetterProcess))
    return false;
  // Best effort: a helper that cannot join a job still runs, and is still
  // stopped by Deactivate; it only outlives a host that dies.
  poseGetterJob = MakeKillOnCloseJob();
  if (poseGetterJob && !AssignProcessToJobObject(poseGetterJob, poseGetterProcess.hProcess)) CloseJob();
  return true;
}

bool PoseGetterRecorded() {
  return poseGetterProcess.hProcess != nullptr;
}

bool TerminatePoseGetter() {
  const bool terminated = TerminateProcess(poseGetterProcess.hProcess, 0) != 0;
  if (poseGetterProcess.hProcess) CloseHandle(poseGetterProcess.hProcess);
  if (poseGetterProcess.hThread) CloseHandle(poseGetterProcess.hThread);
  poseGetterProcess = {};
  CloseJob();
  return terminated;
}
