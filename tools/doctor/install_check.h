#pragma once

// The driver folder as installed, and the shared pose block as it is now.
#include <filesystem>
#include <string>
#include <vector>

namespace doctor {

struct Check {
  std::string what;
  bool ok;
  std::string detail;
};

// The files the host and the driver need in a driver folder.
std::vector<Check> CheckDriverFolder(const std::filesystem::path &folder);

// Whether pose_getter.cfg holds a mount measured by pose_getter --calibrate,
// when and how well.
Check CheckMountCalibration(const std::filesystem::path &config);

// The last lines the pose helper wrote to pose_getter.log beside it in the
// driver folder `folder`; empty when it has written none.
std::vector<std::string> PoseGetterLogLines(const std::filesystem::path &folder, std::size_t count);
std::filesystem::path PoseGetterLogFile(const std::filesystem::path &folder);

// Whether the pose block exists, and whether a helper is writing valid poses into it.
std::vector<Check> CheckPoseBlock();

} // namespace doctor
