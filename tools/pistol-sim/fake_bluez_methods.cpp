// BlueZ's own methods as the simulator answers them: the adapter's
// discovery, a device's link, a characteristic's notifications, and what a
// client leaving the bus ends.
#include "tools/pistol-sim/fake_bluez.h"

#include <cstring>
#include <string>

#include "ble/bluez/bluez_names.h"

namespace pistolsim {
namespace {

using ble::bluez::kAdapter1;
using ble::bluez::kBluezName;
using ble::bluez::kCharacteristic1;
using ble::bluez::kDevice1;
using ble::bluez::kObjectManager;
using ble::bluez::kProperties;
namespace error_name = ble::bluez::error_name;

const char *Sender(sd_bus_message *m) {
  const char *sender = sd_bus_message_get_sender(m);
  return sender ? sender : "?";
}

} // namespace

bool FakeBluez::StalledNotify(const std::string &client, const std::string &path) const {
  for (const auto &call : stalledCalls_) {
    if (call.member == "StartNotify" && call.client == client && call.path == path) return true;
  }
  return false;
}

FakeBluez::Pistol *FakeBluez::PistolWithDevice(const std::string &path) {
  for (auto &pistol : pistols_) {
    if (pistol.path == path) return &pistol;
  }
  return nullptr;
}

FakeBluez::Pistol *FakeBluez::PistolWithCharacteristic(const std::string &path) {
  for (auto &pistol : pistols_) {
    if (pistol.characteristicPath == path) return &pistol;
  }
  return nullptr;
}

int FakeBluez::OnMessage(sd_bus_message *m, void *userdata, sd_bus_error *) {
  auto *self = static_cast<FakeBluez *>(userdata);
  if (sd_bus_message_is_method_call(m, nullptr, nullptr) <= 0) return 0;
  const std::string path = sd_bus_message_get_path(m);
  const std::string interface = sd_bus_message_get_interface(m) ? sd_bus_message_get_interface(m) : "";
  const std::string member = sd_bus_message_get_member(m);
  if (!self->serviceUp_) {
    return sd_bus_reply_method_errorf(m, error_name::kServiceUnknown, "org.bluez is not running");
  }
  if (self->stalled_.contains(member)) {
    const std::string client = Sender(m);
    // A second subscription while the first is still being set up, as BlueZ answers it.
    if (member == "StartNotify" && self->StalledNotify(client, path)) {
      self->log_("StartNotify from " + client + ": InProgress (an earlier one is pending)");
      return sd_bus_reply_method_errorf(m, error_name::kInProgress, "In Progress");
    }
    self->stalledCalls_.push_back({member, client, path, sdbus::Message::Ref(m)});
    self->log_("stalled: " + member + " from " + client);
    return 1;
  }
  if (interface == kObjectManager && member == "GetManagedObjects" && path == "/") {
    return self->HandleManagedObjects(m);
  }
  const auto object = self->objects_.find(path);
  // Not ours: sd-bus answers UnknownObject, as BlueZ's bus library does.
  if (object == self->objects_.end()) return 0;
  if (interface == kProperties) return self->HandleProperties(m, path, member);
  if (!object->second.contains(interface)) {
    return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No interface %s", interface.c_str());
  }
  if (interface == kAdapter1) return self->HandleAdapter(m, member);
  if (interface == kDevice1) {
    if (Pistol *pistol = self->PistolWithDevice(path)) return self->HandleDevice(m, *pistol, member);
  }
  if (interface == kCharacteristic1) {
    if (Pistol *pistol = self->PistolWithCharacteristic(path)) return self->HandleCharacteristic(m, *pistol, member);
  }
  return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No method %s", member.c_str());
}

int FakeBluez::HandleAdapter(sd_bus_message *m, const std::string &member) {
  const std::string client = Sender(m);
  if (member == "SetDiscoveryFilter") {
    static const std::set<std::string> kKeys = {"UUIDs",         "RSSI",         "Pathloss", "Transport",
                                                "DuplicateData", "Discoverable", "Pattern"};
    std::string keys;
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
      const char *key = nullptr;
      r = sd_bus_message_read_basic(m, 's', &key);
      if (r < 0) break;
      if (!kKeys.contains(key)) {
        return sd_bus_reply_method_errorf(m, error_name::kInvalidArguments, "Invalid arguments in method call");
      }
      keys += keys.empty() ? key : std::string(", ") + key;
      if (r >= 0) r = sd_bus_message_skip(m, "v");
      if (r >= 0) r = sd_bus_message_exit_container(m);
    }
    if (r < 0) return sd_bus_reply_method_errorf(m, error_name::kInvalidArguments, "Malformed filter");
    log_("discovery filter from " + client + ": " + (keys.empty() ? "none" : keys));
    return sd_bus_reply_method_return(m, "");
  }
  if (!adapter_.powered && (member == "StartDiscovery" || member == "StopDiscovery")) {
    return sd_bus_reply_method_errorf(m, error_name::kNotReady, "Resource Not Ready");
  }
  if (member == "StartDiscovery") {
    if (discoverySessions_.contains(client)) {
      return sd_bus_reply_method_errorf(m, error_name::kInProgress, "Operation already in progress");
    }
    const bool first = discoverySessions_.empty();
    discoverySessions_.insert(client);
    const int r = sd_bus_reply_method_return(m, "");
    if (first) {
      SetProperties(adapterPath_, kAdapter1, {{"Discovering", true}});
      log_("discovery started by " + client);
    }
    // Heard soon after the scan starts, not a whole interval later.
    After(50, [this] {
      if (!Discovering()) return;
      for (auto &pistol : pistols_) {
        if (AdvertisesNow(pistol)) Advertise(pistol);
      }
    });
    return r;
  }
  if (member == "StopDiscovery") {
    if (!discoverySessions_.erase(client)) {
      return sd_bus_reply_method_errorf(m, error_name::kFailed, "No discovery started");
    }
    const int r = sd_bus_reply_method_return(m, "");
    if (discoverySessions_.empty()) {
      SetProperties(adapterPath_, kAdapter1, {{"Discovering", false}});
      for (auto &pistol : pistols_) InvalidateRssi(pistol);
      log_("discovery stopped by " + client);
    }
    return r;
  }
  if (member == "RemoveDevice") {
    const char *path = nullptr;
    if (sd_bus_message_read(m, "o", &path) < 0) return -EINVAL;
    Pistol *pistol = PistolWithDevice(path);
    if (!pistol || !pistol->known) {
      return sd_bus_reply_method_errorf(m, error_name::kDoesNotExist, "Does Not Exist");
    }
    LinkDown(*pistol, "device removed");
    RemoveGatt(*pistol);
    RemoveObject(pistol->path);
    pistol->known = pistol->gattExported = pistol->announced = false;
    return sd_bus_reply_method_return(m, "");
  }
  return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No method %s", member.c_str());
}

