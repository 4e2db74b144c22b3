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

namespace bluez_test {

using namespace std::chrono_literals;

// A child process with its standard output read line by line.
class Process {
public:
  Process(const std::vector<std::string> &argv, const std::vector<std::string> &env = {}, bool quiet = false);
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

// A bus daemon of the test's own, gone with the object.
class PrivateBus {
public:
  PrivateBus();
  const std::string &address() const { return address_; }
  // The daemon's end: every client connection to it closes.
  void Stop() { daemon_.reset(); }

private:
  std::unique_ptr<Process> daemon_;
  std::string address_;
};

// The pistol simulator on the bus, started with these extra arguments; ready
// when its first line says so.
std::unique_ptr<Process> StartSimulator(const PrivateBus &bus, const std::vector<std::string> &arguments = {});

// What the backend's event handlers saw, awaitable from the test thread.
template <class T> class Recorder {
public:
  void Add(T item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
    changed_.notify_all();
  }
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return items_.size() >= count; });
  }
  bool WaitFor(const std::function<bool(const T &)> &match, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const auto &item : items_) {
        if (match(item)) return true;
      }
      return false;
    });
  }
  std::vector<T> Items() {
    std::lock_guard lock(mutex_);
    return items_;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<T> items_;
};

// Polls until the condition holds or the time is up.
bool Eventually(const std::function<bool()> &condition, std::chrono::milliseconds timeout = 5s);

} // namespace bluez_test
