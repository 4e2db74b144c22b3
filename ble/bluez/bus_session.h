#pragma once

// One bus connection to BlueZ and the loop that runs it. sd-bus objects are
// not thread-safe, so everything that touches the bus, the object map and the
// listener lists runs on the loop thread; other threads hand work over with
// Post. Members marked "loop thread" must only be used there.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "ble/bluez/bluez_events.h"
#include "ble/bluez/bluez_objects.h"
#include "ble/bluez/bluez_tracker.h"
#include "ble/bluez/post_queue.h"
#include "ble/bluez/sdbus.h"
#include "support/platform_error.h"

namespace ble::bluez {

// The end of a method call. reply is valid only during the callback.
struct CallOutcome {
  sd_bus_message *reply = nullptr;
  HRESULT code = kSOk;
  std::string errorName;
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

  // Loop thread. A method call on BlueZ; onReply runs exactly once unless
  // the call is cancelled. Returns the id for CancelCall (0: already answered).
  std::uint64_t Call(const std::string &path, const char *interface, const char *member, const Appender &append,
                     std::uint64_t timeoutUsec, ReplyHandler onReply);
  // Loop thread. Drops the call: its reply, if it ever comes, is ignored.
  void CancelCall(std::uint64_t id);

  // Loop thread. Runs fn once after the delay, unless cancelled.
  std::uint64_t AddTimer(std::chrono::milliseconds delay, std::function<void()> fn);
  void CancelTimer(std::uint64_t id);

  // Loop thread. The session is closing: nothing new is started.
  bool Stopping() const { return stopping_; }

  // Loop thread. BlueZ's objects as last reported, and who hears of changes.
  ObjectMap &objects() { return tracker_.map(); }
  BluezEvents &events() { return tracker_.events(); }
  // Loop thread. Reloads the object map; done gets 0 or the failure code.
  void Refresh(std::function<void(HRESULT)> done) { tracker_.Refresh(std::move(done)); }
  // Loop thread. Reads a device's properties back into the map.
  void ReadBackDevice(const std::string &devicePath, std::function<void(HRESULT)> done) {
    tracker_.ReadBackDevice(devicePath, std::move(done));
  }
  // Loop thread. Asks BlueZ to end the device's link; until it has, and the
  // device no longer reports connected, objects().Disconnecting holds.
  void Disconnect(const std::string &devicePath);

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

  static int OnReply(sd_bus_message *reply, void *userdata, sd_bus_error *error);

  void Wake();
  void Start();
  void RunPosted();
  bool RunDueTimers();
  int PollTimeoutMs() const;
  void OnBusLost();
  void Teardown();
  void AnswerAllCalls(HRESULT code);

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
  BluezTracker tracker_{*this, lost_};
};

} // namespace ble::bluez
