#include "driver/driver_factory.h"

#include <cstring>

#include "driver/device_provider.h"

DeviceProvider deviceProvider;

void *DriverFactory(const char *pInterfaceName, int *pReturnCode) {
  if (pInterfaceName && std::strcmp(pInterfaceName, vr::IServerTrackedDeviceProvider_Version) == 0)
    return &deviceProvider;
  if (pReturnCode) *pReturnCode = vr::VRInitError_Init_InterfaceNotFound;
  return nullptr;
}
