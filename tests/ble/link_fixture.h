#pragma once

// The link worker running on the simulated radio, logging into a development host.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ble/adapter.h"
#include "ble/input_latches.h"
#include "ble/link_worker.h"
#include "ble/sim/radio.h"
#include "tools/host/dev_host.h"

namespace linktest {

using namespace std::chrono_literals;

inline constexpr std::uint64_t kPistol = 0xAABBCCDDEEFF; // 187723572702975
inline constexpr Guid kService = BluetoothUuid(0xFFF0);
inline constexpr Guid kCharacteristic = BluetoothUuid(0xFFF1);
inline const std::string kServiceText = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
inline const std::string kCharacteristicText = "{0000FFF1-0000-1000-8000-00805F9B34FB}";

class LinkTest : public ::testing::Test {
protected:
  void SetUp() override {
    vr::VRDriverContext() = &host;
    linkTimings.pollPeriod = 5ms;
    linkTimings.operationTimeout = 2s;
    linkTimings.maxSetupRetryDelay = 40ms;
    inputLatches.fire = inputLatches.eject_mag = inputLatches.load_mag = false;
  }

  void TearDown() override {
    StopWorker();
    radio.WaitIdle();
    EXPECT_EQ(radio.RegisteredHandlers(), 0) << "every registration is revoked when the worker ends";
    vr::CleanupDriverContext();
    linkTimings = LinkTimings{};
    linkRunning = true;
  }

  void StartWorker() {
    linkRunning = true;
    worker = std::thread(LinkWorker);
  }

  void StopWorker() {
    linkRunning = false;
    if (worker.joinable()) worker.join();
  }

  bool Logged(const std::string &line, size_t count = 1) { return host.WaitForLog(line, 5s, count); }

  // Scanning with the watcher started, so an advertisement is heard.
  void WaitForScan(size_t count = 1) {
    ASSERT_TRUE(Logged("Starting the advertisement watcher.", count));
    radio.WaitIdle();
    // The worker stores Scanning right after Start returns; give it that pass.
    while (radio.Calls(ble::sim::Op::Start) < static_cast<int>(count)) std::this_thread::sleep_for(1ms);
  }

  void ConnectPistol(ble::sim::Pistol pistol = ble::sim::StandardPistol(kPistol), size_t round = 1) {
    const std::uint64_t address = pistol.address;
    radio.AddPistol(std::move(pistol));
    WaitForScan(round);
    radio.Advertise(address, u"Pistol");
  }

  // The log from the first occurrence of `from` on.
  std::vector<std::string> LogFrom(const std::string &from) const {
    std::vector<std::string> lines = host.LogLines(), out;
    bool on = false;
    for (const std::string &line : lines) {
      on = on || line == from;
      if (on) out.push_back(line);
    }
    return out;
  }

  static std::vector<std::string> Without(std::vector<std::string> lines, const std::vector<std::string> &drop) {
    std::erase_if(lines,
                  [&](const std::string &line) { return std::find(drop.begin(), drop.end(), line) != drop.end(); });
    return lines;
  }

  devhost::DevHost host;
  ble::sim::Radio radio{2};
  ble::ScopedPlatformAdapter scoped{radio};
  std::thread worker;
};

} // namespace linktest
