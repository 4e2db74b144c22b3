// Timings of the link on the simulated radio with the driver's real pacing
// (500 ms polls): press latency at a 90 Hz host, reconnection after a drop,
// and how long Deactivate takes, steady and with an operation that never ends.
// Not a Google Benchmark: each figure is a distribution over whole scenarios.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "ble/input_latches.h"
#include "ble/link_worker.h"
#include "ble/packet_decoder.h"
#include "ble/sim/radio.h"
#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "tools/host/dev_host.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kPistol = 0xAABBCCDDEEFF;

void Report(const char *what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-52s n=%3zu  median %8.3f ms  max %8.3f ms\n", what, ms.size(), ms[ms.size() / 2], ms.back());
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// From the notification handler's return to the host's UpdateBooleanComponent,
// with the host running frames at 90 Hz.
void PressLatency(int samples) {
  devhost::DevHost host;
  DeviceProvider provider;
  provider.Init(&host);
  ControllerDriver &controller = *provider.controller;
  controller.fireClick = 1;
  controller.fireValue = 2;
  controller.driverInput = vr::VRDriverInput(); // as Activate leaves it
  std::atomic<Clock::rep> pressSeen{0};
  host.SetListener([&](const devhost::Event &e) {
    if (e.kind == devhost::Event::Kind::BooleanUpdate && e.value != 0)
      pressSeen.store(Clock::now().time_since_epoch().count());
  });
  std::atomic<bool> running{true};
  std::thread frames([&] {
    auto next = Clock::now();
    while (running.load()) {
      provider.RunFrame();
      next += std::chrono::microseconds(11111);
      std::this_thread::sleep_until(next);
    }
  });
  std::mt19937 random(7);
  std::vector<double> latencies;
  const std::vector<std::uint8_t> trigger{0x5B, 0, 0, 0, 0, 0x5D};
  for (int i = 0; i < samples; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(250000 + random() % 20000)); // released again
    pressSeen.store(0);
    HandleNotification(trigger, inputLatches);
    const auto returned = Clock::now();
    const auto giveUp = returned + 2s;
    while (pressSeen.load() == 0 && Clock::now() < giveUp) std::this_thread::sleep_for(50us);
    if (pressSeen.load() == 0) {
      std::fprintf(stderr, "a press never reached the host\n");
      std::exit(1);
    }
    latencies.push_back(Ms(Clock::time_point(Clock::duration(pressSeen.load())) - returned));
  }
  running = false;
  frames.join();
  provider.Cleanup();
  vr::CleanupDriverContext();
  Report("press: handler return -> host update (90 Hz)", latencies);
}

struct LinkRig {
  devhost::DevHost host;
  ble::sim::Radio radio{2};
  ble::ScopedPlatformAdapter scoped{radio};
  DeviceProvider provider;
  LinkRig() {
    provider.Init(&host);
    radio.AddPistol(ble::sim::StandardPistol(kPistol));
  }
  ~LinkRig() {
    provider.Cleanup();
    vr::CleanupDriverContext();
  }
  void WaitLog(const std::string &line, size_t count) { host.WaitForLog(line, 10s, count); }
};

// From the pistol's first advertisement after a drop to "Device successfully connected.".
void Reconnection(int samples) {
  LinkRig rig;
  rig.provider.controller->Activate(0);
  std::vector<double> times;
  for (int i = 1; i <= samples + 1; ++i) {
    rig.WaitLog("Starting the advertisement watcher.", static_cast<size_t>(i));
    rig.radio.WaitIdle();
    std::this_thread::sleep_for(5ms); // the worker stores Scanning after Start
    const auto advertised = Clock::now();
    rig.radio.Advertise(kPistol, u"Pistol");
    rig.WaitLog("Device successfully connected.", static_cast<size_t>(i));
    if (i > 1) times.push_back(Ms(Clock::now() - advertised));
    rig.radio.Disconnect(kPistol);
  }
  rig.provider.controller->Deactivate();
  Report("reconnection: advertisement -> connected", times);
}

void Deactivation(int samples, bool hung) {
  std::vector<double> times;
  for (int i = 0; i < samples; ++i) {
    LinkRig rig;
    if (hung) rig.radio.Script(ble::sim::Op::GetGattServicesAsync, ble::sim::IgnoresCancel());
    rig.provider.controller->Activate(0);
    rig.WaitLog("Starting the advertisement watcher.", 1);
    std::this_thread::sleep_for(5ms);
    if (hung) {
      rig.radio.Advertise(kPistol, u"Pistol");
      rig.WaitLog("Connecting to device: 187723572702975", 1);
      std::this_thread::sleep_for(50ms);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + 97 * i % 400));
    }
    const auto start = Clock::now();
    rig.provider.controller->Deactivate();
    times.push_back(Ms(Clock::now() - start));
  }
  Report(hung ? "deactivate: with an operation that never ends" : "deactivate: scanning, steady", times);
}

} // namespace

int main() {
  PressLatency(30);
  Reconnection(4);
  Deactivation(6, false);
  Deactivation(4, true);
  return 0;
}
