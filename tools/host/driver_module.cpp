#include "tools/host/driver_module.h"

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace devhost {

namespace fs = std::filesystem;

const char *DriverModule::PlatformFolder() {
#ifdef _WIN32
  return "win64";
#else
  return "linux64";
#endif
}

DriverModule::~DriverModule() {
  Close();
}

void DriverModule::Close() {
  if (!handle_) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
  handle_ = nullptr;
  factory_ = nullptr;
}

bool DriverModule::Open(const std::string &pathOrFolder) {
  Close();
  fs::path library = pathOrFolder;
  std::error_code ec;
  if (fs::is_directory(library, ec)) {
    const fs::path manifest = library / "driver.vrdrivermanifest";
    std::ifstream in(manifest);
    if (!in) {
      error_ = "no driver.vrdrivermanifest in " + library.string();
      return false;
    }
    const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (!j.is_object() || !j.contains("name") || !j["name"].is_string()) {
      error_ = "driver.vrdrivermanifest has no \"name\"";
      return false;
    }
    const std::string name = j["name"].get<std::string>();
    fs::path root = library;
    if (j.contains("directory") && j["directory"].is_string() && !j["directory"].get<std::string>().empty())
      root /= j["directory"].get<std::string>();
#ifdef _WIN32
    library = root / "bin" / PlatformFolder() / ("driver_" + name + ".dll");
#else
    library = root / "bin" / PlatformFolder() / ("driver_" + name + ".so");
#endif
  }
  libraryPath_ = library.string();
#ifdef _WIN32
  HMODULE module = LoadLibraryA(libraryPath_.c_str());
  if (!module) {
    error_ = "LoadLibrary failed for " + libraryPath_ + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  handle_ = module;
  factory_ = reinterpret_cast<FactoryFn>(reinterpret_cast<void *>(GetProcAddress(module, "HmdDriverFactory")));
#else
  handle_ = dlopen(libraryPath_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    error_ = dlerror();
    return false;
  }
  factory_ = reinterpret_cast<FactoryFn>(dlsym(handle_, "HmdDriverFactory"));
#endif
  if (!factory_) {
    error_ = "HmdDriverFactory not exported by " + libraryPath_;
    Close();
    return false;
  }
  return true;
}

} // namespace devhost