int FakeBluez::HandleDevice(sd_bus_message *m, Pistol &pistol, const std::string &member) {
  const std::string client = Sender(m);
  const Misbehaviour &mis = pistol.config.misbehaviour;
  if (member == "Connect") {
    log_("Connect from " + client + ": " + pistol.config.name);
    if (pistol.connected) return sd_bus_reply_method_return(m, "");
    if (pistol.hungConnect) {
      return sd_bus_reply_method_errorf(m, error_name::kInProgress, "In Progress");
    }
    if (mis.hangConnect) {
      log_("Connect: not answering (hang-connect)");
      pistol.hungConnect = sdbus::Message::Ref(m);
      return 1;
    }
    if (mis.refuseConnect) {
      log_("Connect: refused (refuse-connect)");
      return sd_bus_reply_method_errorf(m, error_name::kFailed, "le-connection-abort-by-local");
    }
    if (!pistol.visible) {
      // The radio tries for a while before giving up on a peer that is gone.
      After(1000, [this, reply = std::make_shared<sdbus::Message>(sdbus::Message::Ref(m))] {
        log_("Connect: failed, out of range");
        sd_bus_reply_method_errorf(reply->get(), error_name::kFailed, "le-connection-abort-by-local");
      });
      return 1;
    }
    pistol.connected = true;
    pistol.announced = false;
    ++counts_.connections;
    int r = 0;
    if (adapter_.ideal) {
      SetProperties(pistol.path, kDevice1, {{"Connected", true}});
      r = sd_bus_reply_method_return(m, "");
    } else {
      // The ATT channel comes up before the kernel's connection event, which
      // then finds the device connected and signals nothing: only a read shows
      // it. One link in three has the signal, after the reply.
      r = sd_bus_reply_method_return(m, "");
      if (counts_.connections % 3 == 0) {
        SetProperties(pistol.path, kDevice1, {{"Connected", true}});
      } else {
        objects_[pistol.path][kDevice1]["Connected"] = true;
        log_("Connected not signalled: " + pistol.config.name);
      }
    }
    log_("connected: " + pistol.config.name);
    // Services are resolved shortly after the link is up, as with a real peer.
    const std::string path = pistol.path;
    After(adapter_.ideal ? 30 : 150, [this, path] {
      Pistol *p = PistolWithDevice(path);
      if (!p || !p->connected) return;
      ExportGatt(*p);
      SetProperties(p->path, kDevice1, {{"ServicesResolved", true}});
      log_("services resolved: " + p->config.name);
      Changed();
    });
    if (mis.dropAfterMs > 0) {
      After(
          mis.dropAfterMs,
          [this, path] {
            if (Pistol *p = PistolWithDevice(path)) {
              p->dropTimer = sd_event_source_disable_unref(p->dropTimer);
              LinkDown(*p, "drop-after");
            }
          },
          &pistol.dropTimer);
    }
    Changed();
    return r;
  }
  if (member == "Disconnect") {
    log_("Disconnect from " + client + ": " + pistol.config.name);
    if (pistol.hungConnect) {
      // BlueZ ends a pending Connect when asked to disconnect.
      sd_bus_reply_method_errorf(pistol.hungConnect.get(), error_name::kFailed, "Operation aborted");
      pistol.hungConnect = sdbus::Message();
      log_("pending Connect aborted by Disconnect");
      return sd_bus_reply_method_return(m, "");
    }
    if (!pistol.connected) return sd_bus_reply_method_errorf(m, error_name::kNotConnected, "Not Connected");
    if (adapter_.ideal) {
      const int r = sd_bus_reply_method_return(m, "");
      LinkDown(pistol, "Disconnect");
      return r;
    }
    BeginDisconnect(pistol, m);
    return 1;
  }
  return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No method %s", member.c_str());
}

