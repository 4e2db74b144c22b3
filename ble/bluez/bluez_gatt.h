#pragma once

// The GATT side of a BlueZ device: its services and their characteristics,
// with the value notifications a characteristic delivers. Backend only.

#include <atomic>
#include <memory>
#include <string>

#include "ble/adapter.h"
#include "ble/bluez/bus_connection.h"
#include "support/guid.h"

namespace ble::bluez {

// Set once the device is closed; shared by the device and all it handed out.
using ClosedFlag = std::shared_ptr<std::atomic<bool>>;

// Raises the closed code once the device is closed.
void ThrowIfClosed(const ClosedFlag &closed);

// The device's side of its characteristics: a subscription that took is
// remembered, so that closing the device can end it. Loop thread.
class SubscriptionNotes {
public:
  virtual ~SubscriptionNotes() = default;
  virtual void NoteSubscribed(const std::string &characteristicPath) = 0;
};

// Where a service or characteristic belongs.
struct GattPlace {
  std::shared_ptr<BusConnection> connection;
  std::string path;
  Guid uuid;
  std::weak_ptr<SubscriptionNotes> device;
  ClosedFlag closed;
};

// The service at place.path; its characteristics are read from the object map.
std::shared_ptr<GattDeviceService> NewService(GattPlace place);

} // namespace ble::bluez
