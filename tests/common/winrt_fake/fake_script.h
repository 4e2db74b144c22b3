#pragma once

// The fake class module's script: what tests asked for through the exported
// FakeBle* functions, the pistols they added, the thread the fake raises its
// events on, and its counters. Test code: it locks freely.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ble/winrt/abi.h"

namespace fake {

using namespace winrt_abi;
using namespace std::chrono_literals;

constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);
constexpr HRESULT kIllegalDelegateAssignment = static_cast<HRESULT>(0x80000018);
constexpr HRESULT kBounds = static_cast<HRESULT>(0x8000000B);
constexpr HRESULT kClosed = static_cast<HRESULT>(0x80000013);
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);
constexpr HRESULT kCanceled = static_cast<HRESULT>(0x800704C7);
constexpr INT32 kRadioNotAvailable = 1;
constexpr HRESULT kDeviceNotAvailable = static_cast<HRESULT>(0x800710DF);
constexpr INT32 kUnreachable = 1;
constexpr GUID kService{0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kCharacteristic{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

extern std::atomic<long> liveObjects;
extern std::atomic<long> canceledOperations;
extern std::atomic<long> activations;

// Runs posted tasks in time order on one thread, started by the first post.
class EventThread {
public:
  void Post(std::function<void()> task, std::chrono::milliseconds delay = 0ms);

private:
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> tasks_;
  bool started_ = false;
};

EventThread &Events();

extern std::mutex scriptMutex;
extern std::map<std::string, HRESULT> refusals;
extern std::set<std::string> neverComplete;
extern std::set<std::string> held;
// Operations held pending, each finished once by FakeBleFinishHeld (status 1
// completes, anything else cancels) or dropped unfinished by a reset.
extern std::vector<std::function<void(INT32 status)>> heldOperations;
// Registrations revoked while a delivery was already under way: each runs
// once with deliver true, or is dropped (deliver false) by a reset.
extern std::atomic<bool> keepLateDeliveries;
extern std::vector<std::function<void(bool deliver)>> lateDeliveries;
extern std::atomic<bool> radioOn;
extern std::atomic<long> uncachedCalls;
extern std::atomic<long> lateAdvertisements;

// How the fake behaves; the defaults are what Windows was seen to do most
// (first discovery fails, lazy connection, slow disconnect), at a tenth of
// its pace so that tests stay quick.
struct Behaviour {
  long timingPercent = 10;              // 0: every answer after 10 ms; 100: Windows' own pace
  long firstDiscoveriesUnreachable = 1; // per device object that has to connect
  bool lazyConnection = true;
  bool blip = false;
  long closeDisconnectMs = 3000; // -1: never
  long closeBlockMs = 0;         // -1: until the next reset
  bool paired = false;
  long radioOffStyle = 0; // 0: Stopped with RadioNotAvailable; 1: Start raises; 2: Aborted without Stopped
  bool lateAdvertisement = false;
  bool scanResponse = false;
  bool lookupNeedsAdvertisement = false;
  bool cancelIgnored = false;
};
// Every call answered at once with success, links made and ended on the spot.
Behaviour Obliging();
Behaviour Current();
// Sets one switch by its exported name; false for a name it does not know.
bool SetBehaviour(const std::string &what, long value);
void ResetBehaviour();

// Windows' time for a call (a range, picked at random), scaled by timingPercent.
std::chrono::milliseconds Pace(std::chrono::milliseconds shortest, std::chrono::milliseconds longest);
// The status scripted for the operation's next answer, or 0 (Success).
INT32 TakeAnswer(const std::string &operation);
void ScriptAnswers(const std::string &operation, INT32 status, int count);
// A Close told to block: returns after `ms`, or at the next reset for -1.
void BlockInClose(long ms);

HRESULT Refusal(const char *operation);
bool NeverCompletes(const char *operation);
bool Holds(const char *operation);
// Adds the operation to the scripted set, or takes it out.
void Mark(std::set<std::string> &set, const char *operation, bool on);

template <class Entry> std::vector<Entry> TakeAll(std::vector<Entry> &list) {
  std::lock_guard lock(scriptMutex);
  return std::exchange(list, {});
}

class Characteristic;
class Device;
extern std::mutex pistolsMutex;
struct Pistol {
  std::wstring name;
  bool connected = false;                            // linked through a device object
  bool heldBySystem = false;                         // paired: the system linked it by itself
  bool heard = false;                                // a watcher (or the system) has heard it
  std::chrono::steady_clock::time_point heldUntil{}; // a slow disconnect after the last Close
  // Linked one way or another: it does not advertise.
  bool LinkUp() const { return connected || heldBySystem || std::chrono::steady_clock::now() < heldUntil; }
  void LoseLink() {
    connected = heldBySystem = false;
    heldUntil = {};
  }
  std::vector<Characteristic *> characteristics; // alive, not owned
  std::vector<Device *> devices;                 // open, not owned
};
extern std::map<UINT64, Pistol> pistols;

} // namespace fake
