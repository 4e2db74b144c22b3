// The simulator's objects on the bus: how their properties are written, the
// signals that announce changes, and the standard calls that read them.
#include "tools/pistol-sim/fake_bluez.h"

#include <string>
#include <variant>

#include "ble/bluez/bluez_names.h"

namespace pistolsim {
namespace {

using ble::bluez::kObjectManager;
using ble::bluez::kProperties;
namespace error_name = ble::bluez::error_name;

int AppendValue(sd_bus_message *m, const FakeBluez::Value &value) {
  struct Visitor {
    sd_bus_message *m;
    int operator()(bool v) const { return sd_bus_message_append(m, "v", "b", static_cast<int>(v)); }
    int operator()(const std::string &v) const { return sd_bus_message_append(m, "v", "s", v.c_str()); }
    int operator()(const FakeBluez::ObjectPath &v) const { return sd_bus_message_append(m, "v", "o", v.path.c_str()); }
    int operator()(std::int16_t v) const { return sd_bus_message_append(m, "v", "n", v); }
    int operator()(std::uint16_t v) const { return sd_bus_message_append(m, "v", "q", v); }
    int operator()(const std::vector<std::string> &v) const {
      int r = sd_bus_message_open_container(m, 'v', "as");
      if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
      for (const auto &item : v) {
        if (r >= 0) r = sd_bus_message_append_basic(m, 's', item.c_str());
      }
      if (r >= 0) r = sd_bus_message_close_container(m);
      if (r >= 0) r = sd_bus_message_close_container(m);
      return r;
    }
    int operator()(const std::vector<std::uint8_t> &v) const {
      int r = sd_bus_message_open_container(m, 'v', "ay");
      if (r >= 0) r = sd_bus_message_append_array(m, 'y', v.data(), v.size());
      if (r >= 0) r = sd_bus_message_close_container(m);
      return r;
    }
  };
  return std::visit(Visitor{m}, value);
}

int AppendProperties(sd_bus_message *m, const FakeBluez::Properties &properties) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  for (const auto &[name, value] : properties) {
    if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append_basic(m, 's', name.c_str());
    if (r >= 0) r = AppendValue(m, value);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r;
}

int AppendInterfaces(sd_bus_message *m, const FakeBluez::Interfaces &interfaces) {
  int r = sd_bus_message_open_container(m, 'a', "{sa{sv}}");
  for (const auto &[name, properties] : interfaces) {
    if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sa{sv}");
    if (r >= 0) r = sd_bus_message_append_basic(m, 's', name.c_str());
    if (r >= 0) r = AppendProperties(m, properties);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r;
}

} // namespace

void FakeBluez::Changed() {
  if (onStateChange) onStateChange();
}

void FakeBluez::AddObject(const std::string &path, const Interfaces &interfaces) {
  for (const auto &[name, properties] : interfaces) objects_[path][name] = properties;
  sdbus::Message signal;
  int r = sd_bus_message_new_signal(bus_, signal.out(), "/", kObjectManager, "InterfacesAdded");
  if (r >= 0) r = sd_bus_message_append_basic(signal.get(), 'o', path.c_str());
  if (r >= 0) r = AppendInterfaces(signal.get(), interfaces);
  if (r >= 0) sd_bus_send(bus_, signal.get(), nullptr);
}

void FakeBluez::RemoveObject(const std::string &path) {
  const auto it = objects_.find(path);
  if (it == objects_.end()) return;
  std::vector<std::string> names;
  for (const auto &[name, properties] : it->second) names.push_back(name);
  objects_.erase(it);
  sdbus::Message signal;
  int r = sd_bus_message_new_signal(bus_, signal.out(), "/", kObjectManager, "InterfacesRemoved");
  if (r >= 0) r = sd_bus_message_append_basic(signal.get(), 'o', path.c_str());
  if (r >= 0) r = sd_bus_message_open_container(signal.get(), 'a', "s");
  for (const auto &name : names) {
    if (r >= 0) r = sd_bus_message_append_basic(signal.get(), 's', name.c_str());
  }
  if (r >= 0) r = sd_bus_message_close_container(signal.get());
  if (r >= 0) sd_bus_send(bus_, signal.get(), nullptr);
}

void FakeBluez::SetProperties(const std::string &path, const std::string &interface, const Properties &changed) {
  auto &stored = objects_[path][interface];
  for (const auto &[name, value] : changed) stored[name] = value;
  EmitPropertiesChanged(path, interface, changed, {});
}

void FakeBluez::EmitPropertiesChanged(const std::string &path, const std::string &interface, const Properties &changed,
                                      const std::vector<std::string> &invalidated) {
  sdbus::Message signal;
  int r = sd_bus_message_new_signal(bus_, signal.out(), path.c_str(), kProperties, "PropertiesChanged");
  if (r >= 0) r = sd_bus_message_append_basic(signal.get(), 's', interface.c_str());
  if (r >= 0) r = AppendProperties(signal.get(), changed);
  if (r >= 0) r = sd_bus_message_open_container(signal.get(), 'a', "s");
  for (const auto &name : invalidated) {
    if (r >= 0) r = sd_bus_message_append_basic(signal.get(), 's', name.c_str());
  }
  if (r >= 0) r = sd_bus_message_close_container(signal.get());
  if (r >= 0) sd_bus_send(bus_, signal.get(), nullptr);
}

int FakeBluez::HandleManagedObjects(sd_bus_message *m) {
  sdbus::Message reply;
  int r = sd_bus_message_new_method_return(m, reply.out());
  if (r >= 0) r = sd_bus_message_open_container(reply.get(), 'a', "{oa{sa{sv}}}");
  for (const auto &[path, interfaces] : objects_) {
    if (r >= 0) r = sd_bus_message_open_container(reply.get(), 'e', "oa{sa{sv}}");
    if (r >= 0) r = sd_bus_message_append_basic(reply.get(), 'o', path.c_str());
    if (r >= 0) r = AppendInterfaces(reply.get(), interfaces);
    if (r >= 0) r = sd_bus_message_close_container(reply.get());
  }
  if (r >= 0) r = sd_bus_message_close_container(reply.get());
  if (r >= 0) r = sd_bus_send(bus_, reply.get(), nullptr);
  return r < 0 ? r : 1;
}

int FakeBluez::HandleProperties(sd_bus_message *m, const std::string &path, const std::string &member) {
  const char *interface = nullptr;
  const char *name = nullptr;
  const auto &interfaces = objects_[path];
  if (member == "GetAll" && sd_bus_message_read(m, "s", &interface) >= 0) {
    const auto it = interfaces.find(interface);
    sdbus::Message reply;
    int r = sd_bus_message_new_method_return(m, reply.out());
    if (r >= 0) r = AppendProperties(reply.get(), it == interfaces.end() ? Properties{} : it->second);
    if (r >= 0) r = sd_bus_send(bus_, reply.get(), nullptr);
    return r < 0 ? r : 1;
  }
  if (member == "Get" && sd_bus_message_read(m, "ss", &interface, &name) >= 0) {
    const auto it = interfaces.find(interface);
    if (it == interfaces.end() || !it->second.contains(name)) {
      return sd_bus_reply_method_errorf(m, error_name::kInvalidArgs, "No such property '%s'", name);
    }
    sdbus::Message reply;
    int r = sd_bus_message_new_method_return(m, reply.out());
    if (r >= 0) r = AppendValue(reply.get(), it->second.at(name));
    if (r >= 0) r = sd_bus_send(bus_, reply.get(), nullptr);
    return r < 0 ? r : 1;
  }
  return sd_bus_reply_method_errorf(m, error_name::kPropertyReadOnly, "Read-only in the simulator");
}

} // namespace pistolsim
