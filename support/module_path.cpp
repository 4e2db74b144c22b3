#include "support/module_path.h"

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
