#include "tools/pose_getter/client_library.h"

#include <cstdlib>
#include <dlfcn.h>

#include "tools/pose_getter/openvr_client.h"

// 4-byte packing: three 4-byte fields and the 48-byte data union.
const uint32_t vrclient::kClientEventSize = 60;

LibraryHandle LoadClientLibrary(const std::string &path, std::string &why) {
  LibraryHandle library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char *error = dlerror();
    why = error ? error : "unknown loader error";
  }
  return library;
}

void *FindLibrarySymbol(LibraryHandle library, const char *name) {
  return library ? dlsym(library, name) : nullptr;
}

void UnloadClientLibrary(LibraryHandle library) {
  if (library) dlclose(library);
}

std::string EnvironmentUtf8(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

std::string VrPathRegistryFile() {
  if (std::string overridden = EnvironmentUtf8("VR_PATHREG_OVERRIDE"); !overridden.empty()) return overridden;
  // The XDG base directory rules: $XDG_CONFIG_HOME, else ~/.config.
  if (const std::string config = EnvironmentUtf8("XDG_CONFIG_HOME"); !config.empty())
    return config + "/openvr/openvrpaths.vrpath";
  if (const std::string home = EnvironmentUtf8("HOME"); !home.empty())
    return home + "/.config/openvr/openvrpaths.vrpath";
  return {};
}

std::string ClientLibraryPath(const std::string &runtimeFolder) {
  return runtimeFolder + "/bin/linux64/vrclient.so";
}
