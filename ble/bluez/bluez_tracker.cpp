// The session's picture of BlueZ: the object map, the signals that keep it
// current, and the listeners and waiters it serves.
#include "ble/bluez/bus_session.h"

#include "ble/bluez/bluez_properties.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_text.h"

namespace ble::bluez {

// BlueZ (or the bus) went away: every object it had is gone with it.
void BusSession::ForgetBluez() {
  std::vector<std::string> devices;
  for (const auto &[path, object] : objects_) {
    if (object.isDevice) devices.push_back(path);
  }
  objects_.clear();
  adapterPath_.clear();
  NotifyAdapter();
  for (const auto &path : devices) {
    NotifyDevice(path);
    SettleWaiters(path);
  }
  SettleNotifyWaiters();
}

// An adapter that goes takes its devices and their GATT objects with it,
// whatever order BlueZ reports their removal in.
void BusSession::ForgetUnder(const std::string &adapterPath) {
  std::vector<std::string> devices;
  std::erase_if(objects_, [&](const auto &entry) {
    if (!IsUnder(entry.first, adapterPath)) return false;
    if (entry.second.isDevice) devices.push_back(entry.first);
    return true;
  });
  for (const auto &path : devices) {
    NotifyDevice(path);
    SettleWaiters(path);
  }
  SettleNotifyWaiters();
}

void BusSession::Refresh(std::function<void(HRESULT)> done) {
  Call("/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr, kShortCallUsec,
       [this, done = std::move(done)](const CallOutcome &outcome) {
         if (outcome.code < 0) {
           if (outcome.code == kErrorServiceNotActive) ForgetBluez();
           done(outcome.code);
           return;
         }
         std::map<std::string, BluezObject> fresh;
         sd_bus_message *m = outcome.reply;
         int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
         while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
           const char *path = nullptr;
           r = sd_bus_message_read_basic(m, 'o', &path);
           if (r >= 0) r = ReadInterfaces(m, fresh[path], nullptr);
           if (r >= 0) r = sd_bus_message_exit_container(m);
         }
         if (r < 0) {
           done(kEFail);
           return;
         }
         std::erase_if(fresh, [](const auto &entry) { return entry.second.Empty(); });
         std::vector<std::string> devices;
         for (const auto &[path, object] : objects_) {
           if (object.isDevice) devices.push_back(path);
         }
         for (const auto &[path, object] : fresh) {
           if (object.isDevice && !objects_.contains(path)) devices.push_back(path);
         }
         objects_ = std::move(fresh);
         ChooseAdapter();
         NotifyAdapter();
         for (const auto &path : devices) {
           NotifyDevice(path);
           SettleWaiters(path);
         }
         SettleNotifyWaiters();
         done(kSOk);
       });
}

void BusSession::ChooseAdapter() {
  const BluezObject *current = Find(adapterPath_);
  if (current && current->isAdapter) return;
  adapterPath_.clear();
  // The first adapter, preferring a powered one: BlueZ numbers them hci0, hci1, ...
  for (const auto &[path, object] : objects_) {
    if (!object.isAdapter) continue;
    if (adapterPath_.empty()) adapterPath_ = path;
    if (object.powered) {
      adapterPath_ = path;
      break;
    }
  }
}

const BluezObject *BusSession::Find(const std::string &path) const {
  const auto it = objects_.find(path);
  return it == objects_.end() ? nullptr : &it->second;
}

std::vector<std::string> BusSession::Children(const std::string &owner, bool services) const {
  std::vector<std::string> paths;
  for (const auto &[path, object] : objects_) {
    if ((services ? object.isService : object.isCharacteristic) && object.owner == owner) paths.push_back(path);
  }
  return paths;
}

std::vector<std::pair<std::string, std::uint64_t>> BusSession::SeenDevices() const {
  std::vector<std::pair<std::string, std::uint64_t>> seen;
  for (const auto &[path, object] : objects_) {
    if (!object.isDevice || !object.seen || !IsUnder(path, adapterPath_)) continue;
    if (const auto address = ParseAddress(object.address)) seen.emplace_back(object.name.value_or(""), *address);
  }
  return seen;
}

