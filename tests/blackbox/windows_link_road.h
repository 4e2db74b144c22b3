#pragma once

// The development host with the built module in a driver folder, and the
// fake class module beside the module, where its fallback lookup finds it
// (this runtime has no Bluetooth classes of its own).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/driver_folder.h"
#include "tests/common/winrt_fake/fake_control.h"
#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

namespace windows_road {

using devhost::Event;
using namespace std::chrono_literals;

inline constexpr std::uint64_t kPistol = 187723572702975; // AA:BB:CC:DD:EE:FF
inline constexpr const char *kService = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
inline constexpr const char *kCharacteristic = "{0000FFF1-0000-1000-8000-00805F9B34FB}";

inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

class WindowsLinkRoad : public ::testing::Test {
protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "the runtime's own Bluetooth classes would answer instead of the fake";
    folder_.AddBesideModule("winrt_fake/Windows.Devices.Bluetooth.dll", "Windows.Devices.Bluetooth.dll");
    folder_.AddBesideModule("winrt_fake/Windows.Storage.Streams.dll", "Windows.Storage.Streams.dll");
    // The module's folder joins the process's DLL search folders, as the
    // runtime's own folder is on a real system.
    ASSERT_TRUE(AddDllDirectory(folder_.moduleFolder().c_str()));
    HMODULE fakeModule = LoadLibraryExW(L"Windows.Devices.Bluetooth.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    ASSERT_NE(fakeModule, nullptr);
    fake_ = FakeBle::From(fakeModule);
    ASSERT_TRUE(fake_.complete());
    fake_.Reset();
    fake_.AddPistol(kPistol, L"Pistol");
  }

  void TearDown() override {
    if (active_) Stop();
    if (fake_.Reset) fake_.Reset();
  }

  void Start() {
    ASSERT_TRUE(module_.Open(folder_.root().string())) << module_.error();
    int code = 0;
    provider_ = static_cast<vr::IServerTrackedDeviceProvider *>(
        module_.factory()(vr::IServerTrackedDeviceProvider_Version, &code));
    ASSERT_NE(provider_, nullptr) << "factory code " << code;
    ASSERT_EQ(provider_->Init(&host_), vr::VRInitError_None);
    device_ = host_.AddedDevice();
    ASSERT_NE(device_, nullptr);
    active_ = true;
    ASSERT_EQ(device_->Activate(0), vr::VRInitError_None);
  }

  std::chrono::milliseconds Stop() {
    active_ = false;
    const auto start = std::chrono::steady_clock::now();
    device_->Deactivate();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    provider_->Cleanup();
    return took;
  }

  // The link's lines in order, without those of the platform's own threads.
  std::vector<std::string> LinkLines() const {
    std::vector<std::string> lines;
    for (const std::string &line : host_.LogLines())
      if (line != "Watcher stopped." && line.rfind("Disconnected from device: ", 0) != 0 &&
          line.rfind("Connected to device: ", 0) != 0 && line.rfind("Pose", 0) != 0 &&
          line.rfind("CreateProcess", 0) != 0 && line.rfind("Initializing", 0) != 0 &&
          line.rfind("Received data: ", 0) != 0)
        lines.push_back(line);
    return lines;
  }

  // When the nth line equal to `line` was logged, in seconds since the host
  // started; negative if it was not.
  double LoggedAt(const std::string &line, size_t nth = 1) const {
    size_t seen = 0;
    for (const Event &e : host_.Events())
      if (e.kind == Event::Kind::Log && e.text == line && ++seen == nth) return e.seconds;
    return -1;
  }

  DriverFolder folder_;
  devhost::DevHost host_;
  devhost::DriverModule module_;
  FakeBle fake_;
  vr::IServerTrackedDeviceProvider *provider_ = nullptr;
  vr::ITrackedDeviceServerDriver *device_ = nullptr;
  bool active_ = false;
};

} // namespace windows_road
