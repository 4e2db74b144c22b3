#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/common/temp_folder.h"
#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

// A driver folder laid out as the VR host finds it, in a fresh temporary
// directory: driver.vrdrivermanifest and bin/<platform>/ holding a copy of the
// module built beside this test program. Load() opens it through the
// development host the way the VR host does.
class DriverFolder {
public:
  DriverFolder();
  ~DriverFolder();
  DriverFolder(const DriverFolder &) = delete;
  DriverFolder &operator=(const DriverFolder &) = delete;

  // Copies a program built beside this test into the module's folder under `asName`.
  void AddBesideModule(const std::string &builtName, const std::string &asName);
  // The pose helper beside the module, where the module looks for it, with this configuration.
  void AddPoseGetter(const std::string &config);

  // Opens the folder, takes the provider and runs Init; the controller is then
  // host.AddedDevice(), which this returns (null on a failure, reported).
  vr::ITrackedDeviceServerDriver *Load();
  // The provider's Cleanup, once; the destructor runs it if no one did.
  void Cleanup();
  vr::IServerTrackedDeviceProvider *provider() { return provider_; }
  const devhost::DriverModule &module() const { return module_; }

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

  const std::filesystem::path &root() const { return root_; }
  std::filesystem::path moduleFolder() const;

  devhost::DevHost host;

private:
  TempFolder base_{"vk5-driver"};
  std::filesystem::path root_;
  devhost::DriverModule module_;
  vr::IServerTrackedDeviceProvider *provider_ = nullptr;
};

// Where the build put its programs and the module (this test program's folder).
std::filesystem::path BuildOutputFolder();

#ifndef _WIN32
// True when this process has no child left, running or unreaped.
bool NoChildProcessLeft();
#endif
