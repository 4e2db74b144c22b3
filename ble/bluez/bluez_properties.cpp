// Parsing of BlueZ's property dictionaries.
#include "ble/bluez/bluez_properties.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_names.h"

namespace ble::bluez {
namespace {

int ReadBool(sd_bus_message *m, bool &out) {
  int value = 0;
  int r = sd_bus_message_enter_container(m, 'v', "b");
  if (r >= 0) r = sd_bus_message_read_basic(m, 'b', &value);
  if (r >= 0) r = sd_bus_message_exit_container(m);
  if (r >= 0) out = value != 0;
  return r;
}

int ReadText(sd_bus_message *m, char type, std::string &out) {
  const char signature[2] = {type, 0};
  const char *text = nullptr;
  int r = sd_bus_message_enter_container(m, 'v', signature);
  if (r >= 0) r = sd_bus_message_read_basic(m, type, &text);
  if (r >= 0) r = sd_bus_message_exit_container(m);
  if (r >= 0) out = text ? text : "";
  return r;
}

int ReadBytes(sd_bus_message *m, std::vector<std::uint8_t> &out) {
  const void *data = nullptr;
  std::size_t size = 0;
  int r = sd_bus_message_enter_container(m, 'v', "ay");
  if (r >= 0) r = sd_bus_message_read_array(m, 'y', &data, &size);
  if (r >= 0) r = sd_bus_message_exit_container(m);
  if (r >= 0) {
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    out.assign(bytes, bytes + size);
  }
  return r;
}

// One variant value; properties the backend does not use, or that carry an
// unexpected type, are skipped.
int ReadProperty(sd_bus_message *m, std::string_view interface, std::string_view key, BluezObject &object,
                 PropertyNews &news) {
  const char *contents = nullptr;
  int r = sd_bus_message_peek_type(m, nullptr, &contents);
  if (r < 0) return r;
  const std::string_view type = contents ? contents : "";
  if (interface == kAdapter1) {
    if (key == "Powered" && type == "b") return ReadBool(m, object.powered);
    if (key == "Discovering" && type == "b") return ReadBool(m, object.discovering);
  } else if (interface == kDevice1) {
    if (key == "Address" && type == "s") return ReadText(m, 's', object.address);
    if (key == "Name" && type == "s") {
      std::string name;
      r = ReadText(m, 's', name);
      if (r >= 0) object.name = std::move(name);
      return r;
    }
    if (key == "Connected" && type == "b") return ReadBool(m, object.connected);
    if (key == "ServicesResolved" && type == "b") {
      r = ReadBool(m, object.servicesResolved);
      // bluetoothd often never signals Connected for a link whose ATT channel
      // came up first; resolved services are proof of the link all the same.
      if (object.servicesResolved) object.connected = true;
      return r;
    }
    if (key == "RSSI" && type == "n") {
      std::int16_t rssi = 0;
      r = sd_bus_message_read(m, "v", "n", &rssi);
      // bluetoothd sets RSSI to 0 when discovery stops rather than dropping it.
      object.seen = rssi != 0;
      return r;
    }
    if (key == "RSSI") object.seen = true;
  } else if (interface == kService1) {
    if (key == "UUID" && type == "s") return ReadText(m, 's', object.uuid);
    if (key == "Device" && type == "o") return ReadText(m, 'o', object.owner);
  } else if (interface == kCharacteristic1) {
    if (key == "UUID" && type == "s") return ReadText(m, 's', object.uuid);
    if (key == "Service" && type == "o") return ReadText(m, 'o', object.owner);
    if (key == "Notifying" && type == "b") return ReadBool(m, object.notifying);
    if (key == "Value" && type == "ay") {
      news.hasValue = true;
      return ReadBytes(m, news.value);
    }
  }
  return sd_bus_message_skip(m, "v");
}

} // namespace

void MarkInterface(std::string_view interface, BluezObject &object) {
  if (interface == kAdapter1) object.isAdapter = true;
  if (interface == kDevice1) object.isDevice = true;
  if (interface == kService1) object.isService = true;
  if (interface == kCharacteristic1) object.isCharacteristic = true;
}

int ReadPropertyDict(sd_bus_message *m, std::string_view interface, BluezObject &object, PropertyNews &news) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char *key = nullptr;
    r = sd_bus_message_read_basic(m, 's', &key);
    if (r < 0) return r;
    news.keys.emplace_back(key);
    r = ReadProperty(m, interface, key, object, news);
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    if (r < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// Reads an a{sa{sv}} (interfaces with their properties) into the object.
int ReadInterfaces(sd_bus_message *m, BluezObject &object, std::vector<std::string> *interfaces) {
  int r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
    const char *interface = nullptr;
    r = sd_bus_message_read_basic(m, 's', &interface);
    if (r < 0) return r;
    MarkInterface(interface, object);
    if (interfaces) interfaces->emplace_back(interface);
    PropertyNews ignored;
    r = ReadPropertyDict(m, interface, object, ignored);
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    if (r < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

bool Contains(const std::vector<std::string> &items, std::string_view item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

bool IsUnder(const std::string &path, const std::string &parent) {
  return !parent.empty() && path.size() > parent.size() && path.compare(0, parent.size(), parent) == 0 &&
         path[parent.size()] == '/';
}

} // namespace ble::bluez
