// bluez-load-run: the built module in the development host at 144 Hz while
// the pistol simulator, on a private bus, sends 1,000 notifications a second.
// Prints what the load did: notifications lost, notification-to-latch
// latency, the BlueZ loop thread's CPU share, the process's resident memory
// over the run, and presses seen against the presses the frame rate allows.
// Exits non-zero when any of them is out of bounds.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "tests/ble/bluez/bus_fixture.h"
#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using bluez_test::PrivateBus;
using bluez_test::Process;

constexpr int kButtons = 3;
// The component each packet of the burst's cycle presses, in the cycle's order.
const char *const kComponents[kButtons] = {"/input/fire/click", "/input/eject_mag/click", "/input/load_mag/click"};
const char *const kReceived[kButtons] = {"Received data: 91 0 0 0 0 93 END", "Received data: 92 0 92 93 END",
                                         "Received data: 92 1 93 93 END"};
// Frames a press is held after the one that reports it (the driver's rule).
constexpr int kHeldFrames = 21;

std::int64_t Micros(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The thread of this process with the given name; 0 when there is none.
long ThreadNamed(const std::string &name) {
  DIR *dir = opendir("/proc/self/task");
  if (!dir) return 0;
  long found = 0;
  while (const dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string text;
    std::getline(comm, text);
    if (text == name) found = std::atol(entry->d_name);
  }
  closedir(dir);
  return found;
}

// User plus system time of one thread, in seconds.
double ThreadCpuSeconds(long tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i < 14; ++i) fields >> field;
  unsigned long long user = 0;
  unsigned long long system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

// A record written by one thread into room made (and touched) beforehand, so
// recording allocates nothing and adds nothing to the memory being watched.
template <class T> class Preallocated {
public:
  explicit Preallocated(std::size_t capacity) : items_(capacity) {}
  void Add(const T &item) {
    const std::size_t at = size_.load(std::memory_order_relaxed);
    if (at < items_.size()) items_[at] = item;
    size_.store(at + 1, std::memory_order_release);
  }
  std::size_t Size() const { return std::min(size_.load(std::memory_order_acquire), items_.size()); }
  std::size_t Overflow() const { return size_.load() > items_.size() ? size_.load() - items_.size() : 0; }
  const T &operator[](std::size_t i) const { return items_[i]; }

private:
  std::vector<T> items_;
  std::atomic<std::size_t> size_{0};
};

struct Receipt {
  std::int64_t micros = 0;
  int button = -1;
};

struct Edge {
  long frame = 0;
  int button = 0;
  bool pressed = false;
};

std::vector<std::int64_t> ReadTimes(const std::string &path) {
  std::vector<std::int64_t> times;
  std::ifstream file(path);
  for (long long t = 0; file >> t;) times.push_back(t);
  return times;
}

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Load run: the module at a high frame rate against a pistol sending notifications fast"};
  double seconds = 30;
  int rate = 1000;
  double frameRate = 144;
  double maxLatencyMs = 250;
  double maxGrowthMiB = 2;
  std::string driverFolder = VK5_DRIVER_FOLDER;
  app.add_option("--seconds", seconds, "How long the pistol sends")->check(CLI::Range(1.0, 3600.0));
  app.add_option("--rate", rate, "Notifications a second")->check(CLI::Range(1, 20000));
  app.add_option("--frame-rate", frameRate, "Host frames a second")->check(CLI::Range(1.0, 1000.0));
  app.add_option("--max-latency-ms", maxLatencyMs, "Fail above this notification-to-latch latency");
  app.add_option("--max-growth-mib", maxGrowthMiB, "Fail above this resident memory growth under load");
  app.add_option("--driver", driverFolder, "Driver folder (holding driver.vrdrivermanifest)");
  CLI11_PARSE(app, argc, argv);

  char work[] = "/tmp/vk5-load-XXXXXX";
  if (!mkdtemp(work)) return 1;
  const std::string timesPath = std::string(work) + "/send-times";

  PrivateBus bus;
  auto sim = bluez_test::StartSimulator(bus, {"--send-times", timesPath, "--disconnect-delay", "2500"});
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);

  const auto expected = static_cast<std::size_t>(seconds * rate);
  Preallocated<Receipt> receipts(expected + expected / 4 + 1024);
  const auto framesPlanned = static_cast<std::size_t>((seconds + 60) * frameRate);
  Preallocated<std::int64_t> frameStarts(framesPlanned);
  Preallocated<Edge> edges(framesPlanned * kButtons);
  std::atomic<long> frame{-1};

  devhost::DevHost host;
  host.SetListener([&](const devhost::Event &e) {
    if (e.kind == devhost::Event::Kind::Log && e.text.rfind("Received data: ", 0) == 0) {
      Receipt receipt{Micros(Clock::now()), -1};
      for (int b = 0; b < kButtons; ++b) {
        if (e.text == kReceived[b]) receipt.button = b;
      }
      receipts.Add(receipt);
    } else if (e.kind == devhost::Event::Kind::BooleanUpdate) {
      for (int b = 0; b < kButtons; ++b) {
        if (e.text == kComponents[b]) edges.Add({frame.load(), b, e.value != 0});
      }
    }
  });

  devhost::DriverModule module;
  if (!module.Open(driverFolder)) {
    std::fprintf(stderr, "bluez-load-run: %s\n", module.error().c_str());
    return 1;
  }
  auto *provider =
      static_cast<vr::IServerTrackedDeviceProvider *>(module.factory()("IServerTrackedDeviceProvider_004", nullptr));
  if (!provider || provider->Init(&host) != vr::VRInitError_None || !host.AddedDevice() ||
      host.AddedDevice()->Activate(0) != vr::VRInitError_None) {
    std::fprintf(stderr, "bluez-load-run: the module did not start\n");
    return 1;
  }

  std::atomic<bool> running{true};
  std::thread frames([&] {
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / frameRate));
    auto next = Clock::now();
    while (running.load()) {
      frameStarts.Add(Micros(Clock::now()));
      frame.fetch_add(1);
      provider->RunFrame();
      next += period;
      std::this_thread::sleep_until(next);
    }
  });

  int failures = 0;
  auto fail = [&](const std::string &why) {
    std::printf("FAIL: %s\n", why.c_str());
    ++failures;
  };

  if (!host.WaitForLog("Device successfully connected.", 20s)) fail("the link did not come up");
  const long loopThread = ThreadNamed("vk5-bluez");
  if (loopThread == 0) fail("no BlueZ loop thread found");
  host.ClearEvents();

  // The burst, with memory sampled once a second; the host's own event record
  // is emptied as it goes, so that only the module's memory can grow.
  const double cpuBefore = ThreadCpuSeconds(loopThread);
  const auto burstStart = Clock::now();
  char command[64];
  std::snprintf(command, sizeof command, "burst %d %.3fs", rate, seconds);
  sim->Send(command);
  std::vector<double> resident;
  const auto deadline = burstStart + std::chrono::duration<double>(seconds + 20);
  while (!sim->WaitForLine("burst done", 1s)) {
    host.ClearEvents();
    resident.push_back(ResidentMiB());
    if (Clock::now() > deadline) {
      fail("the burst did not end");
      break;
    }
  }
  const double burstSeconds = std::chrono::duration<double>(Clock::now() - burstStart).count();
  const double cpu = ThreadCpuSeconds(loopThread) - cpuBefore;
  // Late notifications still in the pipe, and the last presses' releases.
  std::this_thread::sleep_for(500ms);
  running.store(false);
  frames.join();
  const auto stopStart = Clock::now();
  host.AddedDevice()->Deactivate();
  const double deactivateMs = std::chrono::duration<double, std::milli>(Clock::now() - stopStart).count();
  provider->Cleanup();
  module.Close();
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");

  // Notifications and latency: the bus keeps their order, so the i-th one
  // logged is the i-th one sent.
  const std::vector<std::int64_t> sent = ReadTimes(timesPath);
  std::remove(timesPath.c_str());
  rmdir(work);
  const std::size_t received = receipts.Size();
  std::vector<double> latencyMs;
  if (received == sent.size()) {
    for (std::size_t i = 0; i < received; ++i) {
      latencyMs.push_back(static_cast<double>(receipts[i].micros - sent[i]) / 1000.0);
    }
  }
  std::printf("load run: %d notifications a second for %.1f s, host frames at %.0f Hz\n", rate, seconds, frameRate);
  std::printf("notifications: sent %zu, latched %zu\n", sent.size(), received);
  if (sent.size() < expected * 9 / 10) fail("the simulator sent too few notifications");
  if (received != sent.size() || receipts.Overflow() > 0) fail("notifications were lost or doubled");
  if (!latencyMs.empty()) {
    std::printf("notification->latch latency: median %.3f ms, p99 %.3f ms, max %.3f ms\n", Percentile(latencyMs, 0.5),
                Percentile(latencyMs, 0.99), Percentile(latencyMs, 1.0));
    if (Percentile(latencyMs, 1.0) > maxLatencyMs) fail("latency above the bound");
  }
  std::printf("BlueZ loop thread: %.2f s of CPU in %.2f s (%.1f %% of one core)\n", cpu, burstSeconds,
              100.0 * cpu / burstSeconds);

  // Memory: the first samples include the warm-up (allocator arenas, the
  // bus's buffers); flat means no growth from the first quarter on.
  if (resident.size() >= 4) {
    const double settled = resident[resident.size() / 4];
    const double peak = *std::max_element(resident.begin(), resident.end());
    std::printf("resident memory: %.1f MiB at 1 s, %.1f MiB at a quarter, peak %.1f MiB, at the end %.1f MiB\n",
                resident.front(), settled, peak, resident.back());
    if (peak - settled > maxGrowthMiB) fail("resident memory grew under load");
  }

  // Presses: a released button is pressed again on the first frame that finds
  // its latch set, so after each release no frame may pass that had a
  // notification of that button before it began. A notification within a
  // millisecond of a frame's start may be latched just after that frame read
  // the latch, and counts for the next.
  const std::size_t frameCount = frameStarts.Size();
  std::vector<std::vector<std::int64_t>> byButton(kButtons);
  for (std::size_t i = 0; i < received; ++i) {
    if (receipts[i].button >= 0) byButton[receipts[i].button].push_back(receipts[i].micros);
  }
  const std::int64_t lastSent = sent.empty() ? 0 : sent.back();
  int missed = 0;
  std::map<int, int> presses;
  std::map<int, int> allowed;
  for (int b = 0; b < kButtons; ++b) {
    const auto &times = byButton[b];
    std::vector<Edge> mine;
    for (std::size_t i = 0; i < edges.Size(); ++i) {
      if (edges[i].button == b) mine.push_back(edges[i]);
    }
    for (std::size_t i = 0; i < mine.size(); ++i) {
      if (mine[i].pressed) ++presses[b];
      if (mine[i].pressed || static_cast<std::size_t>(mine[i].frame) + 1 >= frameCount) continue;
      // The frame after the release is the first that may press again.
      const long from = mine[i].frame + 1;
      if (frameStarts[from] > lastSent) continue; // the burst was over
      const long pressedAt =
          i + 1 < mine.size() ? mine[i + 1].frame : static_cast<long>(frameCount); // frameCount: never
      // The first frame whose start comes more than 1 ms after a notification sent since the release.
      long due = -1;
      const auto releaseTime = frameStarts[static_cast<std::size_t>(mine[i].frame)];
      const auto next = std::upper_bound(times.begin(), times.end(), releaseTime);
      if (next != times.end()) {
        for (long f = from; f < static_cast<long>(frameCount); ++f) {
          if (frameStarts[static_cast<std::size_t>(f)] > *next + 1000) {
            due = f;
            break;
          }
        }
      }
      if (due < 0) continue; // no notification of this button came after the release
      ++allowed[b];
      if (pressedAt > due) ++missed;
    }
    // The burst's first press of each button is allowed too.
    ++allowed[b];
  }
  std::printf("frames: %zu; presses seen / allowed by the frame rate: fire %d/%d, eject %d/%d, load %d/%d; missed %d\n",
              frameCount, presses[0], allowed[0], presses[1], allowed[1], presses[2], allowed[2], missed);
  if (missed > 0) fail("presses the frame rate allows did not reach the host");
  std::printf("Deactivate after the load: %.1f ms\n", deactivateMs);
  std::printf("%s\n", failures ? "load run: FAILED" : "load run: passed");
  sim.reset();
  return failures ? 1 : 0;
}
