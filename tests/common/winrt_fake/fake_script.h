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
  bool connected = false;
  std::vector<Characteristic *> characteristics; // alive, not owned
  std::vector<Device *> devices;                 // open, not owned
};
extern std::map<UINT64, Pistol> pistols;

} // namespace fake
