#include "tools/pose_getter/client_library.h"

#include <cstdlib>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

LibraryHandle LoadClientLibrary(const std::string &path) {
  return LoadLibraryA(path.c_str());
}

void *FindLibrarySymbol(LibraryHandle library, const char *name) {
  if (!library) return nullptr;
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadClientLibrary(LibraryHandle library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string VrPathRegistryFile() {
  const char *local = std::getenv("LOCALAPPDATA");
  if (local && *local) return std::string(local) + "\\openvr\\openvrpaths.vrpath";
  return {};
}

std::string ClientLibraryPath(const std::string &runtimeFolder) {
  return runtimeFolder + "\\bin\\vrclient_x64.dll";
}
