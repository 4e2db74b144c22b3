#include "support/module_path.h"

#include <cstdlib>
#include <dlfcn.h>

const char kPathSeparator = '/';

bool ModuleFilePath(std::string &out) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&ModuleFilePath), &info) || !info.dli_fname || !*info.dli_fname) return false;
  // Resolved now: the host may change its working directory after loading us.
  if (char *resolved = realpath(info.dli_fname, nullptr)) {
    out = resolved;
    std::free(resolved);
  } else {
    out = info.dli_fname;
  }
  return true;
}
