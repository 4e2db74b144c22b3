#pragma once

// Every runtime interface the Bluetooth backend calls, on the raw ABI, one
// header per area (abi_generic.h has the conventions).

#include "ble/winrt/abi_advertisement.h"
#include "ble/winrt/abi_device.h"
#include "ble/winrt/abi_gatt.h"
#include "ble/winrt/abi_generic.h"
#include "ble/winrt/abi_streams.h"
