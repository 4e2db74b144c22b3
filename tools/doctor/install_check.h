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

// Whether the pose block exists, and whether a helper is writing valid poses into it.
std::vector<Check> CheckPoseBlock();

} // namespace doctor
