// Any text in the runtime's path registry file: reading it must not crash or
// recurse without bound, whatever its nesting.
#include <cstdint>
#include <string_view>

#include "tools/pose_getter/runtime_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  (void)FirstRuntimePath(std::string_view(reinterpret_cast<const char *>(data), size));
  return 0;
}
