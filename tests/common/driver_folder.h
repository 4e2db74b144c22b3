#pragma once

#include <filesystem>
#include <string>

// A driver folder laid out as the VR host finds it, in a fresh temporary
// directory: driver.vrdrivermanifest and bin/<platform>/ holding a copy of the
// module built beside this test program. Removed again on destruction.
class DriverFolder {
public:
  DriverFolder();
  ~DriverFolder();
  DriverFolder(const DriverFolder &) = delete;
  DriverFolder &operator=(const DriverFolder &) = delete;

  // Copies a program built beside this test into the module's folder under `asName`.
  void AddBesideModule(const std::string &builtName, const std::string &asName);

  const std::filesystem::path &root() const { return root_; }
  std::filesystem::path moduleFolder() const;

private:
  std::filesystem::path base_;
  std::filesystem::path root_;
};

// Where the build put its programs and the module (this test program's folder).
std::filesystem::path BuildOutputFolder();
