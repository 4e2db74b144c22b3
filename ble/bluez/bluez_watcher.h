#pragma once

#include <memory>

#include "ble/adapter.h"
#include "ble/bluez/bus_connection.h"

namespace ble::bluez {

// A stopped watcher on `connection`, once BlueZ has answered with an adapter;
// waits as the link does (bounded, and given up when it stops). Not on the
// connection's loop thread.
std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcherOn(std::shared_ptr<BusConnection> connection);

} // namespace ble::bluez
