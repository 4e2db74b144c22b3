#pragma once

// The advertisement watcher in the shared model, with what it reports.

#include <memory>

#include "ble/adapter.h"
#include "ble/winrt/abi_advertisement.h"

namespace ble::winrt {

std::shared_ptr<BluetoothLEAdvertisementWatcher>
WrapWatcher(winrt_abi::com_ptr<winrt_abi::IBluetoothLEAdvertisementWatcher> watcher);

} // namespace ble::winrt
