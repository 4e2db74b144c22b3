// The module's only export.
#include "driver/driver_factory.h"

#if defined(_WIN32)
#define VK5_EXPORT extern "C" __declspec(dllexport)
#else
#define VK5_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VK5_EXPORT void *HmdDriverFactory(const char *pInterfaceName, int *pReturnCode) {
  return DriverFactory(pInterfaceName, pReturnCode);
}
