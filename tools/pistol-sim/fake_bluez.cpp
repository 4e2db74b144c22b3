#include "tools/pistol-sim/fake_bluez.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ble/bluez/bluez_names.h"
#include "ble/bluez/bluez_text.h"

namespace pistolsim {
namespace {

using ble::bluez::kAdapter1;
using ble::bluez::kBluezName;
using ble::bluez::kBusName;
using ble::bluez::kBusPath;
using ble::bluez::kCharacteristic1;
using ble::bluez::kDevice1;
using ble::bluez::kObjectManager;
using ble::bluez::kProperties;
using ble::bluez::kService1;
namespace error_name = ble::bluez::error_name;
constexpr const char *kButtonService = "0000fff0-0000-1000-8000-00805f9b34fb";
constexpr const char *kButtonCharacteristic = "0000fff1-0000-1000-8000-00805f9b34fb";
constexpr const char *kBatteryService = "0000180f-0000-1000-8000-00805f9b34fb";
constexpr const char *kBatteryLevel = "00002a19-0000-1000-8000-00805f9b34fb";

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

std::string Hex(const std::vector<std::uint8_t> &bytes) {
  std::string text;
  char pair[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    if (!text.empty()) text += ' ';
    text += pair;
  }
  return text;
}

const char *Sender(sd_bus_message *m) {
  const char *sender = sd_bus_message_get_sender(m);
  return sender ? sender : "?";
}

} // namespace

FakeBluez::FakeBluez(sd_bus *bus, sd_event *event, AdapterConfig adapter, std::vector<PistolConfig> pistols, Log log)
    : bus_(bus), event_(event), adapter_(adapter), log_(std::move(log)) {
  for (auto &config : pistols) {
    Pistol pistol;
    pistol.path = ble::bluez::DevicePath(adapterPath_, config.address);
    pistol.servicePath = pistol.path + "/service000a";
    pistol.characteristicPath = pistol.servicePath + "/char000b";
    pistol.config = std::move(config);
    pistols_.push_back(std::move(pistol));
  }
}

// A timer made by After with a handle has two references: its own and the owner's.
static void CancelTimer(sd_event_source *&timer) {
  if (!timer) return;
  sd_event_source_set_enabled(timer, SD_EVENT_OFF);
  sd_event_source_unref(timer);
  timer = sd_event_source_unref(timer);
}

FakeBluez::~FakeBluez() {
  if (burst_) sd_event_source_disable_unref(burst_->timer);
  for (auto &pistol : pistols_) CancelTimer(pistol.dropTimer);
  sd_event_source_disable_unref(tick_);
}

namespace {

FakeBluez::Properties AdapterProperties(bool powered) {
  return {
      {"Address", std::string("00:1A:7D:DA:71:13")},
      {"AddressType", std::string("public")},
      {"Name", std::string("pistol-sim")},
      {"Alias", std::string("pistol-sim")},
      {"Powered", powered},
      {"Discovering", false},
      {"Discoverable", false},
      {"Pairable", true},
      {"UUIDs", std::vector<std::string>{}},
  };
}

} // namespace

int FakeBluez::Start() {
  if (adapter_.present) objects_[adapterPath_][kAdapter1] = AdapterProperties(adapter_.powered);
  int r = sd_bus_add_fallback(bus_, objectSlot_.out(), "/", &OnMessage, this);
  if (r >= 0) {
    r = sd_bus_match_signal(bus_, ownerSlot_.out(), kBusName, kBusPath, kBusName, "NameOwnerChanged",
                            &OnNameOwnerChanged, this);
  }
  if (r >= 0) r = sd_bus_request_name(bus_, kBluezName, 0);
  serviceUp_ = r >= 0;
  if (r >= 0) {
    r = sd_event_add_time_relative(event_, &tick_, CLOCK_MONOTONIC,
                                   static_cast<std::uint64_t>(adapter_.advertisingIntervalMs) * 1000u, 1000,
                                   &OnAdvertisingTick, this);
  }
  return r < 0 ? r : 0;
}

void FakeBluez::After(int ms, std::function<void()> fn, sd_event_source **handle) {
  auto *owned = new std::function<void()>(std::move(fn));
  sd_event_source *source = nullptr;
  const int r = sd_event_add_time_relative(
      event_, &source, CLOCK_MONOTONIC, static_cast<std::uint64_t>(ms) * 1000u, 1000,
      [](sd_event_source *self, std::uint64_t, void *userdata) -> int {
        auto *task = static_cast<std::function<void()> *>(userdata);
        (*task)();
        sd_event_source_unref(self);
        return 0;
      },
      owned);
  if (r < 0) {
    delete owned;
    return;
  }
  sd_event_source_set_destroy_callback(source,
                                       [](void *userdata) { delete static_cast<std::function<void()> *>(userdata); });
  // A cancellable timer keeps a second reference for its owner.
  if (handle) *handle = sd_event_source_ref(source);
}

int FakeBluez::OnAdvertisingTick(sd_event_source *source, std::uint64_t usec, void *userdata) {
  auto *self = static_cast<FakeBluez *>(userdata);
  if (self->Discovering() && self->adapter_.powered) {
    for (auto &pistol : self->pistols_) {
      if (pistol.visible && !pistol.connected) self->Advertise(pistol);
    }
  }
  sd_event_source_set_time(source, usec + static_cast<std::uint64_t>(self->adapter_.advertisingIntervalMs) * 1000u);
  sd_event_source_set_enabled(source, SD_EVENT_ON);
  return 0;
}

// The first sighting creates the device object; later ones move its RSSI, as
// BlueZ reports a device it already knows.
void FakeBluez::Advertise(Pistol &pistol) {
  pistol.rssi = pistol.rssi == -60 ? -70 : -60;
  if (!pistol.announced) {
    log_("advertising as '" + pistol.config.name + "' at " + ble::bluez::FormatAddress(pistol.config.address));
    pistol.announced = true;
  }
  if (!pistol.known) {
    pistol.known = true;
    AddObject(pistol.path, {{kDevice1,
                             {{"Address", ble::bluez::FormatAddress(pistol.config.address)},
                              {"AddressType", std::string("random")},
                              {"Name", pistol.config.name},
                              {"Alias", pistol.config.name},
                              {"Paired", false},
                              {"Trusted", false},
                              {"Connected", false},
                              {"ServicesResolved", false},
                              {"Adapter", ObjectPath{adapterPath_}},
                              {"UUIDs", std::vector<std::string>{kButtonService}},
                              {"RSSI", pistol.rssi}}}});
    return;
  }
  SetProperties(pistol.path, kDevice1, {{"RSSI", pistol.rssi}});
}

void FakeBluez::InvalidateRssi(Pistol &pistol) {
  pistol.announced = false;
  if (!pistol.known) return;
  auto &device = objects_[pistol.path][kDevice1];
  if (device.erase("RSSI")) EmitPropertiesChanged(pistol.path, kDevice1, {}, {"RSSI"});
}

void FakeBluez::ExportGatt(Pistol &pistol) {
  if (pistol.gattExported) return;
  pistol.gattExported = true;
  const bool hidden = pistol.config.misbehaviour.hideService;
  AddObject(pistol.servicePath, {{kService1,
                                  {{"UUID", std::string(hidden ? kBatteryService : kButtonService)},
                                   {"Primary", true},
                                   {"Device", ObjectPath{pistol.path}},
                                   {"Handle", std::uint16_t{0x000a}}}}});
  AddObject(pistol.characteristicPath, {{kCharacteristic1,
                                         {{"UUID", std::string(hidden ? kBatteryLevel : kButtonCharacteristic)},
                                          {"Service", ObjectPath{pistol.servicePath}},
                                          {"Flags", std::vector<std::string>{"notify"}},
                                          {"Notifying", false},
                                          {"Value", std::vector<std::uint8_t>{}},
                                          {"Handle", std::uint16_t{0x000b}}}}});
}

void FakeBluez::LinkDown(Pistol &pistol, const std::string &why) {
  if (!pistol.connected) return;
  pistol.connected = false;
  pistol.subscribers.clear();
  CancelTimer(pistol.dropTimer);
  // BlueZ's order: services first, then the link.
  SetProperties(pistol.path, kDevice1, {{"ServicesResolved", false}});
  SetProperties(pistol.path, kDevice1, {{"Connected", false}});
  if (pistol.gattExported) SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Notifying", false}});
  log_("link down (" + why + "): " + pistol.config.name);
  Changed();
}

static std::uint64_t MonotonicUsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

bool FakeBluez::SendNotification(Pistol &pistol, const std::vector<std::uint8_t> &bytes, const std::string &label) {
  if (!pistol.connected || pistol.subscribers.empty() || pistol.config.misbehaviour.hideService) return false;
  SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Value", bytes}});
  ++counts_.sent[label];
  return true;
}

void FakeBluez::Burst(int index, std::vector<Packet> cycle, int rate, std::chrono::milliseconds duration,
                      std::string timesPath) {
  if (burst_ || cycle.empty() || rate <= 0) {
    log_("burst: refused (one already runs, or nothing to send)");
    return;
  }
  burst_ = std::make_unique<BurstState>();
  burst_->pistol = index;
  burst_->cycle = std::move(cycle);
  burst_->rate = rate;
  burst_->total = static_cast<std::uint64_t>(duration.count()) * static_cast<std::uint64_t>(rate) / 1000u;
  burst_->times.reserve(burst_->total);
  burst_->timesPath = std::move(timesPath);
  burst_->startUsec = MonotonicUsec();
  log_("burst: " + std::to_string(rate) + " a second for " + std::to_string(duration.count()) + " ms");
  if (sd_event_add_time(event_, &burst_->timer, CLOCK_MONOTONIC, burst_->startUsec, 1, &OnBurstTick, this) < 0) {
    FinishBurst();
  }
}

// Sends whatever is due by now, so a late tick catches up and the rate holds.
int FakeBluez::OnBurstTick(sd_event_source *source, std::uint64_t, void *userdata) {
  auto *self = static_cast<FakeBluez *>(userdata);
  BurstState &burst = *self->burst_;
  const auto rate = static_cast<std::uint64_t>(burst.rate);
  const std::uint64_t elapsed = MonotonicUsec() - burst.startUsec;
  const std::uint64_t due = std::min(burst.total, elapsed * rate / 1'000'000u + 1);
  Pistol &pistol = self->pistols_.at(burst.pistol);
  while (burst.sent + burst.notSent < due) {
    const auto &[label, bytes] = burst.cycle[(burst.sent + burst.notSent) % burst.cycle.size()];
    const std::uint64_t now = MonotonicUsec();
    if (self->SendNotification(pistol, bytes, label)) {
      ++burst.sent;
      burst.times.push_back(now);
    } else {
      ++burst.notSent;
    }
  }
  if (burst.sent + burst.notSent >= burst.total) {
    self->FinishBurst();
    return 0;
  }
  sd_event_source_set_time(source, burst.startUsec + (burst.sent + burst.notSent) * 1'000'000u / rate);
  sd_event_source_set_enabled(source, SD_EVENT_ON);
  return 0;
}

void FakeBluez::FinishBurst() {
  auto burst = std::move(burst_);
  sd_event_source_disable_unref(burst->timer);
  if (!burst->timesPath.empty()) {
    if (FILE *file = std::fopen(burst->timesPath.c_str(), "w")) {
      for (const std::uint64_t t : burst->times) std::fprintf(file, "%llu\n", static_cast<unsigned long long>(t));
      std::fclose(file);
    }
  }
  counts_.notSent += static_cast<int>(burst->notSent);
  const double seconds = static_cast<double>(MonotonicUsec() - burst->startUsec) / 1e6;
  char line[160];
  std::snprintf(line, sizeof line, "burst done: sent %llu, not sent %llu, in %.3f s",
                static_cast<unsigned long long>(burst->sent), static_cast<unsigned long long>(burst->notSent), seconds);
  log_(line);
}

void FakeBluez::Send(int index, const std::vector<std::uint8_t> &bytes, const std::string &label) {
  Pistol &pistol = pistols_.at(index);
  if (!pistol.connected || pistol.subscribers.empty() || pistol.config.misbehaviour.hideService) {
    ++counts_.notSent;
    log_(label + ": not sent, no subscriber (" + Hex(bytes) + ")");
    return;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Value", bytes}});
  ++counts_.sent[label];
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " (mono %lld.%06ld)", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
  log_(label + ": sent " + Hex(bytes) + stamp);
}

void FakeBluez::Drop(int index) {
  Pistol &pistol = pistols_.at(index);
  pistol.visible = false;
  ++counts_.drops;
  if (pistol.connected) {
    LinkDown(pistol, "out of range");
  } else {
    log_("out of range: " + pistol.config.name);
  }
  InvalidateRssi(pistol);
}

void FakeBluez::Reappear(int index) {
  Pistol &pistol = pistols_.at(index);
  pistol.visible = true;
  log_("back in range: " + pistol.config.name);
}

void FakeBluez::SetFlag(int index, const std::string &flag, bool on) {
  Misbehaviour &m = pistols_.at(index).config.misbehaviour;
  if (flag == "refuse-connect") m.refuseConnect = on;
  if (flag == "hang-connect") m.hangConnect = on;
  if (flag == "hide-service") m.hideService = on;
  if (flag == "fail-notify") m.failNotify = on;
  log_(flag + (on ? " on" : " off") + ": " + pistols_.at(index).config.name);
}

void FakeBluez::ForgetAll() {
  for (auto &pistol : pistols_) {
    CancelTimer(pistol.dropTimer);
    pistol.connected = pistol.known = pistol.gattExported = pistol.announced = false;
    pistol.subscribers.clear();
    if (pistol.hungConnect) {
      sd_bus_reply_method_errorf(pistol.hungConnect.get(), error_name::kNoReply, "Service gone");
      pistol.hungConnect = sdbus::Message();
    }
  }
  discoverySessions_.clear();
}

void FakeBluez::StopService() {
  if (!serviceUp_) return;
  sd_bus_release_name(bus_, kBluezName);
  serviceUp_ = false;
  ForgetAll();
  objects_.clear();
  for (auto &call : stalledCalls_) {
    sd_bus_reply_method_errorf(call.message.get(), error_name::kNoReply, "Service gone");
  }
  stalledCalls_.clear();
  log_("service stopped: org.bluez released");
  Changed();
}

void FakeBluez::StartService() {
  if (serviceUp_) return;
  if (adapter_.present) objects_[adapterPath_][kAdapter1] = AdapterProperties(adapter_.powered);
  const int r = sd_bus_request_name(bus_, kBluezName, 0);
  serviceUp_ = r >= 0;
  log_(serviceUp_ ? "service started: org.bluez taken" : "service start failed: " + std::string(strerror(-r)));
  Changed();
}

void FakeBluez::RemoveAdapter() {
  if (!adapter_.present) return;
  adapter_.present = false;
  // BlueZ drops the adapter's devices, with their GATT objects, before the adapter.
  for (auto &pistol : pistols_) {
    if (pistol.gattExported) {
      RemoveObject(pistol.characteristicPath);
      RemoveObject(pistol.servicePath);
    }
    if (pistol.known) RemoveObject(pistol.path);
  }
  ForgetAll();
  RemoveObject(adapterPath_);
  log_("adapter removed: " + adapterPath_);
  Changed();
}

void FakeBluez::AddAdapter() {
  if (adapter_.present) return;
  adapter_.present = true;
  AddObject(adapterPath_, {{kAdapter1, AdapterProperties(adapter_.powered)}});
  log_("adapter added: " + adapterPath_);
  Changed();
}

void FakeBluez::SetPowered(bool on) {
  if (!adapter_.present || adapter_.powered == on) return;
  adapter_.powered = on;
  Properties changed = {{"Powered", on}};
  if (!on) {
    for (auto &pistol : pistols_) LinkDown(pistol, "powered off");
    // BlueZ reports the end of discovery in the same signal as the power.
    if (Discovering()) changed["Discovering"] = false;
    discoverySessions_.clear();
    for (auto &pistol : pistols_) InvalidateRssi(pistol);
  }
  SetProperties(adapterPath_, kAdapter1, changed);
  log_(on ? "powered on" : "powered off");
  Changed();
}

void FakeBluez::Stall(const std::string &member, bool on) {
  if (on) {
    stalled_.insert(member);
    log_("stalling " + member);
    return;
  }
  stalled_.erase(member);
  log_("answering " + member);
  std::vector<StalledCall> kept;
  std::erase_if(stalledCalls_, [&](StalledCall &call) {
    if (call.member != member) return false;
    kept.push_back(std::move(call));
    return true;
  });
  for (auto &call : kept) {
    const int r = OnMessage(call.message.get(), this, nullptr);
    // What sd-bus itself answers for a call no handler took.
    if (r == 0) {
      sd_bus_reply_method_errorf(call.message.get(), error_name::kUnknownObject, "Unknown object");
    } else if (r < 0) {
      sd_bus_reply_method_errno(call.message.get(), r, nullptr);
    }
  }
}

bool FakeBluez::StalledNotify(const std::string &client, const std::string &path) const {
  for (const auto &call : stalledCalls_) {
    if (call.member == "StartNotify" && call.client == client && call.path == path) return true;
  }
  return false;
}

FakeBluez::Pistol *FakeBluez::PistolAt(const std::string &path, bool characteristic) {
  for (auto &pistol : pistols_) {
    if ((characteristic ? pistol.characteristicPath : pistol.path) == path) return &pistol;
  }
  return nullptr;
}

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
    if (Pistol *pistol = self->PistolAt(path, false)) return self->HandleDevice(m, *pistol, member);
  }
  if (interface == kCharacteristic1) {
    if (Pistol *pistol = self->PistolAt(path, true)) return self->HandleCharacteristic(m, *pistol, member);
  }
  return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No method %s", member.c_str());
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
        if (pistol.visible && !pistol.connected) Advertise(pistol);
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
    Pistol *pistol = PistolAt(path, false);
    if (!pistol || !pistol->known) {
      return sd_bus_reply_method_errorf(m, error_name::kDoesNotExist, "Does Not Exist");
    }
    LinkDown(*pistol, "device removed");
    if (pistol->gattExported) {
      RemoveObject(pistol->characteristicPath);
      RemoveObject(pistol->servicePath);
    }
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
    SetProperties(pistol.path, kDevice1, {{"Connected", true}});
    const int r = sd_bus_reply_method_return(m, "");
    log_("connected: " + pistol.config.name);
    // Services are resolved shortly after the link is up, as with a real peer.
    const std::string path = pistol.path;
    After(30, [this, path] {
      Pistol *p = PistolAt(path, false);
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
            if (Pistol *p = PistolAt(path, false)) {
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
    const int r = sd_bus_reply_method_return(m, "");
    LinkDown(pistol, "Disconnect");
    return r;
  }
  return sd_bus_reply_method_errorf(m, error_name::kUnknownMethod, "No method %s", member.c_str());
}

int FakeBluez::HandleCharacteristic(sd_bus_message *m, Pistol &pistol, const std::string &member) {
  const std::string client = Sender(m);
  if (member == "StartNotify") {
    if (!pistol.connected) return sd_bus_reply_method_errorf(m, error_name::kFailed, "Not connected");
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
