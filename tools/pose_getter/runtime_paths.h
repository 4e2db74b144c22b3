#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The first entry of the "runtime" list of the runtime's path registry (a JSON
// object, after a UTF-8 byte-order mark if there is one); empty when the text
// is not such an object or the list is empty. `parsed` tells the two apart.
std::string FirstRuntimePath(std::string_view registryJson, bool *parsed = nullptr);

struct RuntimeLookup {
  std::string folder;  // empty when not found
  std::string problem; // why not, for a person
};

// Where the runtime is installed: $VR_OVERRIDE when set, else the first
// runtime of the path registry file `registryFile` (UTF-8). When neither says,
// `problem` tells a missing registry from one that cannot be parsed or lists
// no runtime.
RuntimeLookup FindRuntimeFolder(const std::string &registryFile);

// A UTF-8 path as the platform's path type.
std::filesystem::path PathFromUtf8(const std::string &utf8);

// `text` without a leading UTF-8 byte-order mark.
std::string_view WithoutByteOrderMark(std::string_view text);
