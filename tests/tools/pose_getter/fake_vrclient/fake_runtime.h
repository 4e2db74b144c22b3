#pragma once

// An installed fake runtime in a folder of its own: the path registry naming
// it, and the fake client library where the host's loader looks for it.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "tests/common/temp_folder.h"
#include "tests/tools/pose_getter/fake_vrclient/fake_vrclient_control.h"
#include "tools/pose_getter/client_library.h"

class FakeRuntime {
public:
  FakeRuntime() = default;
  // The library is unloaded before its folder goes.
  ~FakeRuntime() { UnloadClientLibrary(library_); }
  FakeRuntime(const FakeRuntime &) = delete;
  FakeRuntime &operator=(const FakeRuntime &) = delete;

  // As $XDG_CONFIG_HOME, it leads the host's loader to this runtime.
  std::string ConfigHome() const { return dir_.path().string(); }
  // Where the follower is told to look for the path registry.
  std::string RegistryFile() const { return (dir_.path() / "openvr" / "openvrpaths.vrpath").string(); }

  // Writes the registry and lays out the client library; true when the fake
  // is loaded and reset.
  bool Install() {
    const std::string runtime = (dir_.path() / "runtime").string();
    const std::filesystem::path library = ClientLibraryPath(runtime);
    std::error_code ec;
    std::filesystem::create_directories(library.parent_path(), ec);
    std::filesystem::copy_file(VK5_FAKE_VRCLIENT_PATH, library, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    std::filesystem::create_directories(dir_.path() / "openvr", ec);
    std::ofstream(RegistryFile()) << "{\n  \"config\" : [ \"" << Escaped(runtime) << "\" ],\n  \"runtime\" : [ \""
                                  << Escaped(runtime) << "\" ],\n  \"version\" : 1\n}\n";
    library_ = LoadClientLibrary(library.string());
    if (!library_) return false;
    reset = Find<FakeVrResetFn>("FakeVrReset");
    setServerRunning = Find<FakeVrSetServerRunningFn>("FakeVrSetServerRunning");
    setDevice = Find<FakeVrSetDeviceFn>("FakeVrSetDevice");
    removeDevice = Find<FakeVrRemoveDeviceFn>("FakeVrRemoveDevice");
    setPose = Find<FakeVrSetPoseFn>("FakeVrSetPose");
    counters = Find<FakeVrCountersFn>("FakeVrGetCounters");
    lastPoseRequest = Find<FakeVrLastPoseRequestFn>("FakeVrLastPoseRequest");
    queueQuit = Find<FakeVrQueueQuitFn>("FakeVrQueueQuit");
    if (!reset || !setServerRunning || !setDevice || !removeDevice || !setPose || !counters || !lastPoseRequest ||
        !queueQuit)
      return false;
    reset();
    return true;
  }

  FakeVrResetFn reset = nullptr;
  FakeVrSetServerRunningFn setServerRunning = nullptr;
  FakeVrSetDeviceFn setDevice = nullptr;
  FakeVrRemoveDeviceFn removeDevice = nullptr;
  FakeVrSetPoseFn setPose = nullptr;
  FakeVrCountersFn counters = nullptr;
  FakeVrLastPoseRequestFn lastPoseRequest = nullptr;
  FakeVrQueueQuitFn queueQuit = nullptr;

private:
  template <typename Fn> Fn Find(const char *name) { return reinterpret_cast<Fn>(FindLibrarySymbol(library_, name)); }
  static std::string Escaped(const std::string &s) {
    std::string out;
    for (char c : s) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    return out;
  }

  TempFolder dir_{"vk5-runtime"};
  LibraryHandle library_ = nullptr;
};
