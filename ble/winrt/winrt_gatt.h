#pragma once

// The GATT client in the shared model: the device's services result, its
// services and characteristics, and the values they notify.

#include <memory>

#include "ble/adapter.h"
#include "ble/winrt/abi_gatt.h"

namespace ble::winrt {

// Takes over the result's reference; a missing result is a failure.
std::shared_ptr<GattDeviceServicesResult> ToServicesResult(winrt_abi::IGattDeviceServicesResult *raw);

} // namespace ble::winrt
