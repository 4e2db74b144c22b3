#include "tools/pose_getter/client_library.h"

#include <cstdlib>
#include <dlfcn.h>

LibraryHandle LoadClientLibrary(const std::string &path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *FindLibrarySymbol(LibraryHandle library, const char *name) {
  return library ? dlsym(library, name) : nullptr;
}

void UnloadClientLibrary(LibraryHandle library) {
  if (library) dlclose(library);
}

std::string VrPathRegistryFile() {
  // The XDG base directory rules: $XDG_CONFIG_HOME, else ~/.config.
  const char *config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/openvr/openvrpaths.vrpath";
  const char *home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/openvr/openvrpaths.vrpath";
  return {};
}

std::string ClientLibraryPath(const std::string &runtimeFolder) {
  return runtimeFolder + "/bin/linux64/vrclient.so";
}
