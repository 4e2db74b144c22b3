#pragma once

// One bus connection to BlueZ and the thread that runs it. sd-bus objects are
// not thread-safe, so everything that touches the bus, the object map and the
// listener lists runs on the loop thread; other threads hand work over with
// Post. Members marked "loop thread" must only be used there.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ble/bluez/post_queue.h"
#include "ble/bluez/sdbus.h"
#include "support/platform_error.h"

namespace ble::bluez {

// What the backend keeps of one BlueZ object.
struct BluezObject {
  bool isAdapter = false;
  bool powered = false;
  bool discovering = false;

  bool isDevice = false;
  std::string address;
  std::optional<std::string> name;
  bool connected = false;
  bool servicesResolved = false;
  // RSSI is present only while the device is seen in a running discovery.
  bool seen = false;

  bool isService = false;
  bool isCharacteristic = false;
  bool notifying = false;
  std::string uuid;
  // The owning device (of a service) or service (of a characteristic).
  std::string owner;

  bool Empty() const { return !isAdapter && !isDevice && !isService && !isCharacteristic; }
};

// The end of a method call. reply is valid only during the callback.
struct CallOutcome {
  sd_bus_message *reply = nullptr;
  HRESULT code = kSOk;
  std::string errorName;
};

// Receivers of the loop thread's events; held weakly, so a dropped object
// simply stops receiving.
class DiscoveryListener {
public:
  virtual ~DiscoveryListener() = default;
  virtual void OnAdvertisement(const std::string &name, std::uint64_t address) = 0;
  // present false: the adapter, BlueZ or the bus is gone.
  virtual void OnAdapterState(bool present, bool powered, bool discovering) = 0;
};

class DeviceListener {
public:
  virtual ~DeviceListener() = default;
  // object is null when the device, BlueZ or the bus is gone.
  virtual void OnDeviceState(const BluezObject *object) = 0;
};

class ValueListener {
public:
  virtual ~ValueListener() = default;
  virtual void OnValue(const std::vector<std::uint8_t> &bytes) = 0;
};

class BusSession {
public:
  using Appender = std::function<int(sd_bus_message *)>;
  using ReplyHandler = std::function<void(const CallOutcome &)>;

  static constexpr std::uint64_t kShortCallUsec = 5'000'000;
  // Above the kernel's 20 s LE connect attempt, so BlueZ answers first.
  static constexpr std::uint64_t kConnectCallUsec = 35'000'000;

  explicit BusSession(sdbus::Bus bus);
  ~BusSession();
  BusSession(const BusSession &) = delete;
  BusSession &operator=(const BusSession &) = delete;

  // Thread body: runs until RequestStop, then sends what is queued and closes.
  void Run();
  void RequestStop();

  // Any thread. False once the loop has ended: the task will never run.
  bool Post(std::function<void()> task);
  bool OnLoopThread() const { return loopThread_.load() == std::this_thread::get_id(); }
  // The bus connection has failed; a new session is needed.
  bool Lost() const { return lost_.load(); }
  // Run has returned or is about to.
  bool Finished() const { return finished_.load(); }

  // Loop thread. A method call on org.bluez; onReply runs exactly once unless
  // the call is cancelled. Returns the id for CancelCall (0: already answered).
  std::uint64_t Call(const std::string &path, const char *interface, const char *member, const Appender &append,
                     std::uint64_t timeoutUsec, ReplyHandler onReply);
  // Loop thread. Drops the call: its reply, if it ever comes, is ignored.
  void CancelCall(std::uint64_t id);

  // Loop thread. Runs fn once after the delay, unless cancelled.
  std::uint64_t AddTimer(std::chrono::milliseconds delay, std::function<void()> fn);
  void CancelTimer(std::uint64_t id);

  // Loop thread. Reloads the object map; done gets 0 or the failure code.
  void Refresh(std::function<void(HRESULT)> done);
  // Loop thread. The adapter in use (empty: none) and the objects known.
  const std::string &AdapterPath() const { return adapterPath_; }
  const BluezObject *Find(const std::string &path) const;
  // Paths of objects whose owner is the given path and that match the filter, in path order.
  std::vector<std::string> Children(const std::string &owner, bool services) const;
  // Name and address of each device under the adapter that a running
  // discovery currently sees.
  std::vector<std::pair<std::string, std::uint64_t>> SeenDevices() const;
  // The device object for an address: under the adapter in use if there, else
  // under any adapter; empty when BlueZ knows none.
  std::string DevicePathFor(std::uint64_t address) const;

