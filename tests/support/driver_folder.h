#pragma once

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

// A driver installed in a folder of its own: the built module, optionally the
// pose helper and its configuration beside it, loaded the way the host loads it.
class DriverFolder {
public:
  DriverFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vk5-driver-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
    EXPECT_FALSE(dir_.empty());
    Copy(VK5_MODULE_PATH);
  }
  ~DriverFolder() {
    if (provider_) provider_->Cleanup();
    module_.Close();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  DriverFolder(const DriverFolder &) = delete;
  DriverFolder &operator=(const DriverFolder &) = delete;

  void AddPoseGetter(const std::string &config) {
    Copy(VK5_POSE_GETTER_PATH);
    std::ofstream(dir_ / "pose_getter.cfg") << config;
  }

  // Loads the module, Init; the controller is then host.AddedDevice().
  vr::ITrackedDeviceServerDriver *Load() {
    const std::string name = std::filesystem::path(VK5_MODULE_PATH).filename().string();
    EXPECT_TRUE(module_.Open((dir_ / name).string())) << module_.error();
    int code = 0;
    provider_ = static_cast<vr::IServerTrackedDeviceProvider *>(
        module_.factory()(vr::IServerTrackedDeviceProvider_Version, &code));
    EXPECT_NE(provider_, nullptr);
    EXPECT_EQ(provider_->Init(&host), vr::VRInitError_None);
    return host.AddedDevice();
  }
  vr::IServerTrackedDeviceProvider *provider() { return provider_; }

  // Runs frames until `done` holds for a recorded pose or `timeout` passes.
  template <typename Pred> bool FramesUntilPose(Pred done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      host.ClearEvents();
      provider_->RunFrame();
      for (const devhost::Event &e : host.EventsOf(devhost::Event::Kind::PoseUpdate))
        if (done(e.pose)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  devhost::DevHost host;

private:
  void Copy(const std::filesystem::path &file) {
    const std::filesystem::path to = dir_ / file.filename();
    std::filesystem::copy_file(file, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_all);
  }

  std::filesystem::path dir_;
  devhost::DriverModule module_;
  vr::IServerTrackedDeviceProvider *provider_ = nullptr;
};

// True when this process has no child left, running or unreaped.
inline bool NoChildProcessLeft() {
  int status = 0;
  return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}
