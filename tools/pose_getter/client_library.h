#pragma once

#include <string>

// Loading the host runtime's client library; each platform implements these
// in its own folder. Paths are UTF-8 on every platform.

using LibraryHandle = void *;

// Null when the library cannot be loaded; then `why` holds the loader's reason.
LibraryHandle LoadClientLibrary(const std::string &path, std::string &why);
inline LibraryHandle LoadClientLibrary(const std::string &path) {
  std::string ignored;
  return LoadClientLibrary(path, ignored);
}
void *FindLibrarySymbol(LibraryHandle library, const char *name);
void UnloadClientLibrary(LibraryHandle library);

// The runtime's path registry, "openvrpaths.vrpath", for the current user:
// $VR_PATHREG_OVERRIDE when set (as the host's own tools read it), else where
// this platform keeps it; empty when the user has no such folder.
std::string VrPathRegistryFile();

// The client library below the runtime's folder.
std::string ClientLibraryPath(const std::string &runtimeFolder);

// An environment variable as UTF-8; empty when unset.
std::string EnvironmentUtf8(const char *name);