// bluetoothd takes the services down at once and the link only seconds
// later, and answers every Disconnect asked meanwhile at the very end.
void FakeBluez::BeginDisconnect(Pistol &pistol, sd_bus_message *call) {
  pistol.disconnectReplies.push_back(sdbus::Message::Ref(call));
  if (pistol.disconnecting) return;
  pistol.disconnecting = true;
  CancelTimer(pistol.dropTimer);
  SetProperties(pistol.path, kDevice1, {{"ServicesResolved", false}});
  log_("disconnecting: " + pistol.config.name);
  Changed();
  After(
      adapter_.disconnectDelayMs,
      [this, path = pistol.path] {
        Pistol *p = PistolWithDevice(path);
        if (!p) return;
        p->disconnectTimer = sd_event_source_disable_unref(p->disconnectTimer);
        LinkDown(*p, "Disconnect");
      },
      &pistol.disconnectTimer);
}

// Whatever took the link down also ends the Disconnect calls waiting for it.
void FakeBluez::AnswerDisconnects(Pistol &pistol) {
  auto replies = std::move(pistol.disconnectReplies);
  pistol.disconnectReplies.clear();
  for (auto &reply : replies) sd_bus_reply_method_return(reply.get(), "");
}

int FakeBluez::HandleCharacteristic(sd_bus_message *m, Pistol &pistol, const std::string &member) {
  const std::string client = Sender(m);
  if (member == "StartNotify") {
    if (!pistol.connected) return sd_bus_reply_method_errorf(m, error_name::kFailed, "Not connected");
    if (pistol.disconnecting) {
      log_("StartNotify from " + client + ": NotConnected (disconnecting)");
      return sd_bus_reply_method_errorf(m, error_name::kNotConnected, "Device is disconnecting");
    }
    if (pistol.config.misbehaviour.failNotify) {
      log_("StartNotify from " + client + ": refused (fail-notify)");
      return sd_bus_reply_method_errorf(m, error_name::kFailed, "Operation failed with ATT error: 0x0e");
    }
    const bool first = pistol.subscribers.empty();
    pistol.subscribers.insert(client);
    const int r = sd_bus_reply_method_return(m, "");
    if (first) SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Notifying", true}});
    log_("subscribed: " + client);
    Changed();
    return r;
  }
  if (member == "StopNotify") {
    if (!pistol.subscribers.erase(client)) {
      return sd_bus_reply_method_errorf(m, error_name::kFailed, "No notify session started");
    }
    const int r = sd_bus_reply_method_return(m, "");
    if (pistol.subscribers.empty()) SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Notifying", false}});
    log_("unsubscribed: " + client);
    Changed();
    return r;
  }
  if (member == "ReadValue") {
    sdbus::Message reply;
    const auto &value =
        std::get<std::vector<std::uint8_t>>(objects_[pistol.characteristicPath][kCharacteristic1]["Value"]);
    int r = sd_bus_message_new_method_return(m, reply.out());
    if (r >= 0) r = sd_bus_message_append_array(reply.get(), 'y', value.data(), value.size());
    if (r >= 0) r = sd_bus_send(bus_, reply.get(), nullptr);
    return r < 0 ? r : 1;
  }
  return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No method %s", member.c_str());
}

int FakeBluez::OnNameOwnerChanged(sd_bus_message *m, void *userdata, sd_bus_error *) {
  const char *name = nullptr;
  const char *oldOwner = nullptr;
  const char *newOwner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (name && name[0] == ':' && newOwner && !*newOwner) static_cast<FakeBluez *>(userdata)->ClientGone(name);
  return 0;
}

// A client's discovery and notify sessions end with its bus connection.
void FakeBluez::ClientGone(const std::string &client) {
  if (discoverySessions_.erase(client) && discoverySessions_.empty()) {
    SetProperties(adapterPath_, kAdapter1, {{"Discovering", false}});
    for (auto &pistol : pistols_) InvalidateRssi(pistol);
    log_("discovery ended: " + client + " left the bus");
  }
  for (auto &pistol : pistols_) {
    if (pistol.subscribers.erase(client) && pistol.subscribers.empty() && pistol.gattExported) {
      SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Notifying", false}});
      log_("unsubscribed: " + client + " left the bus");
    }
  }
  Changed();
}

} // namespace pistolsim
