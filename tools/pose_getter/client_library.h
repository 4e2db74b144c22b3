#pragma once

#include <string>

// Loading the host runtime's client library; each platform implements these
// in its own folder.

using LibraryHandle = void *;

// Null when the library cannot be loaded.
LibraryHandle LoadClientLibrary(const std::string &path);
void *FindLibrarySymbol(LibraryHandle library, const char *name);
void UnloadClientLibrary(LibraryHandle library);

// The runtime's path registry, "openvrpaths.vrpath", where this platform keeps
// it for the current user; empty when the user has no such folder.
std::string VrPathRegistryFile();

// The client library below the runtime's folder.
std::string ClientLibraryPath(const std::string &runtimeFolder);
