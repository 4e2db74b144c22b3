#include "ble/bluez/bluez_tracker.h"

#include <string_view>
#include <vector>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_names.h"
#include "ble/bluez/bluez_properties.h"
#include "ble/bluez/bus_session.h"

namespace ble::bluez {

int BluezTracker::Watch(sd_bus *bus) {
  const std::string bluezSignals = std::string("type='signal',sender='") + kBluezName + "'";
  int r = sd_bus_add_match_async(bus, bluezMatch_.out(), bluezSignals.c_str(), &OnBluezSignal, nullptr, this);
  if (r >= 0) {
    const std::string ownerChanges = std::string("type='signal',sender='") + kBusName + "',path='" + kBusPath +
                                     "',interface='" + kBusName + "',member='NameOwnerChanged',arg0='" + kBluezName +
                                     "'";
    r = sd_bus_add_match_async(bus, ownerMatch_.out(), ownerChanges.c_str(), &OnOwnerChanged, nullptr, this);
  }
  return r;
}

void BluezTracker::Unwatch() {
  bluezMatch_ = sdbus::Slot();
  ownerMatch_ = sdbus::Slot();
}

void BluezTracker::DevicesChanged(const std::vector<std::string> &devices) {
  for (const auto &path : devices) events_.DeviceChanged(path);
  events_.NotifyingChanged();
}

void BluezTracker::Forget() {
  const std::vector<std::string> devices = map_.Clear();
  events_.AdapterChanged();
  DevicesChanged(devices);
}

void BluezTracker::Refresh(std::function<void(HRESULT)> done) {
  session_.Call("/", kObjectManager, "GetManagedObjects", nullptr, BusSession::kShortCallUsec,
                [this, done = std::move(done)](const CallOutcome &outcome) {
                  if (outcome.code < 0) {
                    if (outcome.code == kErrorServiceNotActive) Forget();
                    done(outcome.code);
                    return;
                  }
                  ObjectMap::Objects fresh;
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
                  // Devices that were there or have come are told either way.
                  std::vector<std::string> devices = map_.DevicePaths();
                  for (const auto &[path, object] : fresh) {
                    if (object.isDevice && !map_.objects().contains(path)) devices.push_back(path);
                  }
                  map_.objects() = std::move(fresh);
                  map_.ChooseAdapter();
                  events_.AdapterChanged();
                  DevicesChanged(devices);
                  done(kSOk);
                });
}

void BluezTracker::ReadBackDevice(const std::string &devicePath, std::function<void(HRESULT)> done) {
  session_.Call(
      devicePath, kProperties, "GetAll", [](sd_bus_message *m) { return sd_bus_message_append(m, "s", kDevice1); },
      BusSession::kShortCallUsec,
      [this, devicePath, done = std::move(done)](const CallOutcome &outcome) {
        if (outcome.code < 0) return done(outcome.code);
        auto &objects = map_.objects();
        const auto it = objects.find(devicePath);
        // Gone meanwhile: its removal has been told already.
        if (it == objects.end() || !it->second.isDevice) return done(kSOk);
        BluezObject updated = it->second;
        PropertyNews news;
        if (ReadPropertyDict(outcome.reply, kDevice1, updated, news) < 0) return done(kEFail);
        it->second = std::move(updated);
        events_.DeviceChanged(devicePath);
        done(kSOk);
      });
}

int BluezTracker::OnBluezSignal(sd_bus_message *message, void *userdata, sd_bus_error *) {
  auto *self = static_cast<BluezTracker *>(userdata);
  if (self->session_.Stopping()) return 0;
  const std::string_view interface = sd_bus_message_get_interface(message) ? sd_bus_message_get_interface(message) : "";
  const std::string_view member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
  // A malformed signal is dropped; nothing it said is trusted.
  if (interface == kObjectManager && member == "InterfacesAdded") {
    self->HandleInterfacesAdded(message);
  } else if (interface == kObjectManager && member == "InterfacesRemoved") {
    self->HandleInterfacesRemoved(message);
  } else if (interface == kProperties && member == "PropertiesChanged") {
    self->HandlePropertiesChanged(message);
  }
  return 0;
}

int BluezTracker::OnOwnerChanged(sd_bus_message *message, void *userdata, sd_bus_error *) {
  auto *self = static_cast<BluezTracker *>(userdata);
  if (self->session_.Stopping()) return 0;
  const char *name = nullptr;
  const char *oldOwner = nullptr;
  const char *newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (oldOwner && *oldOwner) self->Forget();
  if (newOwner && *newOwner) self->Refresh([](HRESULT) {});
  return 0;
}

int BluezTracker::HandleInterfacesAdded(sd_bus_message *message) {
  const char *path = nullptr;
  int r = sd_bus_message_read_basic(message, 'o', &path);
  if (r < 0) return r;
  auto &objects = map_.objects();
  BluezObject updated = objects[path];
  std::vector<std::string> interfaces;
  r = ReadInterfaces(message, updated, &interfaces);
  if (r < 0) {
    if (objects[path].Empty()) objects.erase(path);
    return r;
  }
  if (updated.Empty()) {
    objects.erase(path);
    return 0;
  }
  objects[path] = std::move(updated);
  if (Contains(interfaces, kAdapter1)) {
    map_.ChooseAdapter();
    events_.AdapterChanged();
  }
  if (Contains(interfaces, kDevice1)) {
    events_.Advertise(path);
    events_.DeviceChanged(path);
  }
  return 0;
}

int BluezTracker::HandleInterfacesRemoved(sd_bus_message *message) {
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
  auto &objects = map_.objects();
  const auto it = objects.find(path);
  if (it == objects.end()) return 0;
  BluezObject &object = it->second;
  if (Contains(interfaces, kAdapter1)) object.isAdapter = false;
  if (Contains(interfaces, kDevice1)) object.isDevice = false;
  if (Contains(interfaces, kService1)) object.isService = false;
  if (Contains(interfaces, kCharacteristic1)) object.isCharacteristic = false;
  if (object.Empty()) objects.erase(it);
  if (Contains(interfaces, kAdapter1)) {
    DevicesChanged(map_.ForgetUnder(path));
    map_.ChooseAdapter();
    events_.AdapterChanged();
  }
  if (Contains(interfaces, kDevice1)) events_.DeviceChanged(path);
  if (Contains(interfaces, kCharacteristic1)) events_.NotifyingChanged();
  return 0;
}

int BluezTracker::HandlePropertiesChanged(sd_bus_message *message) {
  const char *pathText = sd_bus_message_get_path(message);
  const char *interfaceText = nullptr;
  int r = sd_bus_message_read_basic(message, 's', &interfaceText);
  if (r < 0 || !pathText) return r;
  const std::string path = pathText;
  const std::string_view interface = interfaceText;
  if (interface != kAdapter1 && interface != kDevice1 && interface != kCharacteristic1 && interface != kService1) {
    return 0;
  }
  auto &objects = map_.objects();
  BluezObject updated = objects.contains(path) ? objects[path] : BluezObject{};
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
  // A sighting, not the reset bluetoothd makes when discovery stops.
  const bool heard = Contains(news.keys, "RSSI") && updated.seen;
  objects[path] = std::move(updated);

  if (interface == kAdapter1) {
    if (path == map_.AdapterPath() || map_.AdapterPath().empty()) {
      map_.ChooseAdapter();
      events_.AdapterChanged();
    }
  } else if (interface == kDevice1) {
    // A known device heard again shows up only as these changing.
    if (heard || Contains(news.keys, "Name") || Contains(news.keys, "ManufacturerData") ||
        Contains(news.keys, "ServiceData")) {
      events_.Advertise(path);
    }
    events_.DeviceChanged(path);
  } else if (interface == kCharacteristic1) {
    if (news.hasValue) events_.Value(path, news.value);
    if (Contains(news.keys, "Notifying")) events_.NotifyingChanged();
  }
  return 0;
}

} // namespace ble::bluez
