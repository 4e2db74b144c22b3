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
using ble::bluez::kService1;
namespace error_name = ble::bluez::error_name;
constexpr const char *kButtonService = "0000fff0-0000-1000-8000-00805f9b34fb";
constexpr const char *kButtonCharacteristic = "0000fff1-0000-1000-8000-00805f9b34fb";
constexpr const char *kBatteryService = "0000180f-0000-1000-8000-00805f9b34fb";
constexpr const char *kBatteryLevel = "00002a19-0000-1000-8000-00805f9b34fb";

// What a real peer's tree holds beside its own service: generic access,
// generic attribute and device information, each with one characteristic.
struct GenericService {
  std::uint16_t handle;
  const char *service;
  const char *characteristic;
  const char *flags;
};
constexpr GenericService kGenericServices[] = {
    {0x0001, "00001800-0000-1000-8000-00805f9b34fb", "00002a00-0000-1000-8000-00805f9b34fb", "read"},
    {0x0005, "00001801-0000-1000-8000-00805f9b34fb", "00002a05-0000-1000-8000-00805f9b34fb", "indicate"},
    {0x000e, "0000180a-0000-1000-8000-00805f9b34fb", "00002a29-0000-1000-8000-00805f9b34fb", "read"},
};

std::string HandleText(const char *kind, std::uint16_t handle) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%04x", kind, handle);
  return text;
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
void FakeBluez::CancelTimer(sd_event_source *&timer) {
  if (!timer) return;
  sd_event_source_set_enabled(timer, SD_EVENT_OFF);
  sd_event_source_unref(timer);
  timer = sd_event_source_unref(timer);
}

FakeBluez::~FakeBluez() {
  if (burst_) sd_event_source_disable_unref(burst_->timer);
  for (auto &pistol : pistols_) {
    CancelTimer(pistol.dropTimer);
    CancelTimer(pistol.disconnectTimer);
  }
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
      if (self->AdvertisesNow(pistol)) self->Advertise(pistol);
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
  if (adapter_.ideal) {
    if (device.erase("RSSI")) EmitPropertiesChanged(pistol.path, kDevice1, {}, {"RSSI"});
    return;
  }
  // bluetoothd keeps the property and sets it to 0.
  const auto rssi = device.find("RSSI");
  if (rssi != device.end() && std::get<std::int16_t>(rssi->second) != 0) {
    SetProperties(pistol.path, kDevice1, {{"RSSI", std::int16_t{0}}});
  }
}

void FakeBluez::ExportGatt(Pistol &pistol) {
  if (pistol.gattExported) return;
  pistol.gattExported = true;
  const bool hidden = pistol.config.misbehaviour.hideService;
  auto addGeneric = [&](const GenericService &generic) {
    const std::string service = pistol.path + "/" + HandleText("service", generic.handle);
    const std::string characteristic =
        service + "/" + HandleText("char", static_cast<std::uint16_t>(generic.handle + 1));
    AddObject(service, {{kService1,
                         {{"UUID", std::string(generic.service)},
                          {"Primary", true},
                          {"Device", ObjectPath{pistol.path}},
                          {"Handle", generic.handle}}}});
    AddObject(characteristic, {{kCharacteristic1,
                                {{"UUID", std::string(generic.characteristic)},
                                 {"Service", ObjectPath{service}},
                                 {"Flags", std::vector<std::string>{generic.flags}},
                                 {"Handle", static_cast<std::uint16_t>(generic.handle + 1)}}}});
    pistol.gattPaths.push_back(service);
    pistol.gattPaths.push_back(characteristic);
  };
  // In handle order, as bluetoothd exports them.
  if (!adapter_.ideal) {
    addGeneric(kGenericServices[0]);
    addGeneric(kGenericServices[1]);
  }
  pistol.gattPaths.push_back(pistol.servicePath);
  pistol.gattPaths.push_back(pistol.characteristicPath);
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
  if (!adapter_.ideal) addGeneric(kGenericServices[2]);
}

void FakeBluez::RemoveGatt(Pistol &pistol) {
  for (auto it = pistol.gattPaths.rbegin(); it != pistol.gattPaths.rend(); ++it) RemoveObject(*it);
  pistol.gattPaths.clear();
  pistol.gattExported = false;
}

void FakeBluez::LinkDown(Pistol &pistol, const std::string &why) {
  if (!pistol.connected) return;
  const bool servicesWereResolved = !pistol.disconnecting;
  pistol.connected = false;
  pistol.disconnecting = false;
  pistol.subscribers.clear();
  CancelTimer(pistol.dropTimer);
  CancelTimer(pistol.disconnectTimer);
  if (adapter_.ideal) {
    // The documented order: services first, then the link.
    SetProperties(pistol.path, kDevice1, {{"ServicesResolved", false}});
    SetProperties(pistol.path, kDevice1, {{"Connected", false}});
  } else if (servicesWereResolved) {
    // bluetoothd batches both into one signal when the link just goes.
    SetProperties(pistol.path, kDevice1, {{"ServicesResolved", false}, {"Connected", false}});
  } else {
    SetProperties(pistol.path, kDevice1, {{"Connected", false}});
  }
  if (pistol.gattExported) SetProperties(pistol.characteristicPath, kCharacteristic1, {{"Notifying", false}});
  log_("link down (" + why + "): " + pistol.config.name);
  AnswerDisconnects(pistol);
  Changed();
}

static std::uint64_t MonotonicUsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

bool FakeBluez::SendNotification(Pistol &pistol, const std::vector<std::uint8_t> &bytes, const std::string &label) {
  if (!pistol.connected || pistol.disconnecting || pistol.subscribers.empty() || pistol.config.misbehaviour.hideService)
    return false;
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
  if (!pistol.connected || pistol.disconnecting || pistol.subscribers.empty() ||
      pistol.config.misbehaviour.hideService) {
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
    CancelTimer(pistol.disconnectTimer);
    pistol.connected = pistol.known = pistol.gattExported = pistol.announced = false;
    pistol.subscribers.clear();
    if (pistol.hungConnect) {
      sd_bus_reply_method_errorf(pistol.hungConnect.get(), error_name::kNoReply, "Service gone");
      pistol.hungConnect = sdbus::Message();
    }
    pistol.disconnecting = false;
    for (auto &reply : pistol.disconnectReplies) {
      sd_bus_reply_method_errorf(reply.get(), error_name::kNoReply, "Service gone");
    }
    pistol.disconnectReplies.clear();
    pistol.gattPaths.clear();
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
    RemoveGatt(pistol);
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

} // namespace pistolsim
