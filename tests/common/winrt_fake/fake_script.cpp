#include "tests/common/winrt_fake/fake_script.h"

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
