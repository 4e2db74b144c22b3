#pragma once

// The owner's handle on a session: opening it starts the loop thread, and
// dropping the last handle stops it (and joins it, unless that happens on the
// loop thread itself). Every object the backend hands out holds one, so the
// connection lives as long as they do.

#include <memory>
#include <string>

#include "ble/bluez/bus_session.h"

namespace ble::bluez {

class BusConnection {
public:
  // Raises the no-bus code (bluez_error.h) when the bus cannot be reached.
  static std::shared_ptr<BusConnection> Open(const std::string &address);
  ~BusConnection();
  BusConnection(const BusConnection &) = delete;
  BusConnection &operator=(const BusConnection &) = delete;

  BusSession &session() const { return *session_; }
  std::weak_ptr<BusSession> weak() const { return session_; }

private:
  BusConnection() = default;
  std::shared_ptr<BusSession> session_;
};

} // namespace ble::bluez
