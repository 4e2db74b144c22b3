#include "tests/common/driver_folder.h"

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>

#include "tools/host/driver_module.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {
constexpr const char *kDriverName = "vantorelle_k5";

#ifdef _WIN32
constexpr const char *kModuleFile = "driver_vantorelle_k5.dll";
#else
constexpr const char *kModuleFile = "driver_vantorelle_k5.so";
#endif
} // namespace

fs::path BuildOutputFolder() {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) throw std::runtime_error("cannot find the test program's path");
  return fs::path(std::string(path, length)).parent_path();
#else
  return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

DriverFolder::DriverFolder() {
  std::random_device random;
  base_ = fs::temp_directory_path() / ("vk5-driver-" + std::to_string(random()));
  root_ = base_ / kDriverName;
  fs::create_directories(moduleFolder());
  std::ofstream(root_ / "driver.vrdrivermanifest")
      << "{\n  \"alwaysActivate\": true,\n  \"name\": \"" << kDriverName
      << "\",\n  \"directory\": \"\",\n  \"resourceOnly\": false,\n  \"hmd_presence\": []\n}\n";
  fs::copy_file(BuildOutputFolder() / kModuleFile, moduleFolder() / kModuleFile);
}

DriverFolder::~DriverFolder() {
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

fs::path DriverFolder::moduleFolder() const {
  return root_ / "bin" / devhost::DriverModule::PlatformFolder();
}

void DriverFolder::AddBesideModule(const std::string &builtName, const std::string &asName) {
  fs::copy_file(BuildOutputFolder() / builtName, moduleFolder() / asName);
}
