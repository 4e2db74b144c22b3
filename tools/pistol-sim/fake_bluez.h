#pragma once

// A stand-in for bluetoothd on a bus: org.bluez with one adapter (hci0) and
// one or more pistols, following the BlueZ D-Bus conventions the backend
// relies on (object paths, property batching, discovery and notify sessions
// per client, GATT objects exported after the first connection and kept).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include "ble/bluez/sdbus.h"

namespace pistolsim {

struct Misbehaviour {
  bool refuseConnect = false; // Connect fails at once
  bool hangConnect = false;   // Connect is never answered (Disconnect ends it)
  bool hideService = false;   // a battery service instead of the button service
  bool failNotify = false;    // StartNotify fails
  int dropAfterMs = 0;        // the link drops this long after each connection
};

struct PistolConfig {
  std::string name;
  std::uint64_t address = 0;
  Misbehaviour misbehaviour;
};

struct AdapterConfig {
  bool present = true;
  bool powered = true;
  int advertisingIntervalMs = 250;
  // As bluetoothd was observed to behave unless ideal is set: Connect answered
  // before Connected is signalled (and mostly never signalled), Disconnect
  // answered only once the link is down, this long after ServicesResolved
  // went false, with StartNotify refused meanwhile; the generic services
  // beside the button service; a peer's drop in one signal; RSSI set to 0
  // when discovery stops; advertising on while linked.
  int disconnectDelayMs = 300;
  // The daemon as its documentation reads: Connected signalled before the
  // Connect reply, Disconnect at once, RSSI invalidated, no advertising while
  // linked, the button service alone.
  bool ideal = false;
};

struct Counts {
  std::map<std::string, int> sent; // by button label
  int notSent = 0;
  int connections = 0;
  int drops = 0;
};

class FakeBluez {
public:
  using Log = std::function<void(const std::string &)>;

  FakeBluez(sd_bus *bus, sd_event *event, AdapterConfig adapter, std::vector<PistolConfig> pistols, Log log);
  ~FakeBluez();
  FakeBluez(const FakeBluez &) = delete;
  FakeBluez &operator=(const FakeBluez &) = delete;

  // Takes the name org.bluez and starts answering; negative errno on failure.
  int Start();

  int PistolCount() const { return static_cast<int>(pistols_.size()); }
  bool Connected(int pistol) const { return pistols_.at(pistol).connected; }
  bool Subscribed(int pistol) const { return !pistols_.at(pistol).subscribers.empty(); }
  void Send(int pistol, const std::vector<std::uint8_t> &bytes, const std::string &label);
  void Drop(int pistol);
  void Reappear(int pistol);
  void SetFlag(int pistol, const std::string &flag, bool on);

  // bluetoothd stopping (or crashing) and starting again: the name org.bluez
  // is released and taken back; everything BlueZ knew is forgotten, and calls
  // left unanswered get the bus's NoReply, as when its connection closes.
  void StopService();
  void StartService();
  // The adapter unplugged (its devices go with it) and plugged back in.
  void RemoveAdapter();
  void AddAdapter();
  // The radio switched off (links and discovery end) and on.
  void SetPowered(bool on);
  // Calls of this member (e.g. StartNotify, GetManagedObjects) are kept and
  // not answered while on; turning it off answers the ones kept.
  void Stall(const std::string &member, bool on);

  // A load: the packets of cycle in turn, rate a second for the duration,
  // each logged only in the summary. When timesPath is set, the monotonic
  // time of each notification sent (microseconds, one a line) is written
  // there before the summary line "burst done: ..." is printed.
  using Packet = std::pair<std::string, std::vector<std::uint8_t>>;
  void Burst(int pistol, std::vector<Packet> cycle, int rate, std::chrono::milliseconds duration,
             std::string timesPath);
  const Counts &counts() const { return counts_; }

  // Called after every change a script may be waiting for.
  std::function<void()> onStateChange;

