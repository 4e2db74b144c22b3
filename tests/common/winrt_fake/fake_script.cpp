#include "tests/common/winrt_fake/fake_script.h"

#include <algorithm>
#include <deque>
#include <random>
#include <thread>

namespace fake {

std::atomic<long> liveObjects{0};
std::atomic<long> canceledOperations{0};
std::atomic<long> activations{0};

// ------------------------------------------------------------ event thread

void EventThread::Post(std::function<void()> task, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  if (!started_) {
    started_ = true;
    std::thread([this] { Run(); }).detach();
  }
  tasks_.emplace(std::chrono::steady_clock::now() + delay, std::move(task));
  changed_.notify_all();
}

void EventThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      changed_.wait(lock);
      continue;
    }
    auto first = tasks_.begin();
    if (first->first > std::chrono::steady_clock::now()) {
      changed_.wait_until(lock, first->first);
      continue;
    }
    std::function<void()> task = std::move(first->second);
    tasks_.erase(first);
    lock.unlock();
    task();
    lock.lock();
  }
}

EventThread &Events() {
  static auto *events = new EventThread; // lives as long as the process: its thread never ends
  return *events;
}

// ------------------------------------------------------------ script

std::mutex scriptMutex;
std::map<std::string, HRESULT> refusals;
std::set<std::string> neverComplete;
std::set<std::string> held;
std::vector<std::function<void(INT32 status)>> heldOperations;
std::atomic<bool> keepLateDeliveries{false};
std::vector<std::function<void(bool deliver)>> lateDeliveries;
std::atomic<bool> radioOn{true};
std::atomic<long> uncachedCalls{0};
std::atomic<long> lateAdvertisements{0};

namespace {
Behaviour behaviour; // under scriptMutex
std::map<std::string, std::deque<INT32>> answers;
std::minstd_rand randomPace{21};
long resetGeneration = 0;
std::condition_variable closeReleased;
} // namespace

Behaviour Obliging() {
  Behaviour obliging;
  obliging.timingPercent = 0;
  obliging.firstDiscoveriesUnreachable = 0;
  obliging.lazyConnection = false;
  obliging.closeDisconnectMs = 0;
  return obliging;
}

Behaviour Current() {
  std::lock_guard lock(scriptMutex);
  return behaviour;
}

bool SetBehaviour(const std::string &what, long value) {
  std::lock_guard lock(scriptMutex);
  Behaviour &b = behaviour;
  if (what == "windows")
    b = value ? Behaviour{} : Obliging();
  else if (what == "timing_percent")
    b.timingPercent = value;
  else if (what == "first_discoveries_unreachable")
    b.firstDiscoveriesUnreachable = value;
  else if (what == "lazy_connection")
    b.lazyConnection = value != 0;
  else if (what == "blip")
    b.blip = value != 0;
  else if (what == "close_disconnect_ms")
    b.closeDisconnectMs = value;
  else if (what == "close_block_ms")
    b.closeBlockMs = value;
  else if (what == "paired")
    b.paired = value != 0;
  else if (what == "radio_off_style")
    b.radioOffStyle = value;
  else if (what == "late_advertisement")
    b.lateAdvertisement = value != 0;
  else if (what == "scan_response")
    b.scanResponse = value != 0;
  else if (what == "lookup_needs_advertisement")
    b.lookupNeedsAdvertisement = value != 0;
  else if (what == "cancel_ignored")
    b.cancelIgnored = value != 0;
  else
    return false;
  return true;
}

void ResetBehaviour() {
  {
    std::lock_guard lock(scriptMutex);
    behaviour = Behaviour{};
    answers.clear();
    ++resetGeneration;
  }
  closeReleased.notify_all();
}

std::chrono::milliseconds Pace(std::chrono::milliseconds shortest, std::chrono::milliseconds longest) {
  std::lock_guard lock(scriptMutex);
  if (behaviour.timingPercent <= 0) return 10ms;
  std::uniform_int_distribution<long> pick(static_cast<long>(shortest.count()), static_cast<long>(longest.count()));
  return std::chrono::milliseconds(std::max(1L, pick(randomPace) * behaviour.timingPercent / 100));
}

INT32 TakeAnswer(const std::string &operation) {
  std::lock_guard lock(scriptMutex);
  auto found = answers.find(operation);
  if (found == answers.end() || found->second.empty()) return 0;
  const INT32 status = found->second.front();
  found->second.pop_front();
  return status;
}

void ScriptAnswers(const std::string &operation, INT32 status, int count) {
  std::lock_guard lock(scriptMutex);
  auto &queue = answers[operation];
  for (int i = 0; i < count; ++i) queue.push_back(status);
}

void BlockInClose(long ms) {
  std::unique_lock lock(scriptMutex);
  const long generation = resetGeneration;
  const auto limit = ms < 0 ? std::chrono::milliseconds(std::chrono::hours(1)) : std::chrono::milliseconds(ms);
  closeReleased.wait_for(lock, limit, [&] { return resetGeneration != generation; });
}

HRESULT Refusal(const char *operation) {
  std::lock_guard lock(scriptMutex);
  auto found = refusals.find(operation);
  return found == refusals.end() ? S_OK : found->second;
}
bool NeverCompletes(const char *operation) {
  std::lock_guard lock(scriptMutex);
  return neverComplete.count(operation) != 0;
}
bool Holds(const char *operation) {
  std::lock_guard lock(scriptMutex);
  return held.count(operation) != 0;
}

void Mark(std::set<std::string> &set, const char *operation, bool on) {
  std::lock_guard lock(scriptMutex);
  if (on)
    set.insert(operation);
  else
    set.erase(operation);
}

// ------------------------------------------------------------ pistols

std::mutex pistolsMutex;
std::map<UINT64, Pistol> pistols;

} // namespace fake
