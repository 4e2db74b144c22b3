#pragma once

class DeviceProvider;

// The provider the module hands to the host.
extern DeviceProvider deviceProvider;

// HmdDriverFactory's logic: only "IServerTrackedDeviceProvider_004" is offered.
void *DriverFactory(const char *pInterfaceName, int *pReturnCode);
