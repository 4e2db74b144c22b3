#include "ble/bluez/bus_session.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>
#include <time.h>

#include "ble/bluez/atomic_pointer.h"
#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_text.h"

namespace ble::bluez {
namespace {

constexpr const char *kBluez = "org.bluez";
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
    if (key == "ServicesResolved" && type == "b") return ReadBool(m, object.servicesResolved);
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

void MarkInterface(std::string_view interface, BluezObject &object) {
  if (interface == kAdapter1) object.isAdapter = true;
  if (interface == kDevice1) object.isDevice = true;
  if (interface == kService1) object.isService = true;
  if (interface == kCharacteristic1) object.isCharacteristic = true;
}

// Reads an a{sv} of the given interface into the object.
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

} // namespace

BusSession::BusSession(sdbus::Bus bus) : bus_(std::move(bus)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

BusSession::~BusSession() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

bool BusSession::Post(std::function<void()> task) {
  if (!posted_.Push(std::move(task))) return false;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
  return true;
}

void BusSession::RequestStop() {
  stopRequested_.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

void BusSession::RunPosted() {
  posted_.RunAll();
}

void BusSession::Run() {
  loopThread_.store(std::this_thread::get_id());
  // Named, so a profile or a load run can find it among the host's threads.
  pthread_setname_np(pthread_self(), "vk5-bluez");
  Start();
  while (!stopRequested_.load()) {
    RunPosted();
    while (RunDueTimers()) {
    }
    if (stopRequested_.load()) break;
    if (!lost_.load()) {
      for (;;) {
        const int r = sd_bus_process(bus_.get(), nullptr);
        if (r < 0) {
          OnBusLost();
          break;
        }
        if (r == 0 || stopRequested_.load()) break;
      }
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    if (!lost_.load()) {
      const int events = sd_bus_get_events(bus_.get());
      if (events >= 0) {
        fds[1] = {sd_bus_get_fd(bus_.get()), static_cast<short>(events), 0};
        count = 2;
      }
    }
    if (poll(fds, count, PollTimeoutMs()) > 0 && (fds[0].revents & POLLIN)) {
      std::uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof value);
    }
  }
  Teardown();
  finished_.store(true);
}

int BusSession::PollTimeoutMs() const {
  long long ms = -1;
  const auto now = std::chrono::steady_clock::now();
  for (const auto &[id, timer] : timers_) {
    const long long left = std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count();
    ms = ms < 0 ? std::max(0LL, left) : std::min(ms, std::max(0LL, left));
  }
  std::uint64_t busTimeout = 0;
  if (!lost_.load() && sd_bus_get_timeout(bus_.get(), &busTimeout) > 0 && busTimeout != UINT64_MAX) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto nowUsec =
        static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
    const auto left = busTimeout > nowUsec ? static_cast<long long>((busTimeout - nowUsec + 999) / 1000) : 0LL;
    ms = ms < 0 ? left : std::min(ms, left);
  }
  return ms < 0 ? -1 : static_cast<int>(std::min<long long>(ms, INT_MAX));
}

bool BusSession::RunDueTimers() {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.due <= now) {
      auto fn = std::move(it->second.fn);
      timers_.erase(it);
      fn();
      return true;
    }
  }
  return false;
}

void BusSession::Start() {
  int r = sd_bus_add_match_async(bus_.get(), bluezMatch_.out(), "type='signal',sender='org.bluez'", &OnBluezSignal,
                                 nullptr, this);
  if (r >= 0) {
    r = sd_bus_add_match_async(bus_.get(), ownerMatch_.out(),
                               "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                               "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'",
                               &OnOwnerChanged, nullptr, this);
  }
  if (r < 0) OnBusLost();
  // Sent after the matches, so no change falls between the snapshot and the signals.
  Refresh([](HRESULT) {});
}

void BusSession::Teardown() {
  // Work handed over before the stop (a last Disconnect) still goes out.
  while (!posted_.TryClose()) RunPosted();
  stopping_ = true;
  auto calls = std::move(calls_);
  for (auto &[id, call] : calls) {
    auto onReply = std::move(call->onReply);
    call.reset();
    onReply(CallOutcome{nullptr, kErrorCancelled, {}});
  }
  auto waiters = std::move(waiters_);
  for (auto &[id, waiter] : waiters) waiter.fn(kErrorCancelled);
  auto notifyWaiters = std::move(notifyWaiters_);
  for (auto &[id, waiter] : notifyWaiters) waiter.fn(kErrorCancelled);
  timers_.clear();
  bluezMatch_ = sdbus::Slot();
  ownerMatch_ = sdbus::Slot();
  bus_.reset();
}

void BusSession::OnBusLost() {
  if (lost_.exchange(true)) return;
  auto calls = std::move(calls_);
  for (auto &[id, call] : calls) {
    auto onReply = std::move(call->onReply);
    call.reset();
    onReply(CallOutcome{nullptr, kErrorNoBus, {}});
  }
  ForgetBluez();
}

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

std::uint64_t BusSession::Call(const std::string &path, const char *interface, const char *member,
                               const Appender &append, std::uint64_t timeoutUsec, ReplyHandler onReply) {
  if (stopping_ || lost_.load()) {
    onReply(CallOutcome{nullptr, stopping_ ? kErrorCancelled : kErrorNoBus, {}});
    return 0;
  }
  sdbus::Message message;
  int r = sd_bus_message_new_method_call(bus_.get(), message.out(), kBluez, path.c_str(), interface, member);
  if (r >= 0 && append) r = append(message.get());
  auto call = std::make_unique<PendingCall>();
  call->session = this;
  call->id = ++nextId_;
  call->onReply = std::move(onReply);
  if (r >= 0) r = sd_bus_call_async(bus_.get(), call->slot.out(), message.get(), &OnReply, call.get(), timeoutUsec);
  if (r < 0) {
    call->onReply(CallOutcome{nullptr, HresultFromErrno(r), {}});
    return 0;
  }
  const std::uint64_t id = call->id;
  calls_.emplace(id, std::move(call));
  return id;
}

