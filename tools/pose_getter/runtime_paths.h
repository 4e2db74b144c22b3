#pragma once

#include <string>
#include <string_view>

// The first entry of the "runtime" list of the runtime's path registry (a JSON
// object); empty when the text is not such an object or the list is empty.
std::string FirstRuntimePath(std::string_view registryJson);

// Where the runtime is installed: $VR_OVERRIDE when set, else the first
// runtime of the path registry file `registryFile`; empty when neither says.
std::string FindRuntimeFolder(const std::string &registryFile);
