#include "support/module_path.h"

#include "support/win32/system_headers.h"

const char kPathSeparator = '\\';

namespace {
// Long-path aware systems allow paths of up to 32767 characters.
constexpr DWORD kLongestPath = 32768;
} // namespace

bool ModuleFilePath(std::string &out) {
  HMODULE module = nullptr;
  // By address, and without taking a reference the module would never give back.
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&ModuleFilePath), &module))
    return false;
  // A path that fills the buffer may have been cut: grow until it fits.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return false;
    if (length < path.size()) {
      path.resize(length);
      out = std::move(path);
      return true;
    }
    if (path.size() >= kLongestPath) return false;
    path.resize(path.size() * 2);
  }
}
