#pragma once

// Reading BlueZ's objects and property dictionaries into the session's map,
// and the small path and listener helpers the map's users share. Backend only.

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ble/bluez/bus_session.h"

namespace ble::bluez {

constexpr std::string_view kAdapter1 = "org.bluez.Adapter1";
constexpr std::string_view kDevice1 = "org.bluez.Device1";
constexpr std::string_view kService1 = "org.bluez.GattService1";
constexpr std::string_view kCharacteristic1 = "org.bluez.GattCharacteristic1";

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

// The listeners still alive; expired ones are dropped from the list.
template <class Listener> std::vector<std::shared_ptr<Listener>> Live(std::vector<std::weak_ptr<Listener>> &list) {
  std::erase_if(list, [](const std::weak_ptr<Listener> &weak) { return weak.expired(); });
  std::vector<std::shared_ptr<Listener>> live;
  for (const auto &weak : list) {
    if (auto strong = weak.lock()) live.push_back(std::move(strong));
  }
  return live;
}

template <class Listener>
std::vector<std::shared_ptr<Listener>> Live(std::multimap<std::string, std::weak_ptr<Listener>> &map,
                                            const std::string &path) {
  std::vector<std::shared_ptr<Listener>> live;
  auto [first, last] = map.equal_range(path);
  for (auto it = first; it != last;) {
    if (auto strong = it->second.lock()) {
      live.push_back(std::move(strong));
      ++it;
    } else {
      it = map.erase(it);
    }
  }
  return live;
}

} // namespace ble::bluez