void BusSession::CancelCall(std::uint64_t id) {
  calls_.erase(id);
}

int BusSession::OnReply(sd_bus_message *reply, void *userdata, sd_bus_error *) {
  auto *call = static_cast<PendingCall *>(userdata);
  BusSession *self = call->session;
  auto node = self->calls_.extract(call->id);
  if (node.empty()) return 0;
  CallOutcome outcome;
  if (const sd_bus_error *error = sd_bus_message_get_error(reply)) {
    outcome.errorName = error->name ? error->name : "";
    // sd-bus answers pending calls itself when the connection closes.
    outcome.code = sd_bus_is_open(self->bus_.get()) > 0 ? HresultFromBusError(outcome.errorName) : kErrorNoBus;
  } else {
    outcome.reply = reply;
  }
  auto onReply = std::move(node.mapped()->onReply);
  onReply(outcome);
  return 0;
}

std::uint64_t BusSession::AddTimer(std::chrono::milliseconds delay, std::function<void()> fn) {
  const std::uint64_t id = ++nextId_;
  timers_.emplace(id, Timer{std::chrono::steady_clock::now() + delay, std::move(fn)});
  return id;
}

void BusSession::CancelTimer(std::uint64_t id) {
  timers_.erase(id);
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

namespace {

// Every loop thread, from its start. The module must not be unloaded while
// one runs, yet a connection can end on its own loop thread (a handler or a
// reply held the last reference), where it cannot be joined. Such threads
// stay here until a later connection, or this object's destructor at unload,
// joins them.
//
// Each slot holds one entry or nothing. Whoever swaps an entry out of its slot
// owns it and is the only one to join its thread; the shared pointers keep an
// entry readable by other scanners while that happens, and a compared pointer
// cannot be reused while it is held (no ABA).
class LoopThreads {
public:
  static constexpr std::size_t kSlots = 64;

  ~LoopThreads() {
    for (auto &slot : slots_) {
      auto entry = slot.Exchange(nullptr);
      if (!entry || entry == reserved_) continue;
      entry->session->RequestStop();
      if (entry->id != std::this_thread::get_id()) {
        entry->thread.join();
      } else {
        entry->thread.detach();
      }
    }
  }

  // A slot for a thread about to start; raises when every slot is taken.
  std::size_t Reserve() {
    for (std::size_t i = 0; i < kSlots; ++i) {
      std::shared_ptr<Entry> empty;
      if (slots_[i].CompareExchange(empty, reserved_)) {
        return i;
      }
    }
    raise_platform_error(kErrorBusy);
  }
  void Unreserve(std::size_t slot) { slots_[slot].Store(nullptr); }

  void Add(std::size_t slot, std::shared_ptr<BusSession> session, std::thread thread) {
    auto entry = std::make_shared<Entry>();
    entry->session = std::move(session);
    entry->id = thread.get_id();
    entry->thread = std::move(thread);
    slots_[slot].Store(std::move(entry));
  }

  // Joins the session's thread, unless called on it.
  void Finish(const BusSession *session) {
    for (auto &slot : slots_) {
      auto entry = slot.Load();
      if (!entry || entry == reserved_ || entry->session.get() != session) continue;
      if (entry->id == std::this_thread::get_id()) return;
      // Lost only to JoinEnded, which then joins it.
      if (slot.CompareExchange(entry, nullptr)) {
        entry->thread.join();
      }
      return;
    }
  }

  // Joins the threads whose loop has ended.
  void JoinEnded() {
    for (auto &slot : slots_) {
      auto entry = slot.Load();
      if (!entry || entry == reserved_ || !entry->session->Finished() || entry->id == std::this_thread::get_id()) {
        continue;
      }
      if (slot.CompareExchange(entry, nullptr)) {
        entry->thread.join();
      }
    }
  }

private:
  struct Entry {
    std::shared_ptr<BusSession> session;
    // Set before the entry is published; thread itself is touched only by the
    // one that took the entry out.
    std::thread::id id;
    std::thread thread;
  };
  const std::shared_ptr<Entry> reserved_ = std::make_shared<Entry>();
  std::array<AtomicPointer<std::shared_ptr<Entry>>, kSlots> slots_{};
};

LoopThreads &loopThreads() {
  static LoopThreads threads;
  return threads;
}

} // namespace

std::shared_ptr<BusConnection> BusConnection::Open(const std::string &address) {
  loopThreads().JoinEnded();
  sdbus::Bus bus;
  const int r = sdbus::Bus::Open(address, bus);
  if (r < 0) raise_platform_error(HresultFromErrno(r) == kEFail ? kErrorNoBus : HresultFromErrno(r));
  std::shared_ptr<BusConnection> connection(new BusConnection());
  connection->session_ = std::make_shared<BusSession>(std::move(bus));
  // Reserved first, so a started thread always has a place to be joined from.
  const std::size_t slot = loopThreads().Reserve();
  std::thread thread;
  try {
    thread = std::thread([session = connection->session_] { session->Run(); });
  } catch (...) {
    loopThreads().Unreserve(slot);
    throw;
  }
  loopThreads().Add(slot, connection->session_, std::move(thread));
  return connection;
}

BusConnection::~BusConnection() {
  session_->RequestStop();
  loopThreads().Finish(session_.get());
}

} // namespace ble::bluez
