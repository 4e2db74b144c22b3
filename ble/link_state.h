#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "ble/adapter.h"

// The link's state machine; written by the worker and by two platform handlers.
enum LinkPhase : std::int32_t {
  StartScan = 0,
  Scanning = 1,
  TargetFound = 2,
  ConnectionLost = 3,
  Connected = 4,
};

// Owned by the link worker; handlers reach it through a weak reference, so a
// delivery still running when the worker ends keeps it alive, and one that
// starts after that finds nothing.
struct LinkState {
  std::atomic<std::int32_t> phase{StartScan};
  // The target's address, stored before phase is set to TargetFound so a
  // worker that reads TargetFound reads the address with it. 0: none.
  std::atomic<std::uint64_t> targetAddress{0};
  std::shared_ptr<ble::BluetoothLEAdvertisementWatcher> watcher;
  std::shared_ptr<ble::BluetoothLEDevice> device;
  std::shared_ptr<ble::GattCharacteristic> characteristic;
  // Set by the Stopped handler when the platform ended the scan itself; a
  // watcher stopped that way is replaced and started again.
  std::atomic<bool> scanInterrupted{false};

  // Registrations the worker revokes when it drops what they belong to, so a
  // late event of a closed device cannot touch the next link.
  ble::EventToken receivedToken;
  ble::EventToken stoppedToken;
  ble::EventToken connectionStatusToken;
  std::vector<std::pair<std::shared_ptr<ble::GattCharacteristic>, ble::EventToken>> valueChangedTokens;
};

// Cleared by the device's take-down to stop the link worker.
extern std::atomic<bool> linkRunning;
