#include "tests/common/driver_folder.h"

#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {
constexpr const char *kDriverName = "vantorelle_k5";

#ifdef _WIN32
constexpr const char *kModuleFile = "driver_vantorelle_k5.dll";
constexpr const char *kPoseGetterFile = "pose_getter.exe";
#else
constexpr const char *kModuleFile = "driver_vantorelle_k5.so";
constexpr const char *kPoseGetterFile = "pose_getter";
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

DriverFolder::DriverFolder() : root_(base_.path() / kDriverName) {
  fs::create_directories(moduleFolder());
  std::ofstream(root_ / "driver.vrdrivermanifest")
      << "{\n  \"alwaysActivate\": true,\n  \"name\": \"" << kDriverName
      << "\",\n  \"directory\": \"\",\n  \"resourceOnly\": false,\n  \"hmd_presence\": []\n}\n";
  AddBesideModule(kModuleFile, kModuleFile);
}

DriverFolder::~DriverFolder() {
  // The module is unloaded before its folder goes.
  Cleanup();
  module_.Close();
}

fs::path DriverFolder::moduleFolder() const {
  return root_ / "bin" / devhost::DriverModule::PlatformFolder();
}

void DriverFolder::AddBesideModule(const std::string &builtName, const std::string &asName) {
  const fs::path to = moduleFolder() / asName;
  fs::copy_file(BuildOutputFolder() / builtName, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
}

void DriverFolder::AddPoseGetter(const std::string &config) {
  AddBesideModule(kPoseGetterFile, kPoseGetterFile);
  std::ofstream(moduleFolder() / "pose_getter.cfg") << config;
}

vr::ITrackedDeviceServerDriver *DriverFolder::Load() {
  if (!module_.Open(root_.string())) {
    ADD_FAILURE() << module_.error();
    return nullptr;
  }
  int code = 0;
  provider_ = static_cast<vr::IServerTrackedDeviceProvider *>(
      module_.factory()(vr::IServerTrackedDeviceProvider_Version, &code));
  if (!provider_) {
    ADD_FAILURE() << "no provider; factory code " << code;
    return nullptr;
  }
  const vr::EVRInitError init = provider_->Init(&host);
  if (init != vr::VRInitError_None) {
    ADD_FAILURE() << "Init returned " << init;
    return nullptr;
  }
  return host.AddedDevice();
}

void DriverFolder::Cleanup() {
  if (provider_) provider_->Cleanup();
  provider_ = nullptr;
}

#ifndef _WIN32
bool NoChildProcessLeft() {
  int status = 0;
  return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}
#endif
