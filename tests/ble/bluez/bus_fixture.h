#pragma once

// Real processes for the backend's tests: a private dbus-daemon, and a peer on
// it (the pistol simulator or python-dbusmock) whose output can be awaited.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ble/bluez/bluez_adapter.h"

namespace bluez_test {

using namespace std::chrono_literals;

// A child process with its standard output read line by line.
class Process {
public:
  // What becomes of the child's standard error.
  enum class Errors { Shown, Discarded };

  Process(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
          Errors errors = Errors::Shown);
  ~Process();
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  // Waits for a line containing text (also one already printed).
  bool WaitForLine(const std::string &text, std::chrono::milliseconds timeout = 5s);
  // The first line containing text, or empty.
  std::string FindLine(const std::string &text);
  int CountLines(const std::string &text);
  std::string Output();
  // Writes one line to the child's standard input.
  void Send(const std::string &line);
  void Kill();

private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

// A bus daemon of the test's own, gone with the object. It listens on a
// socket of its own directory, so a restarted daemon has the same address.
class PrivateBus {
public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus &) = delete;
  PrivateBus &operator=(const PrivateBus &) = delete;
  const std::string &address() const { return address_; }
  // The daemon's end: every client connection to it closes.
  void Stop() { daemon_.reset(); }
  // A new daemon at the same address (after Stop, or in place of the running one).
  void Restart();

private:
  void Launch();

  std::unique_ptr<Process> daemon_;
  std::string directory_;
  std::string socket_;
  std::string address_;
};

// The pistol simulator on the bus, started with these extra arguments; ready
// when its first line says so.
std::unique_ptr<Process> StartSimulator(const PrivateBus &bus, const std::vector<std::string> &arguments = {});

// What the backend's event handlers saw, awaitable from the test thread.
// Copies share one record: handlers capture a copy, because a delivery
// already under way may still finish after the test has let go of the object.
template <class T> class Recorder {
public:
  void Add(T item) const {
    std::lock_guard lock(state_->mutex);
    state_->items.push_back(std::move(item));
    state_->changed.notify_all();
  }
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = 5s) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->items.size() >= count; });
  }
  bool WaitFor(const std::function<bool(const T &)> &match, std::chrono::milliseconds timeout = 5s) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] {
      for (const auto &item : state_->items) {
        if (match(item)) return true;
      }
      return false;
    });
  }
  std::vector<T> Items() const {
    std::lock_guard lock(state_->mutex);
    return state_->items;
  }
  std::size_t Size() const {
    std::lock_guard lock(state_->mutex);
    return state_->items.size();
  }

private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<T> items;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The pistol simulator on a bus of its own, and the backend's adapter on that bus.
struct PistolOnBus {
  explicit PistolOnBus(const std::vector<std::string> &arguments = {})
      : sim(StartSimulator(bus, arguments)), adapter(bus.address()) {}
  PrivateBus bus;
  std::unique_ptr<Process> sim;
  ble::bluez::BluezAdapter adapter;
};

// Polls until the condition holds or the time is up.
bool Eventually(const std::function<bool()> &condition, std::chrono::milliseconds timeout = 5s);

} // namespace bluez_test
