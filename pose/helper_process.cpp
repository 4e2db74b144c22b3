#include "pose/helper_process.h"

#include "support/host_log.h"
#include "support/module_path.h"

void StartPoseGetter(const std::string &fileName) {
  if (PoseGetterRecorded()) StopPoseGetter();
  const std::string path = JoinPath(ModuleDirectory(), fileName, kPathSeparator);
  LogLine(SpawnPoseGetter(path) ? "PoseGetter process started." : "CreateProcess failed.");
}

void StopPoseGetter() {
  LogLine(TerminatePoseGetter() ? "PoseGetter process terminated."
                                : "Failed to terminate PoseGetter process, the process may not exist.");
}