  struct ObjectPath {
    std::string path;
  };
  using Value = std::variant<bool, std::string, ObjectPath, std::int16_t, std::uint16_t, std::vector<std::string>,
                             std::vector<std::uint8_t>>;
  using Properties = std::map<std::string, Value>;
  using Interfaces = std::map<std::string, Properties>;

private:
  struct Pistol {
    PistolConfig config;
    std::string path;
    std::string servicePath;
    std::string characteristicPath;
    bool visible = true;
    bool known = false;
    bool gattExported = false;
    bool connected = false;
    // Our Disconnect is under way: the link is still up, its services are not.
    bool disconnecting = false;
    std::vector<sdbus::Message> disconnectReplies;
    sd_event_source *disconnectTimer = nullptr;
    // Every GATT object, in the order exported.
    std::vector<std::string> gattPaths;
    bool announced = false;
    std::set<std::string> subscribers;
    sdbus::Message hungConnect;
    sd_event_source *dropTimer = nullptr;
    std::int16_t rssi = -60;
  };

  static int OnMessage(sd_bus_message *m, void *userdata, sd_bus_error *error);
  static int OnNameOwnerChanged(sd_bus_message *m, void *userdata, sd_bus_error *error);
  static int OnAdvertisingTick(sd_event_source *source, std::uint64_t usec, void *userdata);

  int HandleManagedObjects(sd_bus_message *m);
  int HandleProperties(sd_bus_message *m, const std::string &path, const std::string &member);
  int HandleAdapter(sd_bus_message *m, const std::string &member);
  int HandleDevice(sd_bus_message *m, Pistol &pistol, const std::string &member);
  int HandleCharacteristic(sd_bus_message *m, Pistol &pistol, const std::string &member);

  Pistol *PistolWithDevice(const std::string &path);
  Pistol *PistolWithCharacteristic(const std::string &path);
  bool Discovering() const { return !discoverySessions_.empty(); }
  void Advertise(Pistol &pistol);
  void InvalidateRssi(Pistol &pistol);
  void ExportGatt(Pistol &pistol);
  void LinkDown(Pistol &pistol, const std::string &why);
  void LinkUp(Pistol &pistol);
  void BeginDisconnect(Pistol &pistol, sd_bus_message *call);
  void AnswerDisconnects(Pistol &pistol);
  void RemoveGatt(Pistol &pistol);
  bool AdvertisesNow(const Pistol &pistol) const { return pistol.visible && (!pistol.connected || !adapter_.ideal); }
  void ClientGone(const std::string &client);
  void After(int ms, std::function<void()> fn, sd_event_source **handle = nullptr);
  // Ends a timer made by After with a handle.
  static void CancelTimer(sd_event_source *&timer);

  void AddObject(const std::string &path, const Interfaces &interfaces);
  void RemoveObject(const std::string &path);
  void SetProperties(const std::string &path, const std::string &interface, const Properties &changed);
  void EmitPropertiesChanged(const std::string &path, const std::string &interface, const Properties &changed,
                             const std::vector<std::string> &invalidated);
  void Changed();
  void ForgetAll();
  bool SendNotification(Pistol &pistol, const std::vector<std::uint8_t> &bytes, const std::string &label);
  static int OnBurstTick(sd_event_source *source, std::uint64_t usec, void *userdata);
  void FinishBurst();

  struct BurstState {
    int pistol = 0;
    std::vector<Packet> cycle;
    int rate = 0;
    std::uint64_t total = 0;
    std::uint64_t sent = 0;
    std::uint64_t notSent = 0;
    std::uint64_t startUsec = 0;
    std::vector<std::uint64_t> times;
    std::string timesPath;
    sd_event_source *timer = nullptr;
  };
  bool StalledNotify(const std::string &client, const std::string &path) const;

  struct StalledCall {
    std::string member;
    std::string client;
    std::string path;
    sdbus::Message message;
  };

  sd_bus *bus_;
  sd_event *event_;
  AdapterConfig adapter_;
  std::vector<Pistol> pistols_;
  Log log_;
  Counts counts_;
  std::string adapterPath_ = "/org/bluez/hci0";
  std::map<std::string, Interfaces> objects_;
  std::set<std::string> discoverySessions_;
  bool serviceUp_ = false;
  std::set<std::string> stalled_;
  std::vector<StalledCall> stalledCalls_;
  std::unique_ptr<BurstState> burst_;
  sdbus::Slot objectSlot_;
  sdbus::Slot ownerSlot_;
  sd_event_source *tick_ = nullptr;
};

} // namespace pistolsim
