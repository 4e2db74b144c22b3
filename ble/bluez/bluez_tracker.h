#pragma once

// Keeps the object map current: a snapshot of BlueZ's objects on start and
// whenever BlueZ (re)appears, its signals in between, and the news each change
// brings to listeners and waiters. Loop thread only.

#include <atomic>
#include <functional>
#include <string>

#include "ble/bluez/bluez_events.h"
#include "ble/bluez/bluez_objects.h"
#include "ble/bluez/sdbus.h"
#include "support/platform_error.h"

namespace ble::bluez {

class BusSession;

class BluezTracker {
public:
  // lost: the session's flag for a failed bus connection.
  BluezTracker(BusSession &session, const std::atomic<bool> &lost) : session_(session), events_(map_, lost) {}
  BluezTracker(const BluezTracker &) = delete;
  BluezTracker &operator=(const BluezTracker &) = delete;

  ObjectMap &map() { return map_; }
  BluezEvents &events() { return events_; }

  // Subscribes to BlueZ's signals and to its coming and going; negative errno
  // when the bus refuses.
  int Watch(sd_bus *bus);
  void Unwatch();
  // Reloads the object map; done gets 0 or the failure code.
  void Refresh(std::function<void(HRESULT)> done);
  // Reads one device's properties back from BlueZ and takes them as if
  // signalled; done gets 0 or the failure code.
  void ReadBackDevice(const std::string &devicePath, std::function<void(HRESULT)> done);
  // BlueZ (or the bus) went away: every object it had is gone with it.
  void Forget();

private:
  static int OnBluezSignal(sd_bus_message *message, void *userdata, sd_bus_error *error);
  static int OnOwnerChanged(sd_bus_message *message, void *userdata, sd_bus_error *error);

  int HandleInterfacesAdded(sd_bus_message *message);
  int HandleInterfacesRemoved(sd_bus_message *message);
  int HandlePropertiesChanged(sd_bus_message *message);
  void DevicesChanged(const std::vector<std::string> &devices);

  BusSession &session_;
  ObjectMap map_;
  BluezEvents events_;
  sdbus::Slot bluezMatch_;
  sdbus::Slot ownerMatch_;
};

} // namespace ble::bluez
