#include "ble/built_in_adapter.h"

#include "ble/bluez/bluez_adapter.h"

namespace ble {

Adapter &BuiltInAdapter() {
  // Holds no connection of its own: each run of the link opens one on first use.
  static bluez::BluezAdapter builtIn;
  return builtIn;
}

} // namespace ble
