#pragma once

#include <string>

// A driver module loaded the way the VR host loads it: by library path, or by
// driver folder (driver.vrdrivermanifest names the library under bin/<platform>/).
namespace devhost {

using FactoryFn = void *(*)(const char *pInterfaceName, int *pReturnCode);

class DriverModule {
public:
  DriverModule() = default;
  DriverModule(const DriverModule &) = delete;
  DriverModule &operator=(const DriverModule &) = delete;
  ~DriverModule();

  // False with error() set when the library or its factory cannot be found.
  bool Open(const std::string &pathOrFolder);
  void Close();

  FactoryFn factory() const { return factory_; }
  const std::string &error() const { return error_; }
  const std::string &libraryPath() const { return libraryPath_; }

  // bin/linux64 or bin/win64, as the host names its platform folder.
  static const char *PlatformFolder();

private:
  void *handle_ = nullptr;
  FactoryFn factory_ = nullptr;
  std::string error_;
  std::string libraryPath_;
};

} // namespace devhost
