#include "tools/pose_getter/client_library.h"

#include <cstdio>
#include <string>

#include "tools/pose_getter/openvr_client.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h: the known-folder API needs its types.
#include <knownfolders.h>
#include <shlobj.h>

// 8-byte packing: three 4-byte fields, 4 bytes of padding, the 48-byte union.
const uint32_t vrclient::kClientEventSize = 64;

namespace {
std::wstring Wide(const std::string &utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const wchar_t *wide) {
  if (!wide || !*wide) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  out.pop_back(); // the terminator
  return out;
}

std::string SystemMessage(DWORD code) {
  wchar_t *text = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::string message = n ? Utf8(text) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  char code_text[32];
  std::snprintf(code_text, sizeof code_text, "error %lu", static_cast<unsigned long>(code));
  return message.empty() ? std::string(code_text) : std::string(code_text) + ": " + message;
}
} // namespace

LibraryHandle LoadClientLibrary(const std::string &path, std::string &why) {
  // As the runtime's own loader does: the library's dependencies are looked
  // for in its own folder first. That search needs backslashes throughout.
  std::wstring wide = Wide(path);
  for (wchar_t &c : wide)
    if (c == L'/') c = L'\\';
  HMODULE library = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library) why = SystemMessage(GetLastError());
  return library;
}

void *FindLibrarySymbol(LibraryHandle library, const char *name) {
  if (!library) return nullptr;
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadClientLibrary(LibraryHandle library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string EnvironmentUtf8(const char *name) {
  const std::wstring wideName = Wide(name);
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD written = GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
  value.resize(written);
  return Utf8(value.c_str());
}

std::string VrPathRegistryFile() {
  if (std::string overridden = EnvironmentUtf8("VR_PATHREG_OVERRIDE"); !overridden.empty()) return overridden;
  std::string local;
  wchar_t *folder = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) local = Utf8(folder);
  CoTaskMemFree(folder);
  if (local.empty()) local = EnvironmentUtf8("LOCALAPPDATA");
  if (local.empty()) return {};
  return local + "\\openvr\\openvrpaths.vrpath";
}

std::string ClientLibraryPath(const std::string &runtimeFolder) {
  return runtimeFolder + "\\bin\\vrclient_x64.dll";
}
