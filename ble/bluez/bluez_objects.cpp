#include "ble/bluez/bluez_objects.h"

#include "ble/bluez/bluez_properties.h"
#include "ble/bluez/bluez_text.h"

namespace ble::bluez {

const BluezObject *ObjectMap::Find(const std::string &path) const {
  const auto it = objects_.find(path);
  return it == objects_.end() ? nullptr : &it->second;
}

std::vector<std::string> ObjectMap::OwnedBy(const std::string &owner, bool BluezObject::*kind) const {
  std::vector<std::string> paths;
  for (const auto &[path, object] : objects_) {
    if (object.*kind && object.owner == owner) paths.push_back(path);
  }
  return paths;
}

std::vector<std::string> ObjectMap::ServicesOf(const std::string &devicePath) const {
  return OwnedBy(devicePath, &BluezObject::isService);
}

std::vector<std::string> ObjectMap::CharacteristicsOf(const std::string &servicePath) const {
  return OwnedBy(servicePath, &BluezObject::isCharacteristic);
}

std::vector<std::pair<std::string, std::uint64_t>> ObjectMap::SeenDevices() const {
  std::vector<std::pair<std::string, std::uint64_t>> seen;
  for (const auto &[path, object] : objects_) {
    if (!object.isDevice || !object.seen || !IsUnder(path, adapterPath_)) continue;
    if (const auto address = ParseAddress(object.address)) seen.emplace_back(object.name.value_or(""), *address);
  }
  return seen;
}

std::string ObjectMap::DevicePathFor(std::uint64_t address) const {
  if (!adapterPath_.empty()) {
    std::string path = DevicePath(adapterPath_, address);
    const BluezObject *object = Find(path);
    if (object && object->isDevice) return path;
  }
  for (const auto &[path, object] : objects_) {
    if (object.isDevice && ParseAddress(object.address) == address) return path;
  }
  return {};
}

void ObjectMap::HoldDevicePath(const std::string &devicePath) {
  ++deviceHolders_[devicePath];
}

bool ObjectMap::ReleaseDevicePath(const std::string &devicePath) {
  const auto it = deviceHolders_.find(devicePath);
  if (it == deviceHolders_.end()) return true;
  if (--it->second > 0) return false;
  deviceHolders_.erase(it);
  return true;
}

void ObjectMap::DisconnectSent(const std::string &devicePath) {
  disconnects_[devicePath] = true;
}

void ObjectMap::DisconnectAnswered(const std::string &devicePath) {
  const auto it = disconnects_.find(devicePath);
  if (it != disconnects_.end()) it->second = false;
}

bool ObjectMap::Disconnecting(const std::string &devicePath) const {
  const auto it = disconnects_.find(devicePath);
  if (it == disconnects_.end()) return false;
  if (it->second) return true;
  const BluezObject *object = Find(devicePath);
  return object && object->isDevice && object->connected;
}

void ObjectMap::ChooseAdapter() {
  const BluezObject *current = Find(adapterPath_);
  if (current && current->isAdapter) return;
  adapterPath_.clear();
  // BlueZ numbers them hci0, hci1, ...
  for (const auto &[path, object] : objects_) {
    if (!object.isAdapter) continue;
    if (adapterPath_.empty()) adapterPath_ = path;
    if (object.powered) {
      adapterPath_ = path;
      break;
    }
  }
}

std::vector<std::string> ObjectMap::DevicePaths() const {
  std::vector<std::string> devices;
  for (const auto &[path, object] : objects_) {
    if (object.isDevice) devices.push_back(path);
  }
  return devices;
}

std::vector<std::string> ObjectMap::Clear() {
  std::vector<std::string> devices = DevicePaths();
  objects_.clear();
  adapterPath_.clear();
  return devices;
}

// An adapter that goes takes its devices and their GATT objects with it,
// whatever order BlueZ reports their removal in.
std::vector<std::string> ObjectMap::ForgetUnder(const std::string &adapterPath) {
  std::vector<std::string> devices;
  std::erase_if(objects_, [&](const auto &entry) {
    if (!IsUnder(entry.first, adapterPath)) return false;
    if (entry.second.isDevice) devices.push_back(entry.first);
    return true;
  });
  return devices;
}

} // namespace ble::bluez
