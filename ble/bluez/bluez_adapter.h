#pragma once

// The adapter over BlueZ's D-Bus API (org.bluez on the system bus).
//
// The bus connection is opened on first use and shared by everything the
// adapter hands out; it closes, and its loop thread ends, when the last of
// those objects is dropped, so each run of the link gets a connection of its
// own. Event handlers run on the loop thread. Calls that wait for BlueZ
// (CreateWatcher, a watcher's Start from any other thread) block the calling
// thread for at most a few seconds each; no call waits on the loop thread.
// Failures raise the codes of bluez_error.h.

#include <memory>
#include <string>

#include "ble/adapter.h"
#include "ble/bluez/atomic_pointer.h"

namespace ble::bluez {

class BusConnection;

class BluezAdapter final : public Adapter {
public:
  // The system bus (sd-bus honours DBUS_SYSTEM_BUS_ADDRESS).
  BluezAdapter() = default;
  // Any bus daemon address, e.g. "unix:path=/tmp/bus"; empty means the system bus.
  explicit BluezAdapter(std::string busAddress) : busAddress_(std::move(busAddress)) {}

  // Raises when there is no bus, no BlueZ on it, or no adapter.
  std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() override;
  // Completes with nullptr when BlueZ knows no device at that address.
  AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t address) override;

private:
  std::shared_ptr<BusConnection> Connection();

  std::string busAddress_;
  // Shared by every caller; replaced by compare-and-swap when it has died.
  AtomicPointer<std::weak_ptr<BusConnection>> connection_;
};

} // namespace ble::bluez
