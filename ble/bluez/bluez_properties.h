#pragma once

// Reading BlueZ's objects and property dictionaries into the session's map,
// and the small path helpers the map's users share. Backend only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <systemd/sd-bus.h>

#include "ble/bluez/bluez_objects.h"

namespace ble::bluez {

// What one property dictionary said besides the stored fields.
struct PropertyNews {
  std::vector<std::string> keys;
  bool hasValue = false;
  std::vector<std::uint8_t> value;
};

// Marks `object` as carrying `interface`, one of the four kinds the session keeps.
void MarkInterface(std::string_view interface, BluezObject &object);
// One interface's property dictionary into `object`, what else it said into `news`.
int ReadPropertyDict(sd_bus_message *m, std::string_view interface, BluezObject &object, PropertyNews &news);
// An object's interfaces and their properties; their names into `interfaces` when given.
int ReadInterfaces(sd_bus_message *m, BluezObject &object, std::vector<std::string> *interfaces);

bool Contains(const std::vector<std::string> &items, std::string_view item);
// True for an object path strictly below `parent`.
bool IsUnder(const std::string &path, const std::string &parent);

} // namespace ble::bluez
