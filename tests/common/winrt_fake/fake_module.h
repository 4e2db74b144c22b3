#pragma once

// The fake class module, found the way the backend's fallback lookup finds it:
// its folder is added to the process's DLL search folders.

#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/common/winrt_fake/fake_control.h"

inline std::filesystem::path ThisProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, length)).parent_path();
}

// Adds the fake's folder once and loads it (it stays loaded for the process).
inline FakeBle &Fake(const std::filesystem::path &folder = ThisProgramFolder() / "winrt_fake") {
  static FakeBle fake = [&] {
    if (!AddDllDirectory(folder.c_str())) throw std::runtime_error("AddDllDirectory failed");
    HMODULE module = LoadLibraryExW(L"Windows.Devices.Bluetooth.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module) throw std::runtime_error("the fake class module did not load");
    FakeBle loaded = FakeBle::From(module);
    if (!loaded.complete()) throw std::runtime_error("the fake class module lacks its control functions");
    return loaded;
  }();
  return fake;
}

// True under Wine, whose runtime has no Bluetooth classes of its own.
inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
