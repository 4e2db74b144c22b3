#include "pose/pose_getter.h"

#include "pose/helper_process.h"
#include "support/host_log.h"

std::string DirectoryOfPath(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? path : path.substr(0, cut));
}

std::string JoinPath(std::string_view directory, std::string_view fileName, char separator) {
  std::string path;
  path.reserve(directory.size() + 1 + fileName.size());
  path.append(directory).push_back(separator);
  path.append(fileName);
  return path;
}

std::string ModuleDirectory() {
  std::string path;
  if (!ModuleFilePath(path)) {
    LogLine("Failed to get DLL path.");
    return {};
  }
  return DirectoryOfPath(path);
}

void StartPoseGetter(const std::string &fileName) {
  if (PoseGetterRecorded()) StopPoseGetter();
  const std::string path = JoinPath(ModuleDirectory(), fileName, kPathSeparator);
  LogLine(SpawnPoseGetter(path) ? "PoseGetter process started." : "CreateProcess failed.");
}

void StopPoseGetter() {
  LogLine(TerminatePoseGetter() ? "PoseGetter process terminated."
                                : "Failed to terminate PoseGetter process, the process may not exist.");
}