std::string BusSession::DevicePathFor(std::uint64_t address) const {
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

std::uint64_t BusSession::WhenServicesResolved(const std::string &devicePath, std::function<void(HRESULT)> fn) {
  const std::uint64_t id = ++nextId_;
  waiters_.emplace(id, ResolveWaiter{devicePath, std::move(fn)});
  SettleWaiters(devicePath);
  return id;
}

void BusSession::CancelWhenServicesResolved(std::uint64_t id) {
  waiters_.erase(id);
}

void BusSession::SettleWaiters(const std::string &path) {
  const BluezObject *object = Find(path);
  HRESULT code = kSOk;
  if (!object || !object->isDevice) {
    code = lost_.load() ? kErrorNoBus : kErrorNotFound;
  } else if (!object->connected) {
    code = kErrorDeviceNotConnected;
  } else if (!object->servicesResolved) {
    return;
  }
  std::vector<std::function<void(HRESULT)>> settled;
  std::erase_if(waiters_, [&](auto &entry) {
    if (entry.second.path != path) return false;
    settled.push_back(std::move(entry.second.fn));
    return true;
  });
  for (auto &fn : settled) fn(code);
}

std::uint64_t BusSession::WhenNotifying(const std::string &characteristicPath, std::function<void(HRESULT)> fn) {
  const std::uint64_t id = ++nextId_;
  notifyWaiters_.emplace(id, ResolveWaiter{characteristicPath, std::move(fn)});
  SettleNotifyWaiters();
  return id;
}

void BusSession::CancelWhenNotifying(std::uint64_t id) {
  notifyWaiters_.erase(id);
}

void BusSession::SettleNotifyWaiters() {
  std::vector<std::pair<std::function<void(HRESULT)>, HRESULT>> settled;
  std::erase_if(notifyWaiters_, [&](auto &entry) {
    const BluezObject *object = Find(entry.second.path);
    HRESULT code = kSOk;
    if (!object || !object->isCharacteristic) {
      code = lost_.load() ? kErrorNoBus : kErrorNotFound;
    } else if (!object->notifying) {
      return false;
    }
    settled.emplace_back(std::move(entry.second.fn), code);
    return true;
  });
  for (auto &[fn, code] : settled) fn(code);
}

void BusSession::HoldDevicePath(const std::string &devicePath) {
  ++deviceHolders_[devicePath];
}

bool BusSession::ReleaseDevicePath(const std::string &devicePath) {
  const auto it = deviceHolders_.find(devicePath);
  if (it == deviceHolders_.end()) return true;
  if (--it->second > 0) return false;
  deviceHolders_.erase(it);
  return true;
}

void BusSession::AddListener(std::weak_ptr<DiscoveryListener> listener) {
  discoveryListeners_.push_back(std::move(listener));
}

void BusSession::AddListener(const std::string &devicePath, std::weak_ptr<DeviceListener> listener) {
  deviceListeners_.emplace(devicePath, std::move(listener));
}

void BusSession::AddListener(const std::string &characteristicPath, std::weak_ptr<ValueListener> listener) {
  valueListeners_.emplace(characteristicPath, std::move(listener));
}

void BusSession::Advertise(const std::string &path) {
  const BluezObject *object = Find(path);
  if (!object || !object->isDevice || !IsUnder(path, adapterPath_)) return;
  const auto address = ParseAddress(object->address);
  if (!address) return;
  const std::string name = object->name.value_or("");
  for (const auto &listener : Live(discoveryListeners_)) listener->OnAdvertisement(name, *address);
}

void BusSession::NotifyAdapter() {
  const BluezObject *adapter = Find(adapterPath_);
  const bool present = adapter && adapter->isAdapter;
  for (const auto &listener : Live(discoveryListeners_)) {
    listener->OnAdapterState(present, present && adapter->powered, present && adapter->discovering);
  }
}

void BusSession::NotifyDevice(const std::string &path) {
  for (const auto &listener : Live(deviceListeners_, path)) {
    const BluezObject *object = Find(path);
    listener->OnDeviceState(object && object->isDevice ? object : nullptr);
  }
}

int BusSession::OnBluezSignal(sd_bus_message *message, void *userdata, sd_bus_error *) {
  auto *self = static_cast<BusSession *>(userdata);
  if (self->stopping_) return 0;
  const std::string_view interface = sd_bus_message_get_interface(message) ? sd_bus_message_get_interface(message) : "";
  const std::string_view member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
  // A malformed signal is dropped; nothing it said is trusted.
  if (interface == "org.freedesktop.DBus.ObjectManager" && member == "InterfacesAdded") {
    self->HandleInterfacesAdded(message);
  } else if (interface == "org.freedesktop.DBus.ObjectManager" && member == "InterfacesRemoved") {
    self->HandleInterfacesRemoved(message);
  } else if (interface == "org.freedesktop.DBus.Properties" && member == "PropertiesChanged") {
    self->HandlePropertiesChanged(message);
  }
  return 0;
}

int BusSession::OnOwnerChanged(sd_bus_message *message, void *userdata, sd_bus_error *) {
  auto *self = static_cast<BusSession *>(userdata);
  if (self->stopping_) return 0;
  const char *name = nullptr;
  const char *oldOwner = nullptr;
  const char *newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (oldOwner && *oldOwner) self->ForgetBluez();
  if (newOwner && *newOwner) self->Refresh([](HRESULT) {});
  return 0;
}

int BusSession::HandleInterfacesAdded(sd_bus_message *message) {
  const char *path = nullptr;
  int r = sd_bus_message_read_basic(message, 'o', &path);
  if (r < 0) return r;
  BluezObject updated = objects_[path];
  std::vector<std::string> interfaces;
  r = ReadInterfaces(message, updated, &interfaces);
  if (r < 0) {
    if (objects_[path].Empty()) objects_.erase(path);
    return r;
  }
  if (updated.Empty()) {
    objects_.erase(path);
    return 0;
  }
  objects_[path] = std::move(updated);
  if (Contains(interfaces, kAdapter1)) {
    ChooseAdapter();
    NotifyAdapter();
  }
  if (Contains(interfaces, kDevice1)) {
    Advertise(path);
    NotifyDevice(path);
    SettleWaiters(path);
  }
  return 0;
}

int BusSession::HandleInterfacesRemoved(sd_bus_message *message) {
  const char *pathText = nullptr;
  int r = sd_bus_message_read_basic(message, 'o', &pathText);
  if (r < 0) return r;
  const std::string path = pathText;
  std::vector<std::string> interfaces;
  r = sd_bus_message_enter_container(message, 'a', "s");
  if (r < 0) return r;
  const char *interface = nullptr;
  while ((r = sd_bus_message_read_basic(message, 's', &interface)) > 0) interfaces.emplace_back(interface);
  if (r < 0) return r;
  const auto it = objects_.find(path);
  if (it == objects_.end()) return 0;
  BluezObject &object = it->second;
  if (Contains(interfaces, kAdapter1)) object.isAdapter = false;
  if (Contains(interfaces, kDevice1)) object.isDevice = false;
  if (Contains(interfaces, kService1)) object.isService = false;
  if (Contains(interfaces, kCharacteristic1)) object.isCharacteristic = false;
  if (object.Empty()) objects_.erase(it);
  if (Contains(interfaces, kAdapter1)) {
    ForgetUnder(path);
    ChooseAdapter();
    NotifyAdapter();
  }
  if (Contains(interfaces, kDevice1)) {
    NotifyDevice(path);
    SettleWaiters(path);
  }
  if (Contains(interfaces, kCharacteristic1)) SettleNotifyWaiters();
  return 0;
}

int BusSession::HandlePropertiesChanged(sd_bus_message *message) {
  const char *pathText = sd_bus_message_get_path(message);
  const char *interfaceText = nullptr;
  int r = sd_bus_message_read_basic(message, 's', &interfaceText);
  if (r < 0 || !pathText) return r;
  const std::string path = pathText;
  const std::string_view interface = interfaceText;
  if (interface != kAdapter1 && interface != kDevice1 && interface != kCharacteristic1 && interface != kService1) {
    return 0;
  }
  BluezObject updated = objects_.contains(path) ? objects_[path] : BluezObject{};
  MarkInterface(interface, updated);
  PropertyNews news;
  r = ReadPropertyDict(message, interface, updated, news);
  if (r < 0) return r;
  std::vector<std::string> invalidated;
  r = sd_bus_message_enter_container(message, 'a', "s");
  if (r >= 0) {
    const char *name = nullptr;
    while ((r = sd_bus_message_read_basic(message, 's', &name)) > 0) invalidated.emplace_back(name);
  }
  if (interface == kDevice1) {
    if (Contains(invalidated, "RSSI")) updated.seen = false;
    if (Contains(invalidated, "Name")) updated.name.reset();
  }
  objects_[path] = std::move(updated);

  if (interface == kAdapter1) {
    if (path == adapterPath_ || adapterPath_.empty()) {
      ChooseAdapter();
      NotifyAdapter();
    }
  } else if (interface == kDevice1) {
    // A known device heard again shows up only as these changing.
    if (Contains(news.keys, "RSSI") || Contains(news.keys, "Name") || Contains(news.keys, "ManufacturerData") ||
        Contains(news.keys, "ServiceData")) {
      Advertise(path);
    }
    NotifyDevice(path);
    SettleWaiters(path);
  } else if (interface == kCharacteristic1) {
    if (news.hasValue) {
      for (const auto &listener : Live(valueListeners_, path)) listener->OnValue(news.value);
    }
    if (Contains(news.keys, "Notifying")) SettleNotifyWaiters();
  }
  return 0;
}

} // namespace ble::bluez
