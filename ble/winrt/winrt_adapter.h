#pragma once

#include "ble/adapter.h"
#include "support/win32/activation.h"

// The Windows backend: the runtime's Bluetooth LE classes on the raw ABI.
namespace ble::winrt {

Adapter &WinrtAdapter();

// The process-wide factories of the three classes reached through one.
winrt_abi::FactorySlot &DeviceStaticsSlot();
winrt_abi::FactorySlot &WatcherFactorySlot();
winrt_abi::FactorySlot &DataReaderStaticsSlot();

} // namespace ble::winrt
