#pragma once

#include <atomic>
#include <cstdint>

#include "ble/adapter.h"

// Logs each change of the device's link; anything but Connected means the
// link is gone and the worker must scan again.
void OnConnectionStatusChanged(std::atomic<std::int32_t> &phase, ble::BluetoothLEDevice &sender);
