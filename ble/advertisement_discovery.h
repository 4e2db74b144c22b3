#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "ble/adapter.h"

// Advertised names the pistol uses; matched exactly, code unit for code unit.
bool IsPistolName(std::u16string_view localName);

// Logs every named advertisement; for the pistol, while the worker is
// Scanning, records its address, stops the watcher and reports TargetFound,
// in that order. In any other phase the pistol's advertisement changes nothing.
void OnAdvertisementReceived(std::atomic<std::uint64_t> &targetAddress, ble::BluetoothLEAdvertisementWatcher &watcher,
                             std::atomic<std::int32_t> &phase, ble::BluetoothLEAdvertisementReceivedEventArgs &args);

// Logs the stop. A stop the platform made on its own account (radio off,
// service gone) raises `scanInterrupted`, so the worker scans again.
void OnWatcherStopped(std::atomic<bool> &scanInterrupted, ble::BluetoothLEAdvertisementWatcherStoppedEventArgs &args);