  // Loop thread. fn(0) once ServicesResolved is true for the device, fn(code)
  // if it disconnects, vanishes or the session ends first.
  std::uint64_t WhenServicesResolved(const std::string &devicePath, std::function<void(HRESULT)> fn);
  void CancelWhenServicesResolved(std::uint64_t id);

  // Loop thread. fn(0) once the characteristic's Notifying is true, fn(code)
  // if the characteristic vanishes or the session ends first.
  std::uint64_t WhenNotifying(const std::string &characteristicPath, std::function<void(HRESULT)> fn);
  void CancelWhenNotifying(std::uint64_t id);

  // Loop thread. Device objects handed out for one BlueZ device share its
  // link: each holds the path while open, and only the last to let go may
  // end the link. ReleaseDevicePath is true for that last one.
  void HoldDevicePath(const std::string &devicePath);
  bool ReleaseDevicePath(const std::string &devicePath);

  // Loop thread.
  void AddListener(std::weak_ptr<DiscoveryListener> listener);
  void AddListener(const std::string &devicePath, std::weak_ptr<DeviceListener> listener);
  void AddListener(const std::string &characteristicPath, std::weak_ptr<ValueListener> listener);

private:
  struct PendingCall {
    BusSession *session = nullptr;
    std::uint64_t id = 0;
    sdbus::Slot slot;
    ReplyHandler onReply;
  };
  struct Timer {
    std::chrono::steady_clock::time_point due;
    std::function<void()> fn;
  };
  struct ResolveWaiter {
    std::string path;
    std::function<void(HRESULT)> fn;
  };

  static int OnReply(sd_bus_message *reply, void *userdata, sd_bus_error *error);
  static int OnBluezSignal(sd_bus_message *message, void *userdata, sd_bus_error *error);
  static int OnOwnerChanged(sd_bus_message *message, void *userdata, sd_bus_error *error);

  void Start();
  void RunPosted();
  bool RunDueTimers();
  int PollTimeoutMs() const;
  void OnBusLost();
  void Teardown();
  void ChooseAdapter();
  void ForgetBluez();

  int HandleInterfacesAdded(sd_bus_message *message);
  int HandleInterfacesRemoved(sd_bus_message *message);
  int HandlePropertiesChanged(sd_bus_message *message);
  void Advertise(const std::string &path);
  void NotifyAdapter();
  void NotifyDevice(const std::string &path);
  void SettleWaiters(const std::string &path);
  void SettleNotifyWaiters();
  void ForgetUnder(const std::string &adapterPath);

  sdbus::Bus bus_;
  int wakeFd_ = -1;
  std::atomic<std::thread::id> loopThread_{};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> finished_{false};

  PostQueue posted_;

  // Loop thread from here on.
  bool stopping_ = false;
  std::uint64_t nextId_ = 0;
  std::map<std::uint64_t, std::unique_ptr<PendingCall>> calls_;
  std::map<std::uint64_t, Timer> timers_;
  std::map<std::uint64_t, ResolveWaiter> waiters_;
  std::map<std::uint64_t, ResolveWaiter> notifyWaiters_;
  std::map<std::string, int> deviceHolders_;
  sdbus::Slot bluezMatch_;
  sdbus::Slot ownerMatch_;

  std::map<std::string, BluezObject> objects_;
  std::string adapterPath_;

  std::vector<std::weak_ptr<DiscoveryListener>> discoveryListeners_;
  std::multimap<std::string, std::weak_ptr<DeviceListener>> deviceListeners_;
  std::multimap<std::string, std::weak_ptr<ValueListener>> valueListeners_;
};

// The owner's handle on a session: opening it starts the loop thread, and
// dropping the last handle stops it (and joins it, unless that happens on the
// loop thread itself). Every object the backend hands out holds one, so the
// connection lives as long as they do.
class BusConnection {
public:
  // Raises the no-bus code (bluez_error.h) when the bus cannot be reached.
  static std::shared_ptr<BusConnection> Open(const std::string &address);
  ~BusConnection();
  BusConnection(const BusConnection &) = delete;
  BusConnection &operator=(const BusConnection &) = delete;

  BusSession &session() const { return *session_; }
  std::weak_ptr<BusSession> weak() const { return session_; }

private:
  BusConnection() = default;
  std::shared_ptr<BusSession> session_;
};

} // namespace ble::bluez
