#pragma once

// The adapter over BlueZ's D-Bus API (org.bluez on the system bus).
//
// The bus connection is opened on first use and shared by everything the
// adapter hands out; it closes, and its loop thread ends, when the last of
// those objects is dropped, so each run of the link gets a connection of its
// own. Event handlers run on the loop thread. Calls that wait for BlueZ
// (CreateWatcher, a watcher's Start from any other thread) wait as the link
// does: within the link's operation timeout, and no longer once linkRunning
// is cleared (they then raise hresult_canceled); no call waits on the loop
// thread. A watcher that BlueZ stops on its own (service, adapter, radio or
// bus gone) raises Stopped with an error other than Success; a dead bus
// connection is replaced by the next CreateWatcher or lookup.
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
