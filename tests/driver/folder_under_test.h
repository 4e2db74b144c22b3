#pragma once

#include <cstdlib>
#include <filesystem>

// The driver folder the folder tests look at: the build's own, or the one
// VK5_TEST_DRIVER_FOLDER names (an installed or unpacked folder).
inline std::filesystem::path FolderUnderTest() {
  if (const char *folder = std::getenv("VK5_TEST_DRIVER_FOLDER"); folder && *folder) return folder;
  return VK5_DRIVER_FOLDER;
}
