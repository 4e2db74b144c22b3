#pragma once

// The device in the shared model.

#include <memory>

#include "ble/adapter.h"
#include "ble/winrt/abi_device.h"

namespace ble::winrt {

// Takes over the device's reference; no device for the address is a result
// (null), not a failure.
std::shared_ptr<BluetoothLEDevice> ToDevice(winrt_abi::IBluetoothLEDevice *raw);

} // namespace ble::winrt
