// vk5-link-sim: the driver's own link, frame update and pose side, run in
// this process against the simulated radio, with a scripted pistol. Shows the
// road of a button press without Bluetooth hardware or a Bluetooth service.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "ble/adapter.h"
#include "ble/sim/radio.h"
#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "tools/host/dev_host.h"

using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t kPistol = 0xAABBCCDDEEFF;
constexpr Guid kCharacteristic = BluetoothUuid(0xFFF1);

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Runs the driver's link on a simulated radio with a scripted pistol"};
  double rate = 90.0;
  bool json = false;
  int rounds = 2;
  app.add_option("--rate", rate, "Host frames per second")->check(CLI::PositiveNumber);
  app.add_option("--rounds", rounds, "Connect, press and drop this many times")->check(CLI::PositiveNumber);
  app.add_flag("--json", json, "Print JSON lines instead of text");
  CLI11_PARSE(app, argc, argv);

  devhost::DevHost host;
  host.SetListener([&](const devhost::Event &e) {
    if (e.kind == devhost::Event::Kind::PoseUpdate || e.kind == devhost::Event::Kind::InterfaceRequest) return;
    std::printf("%s\n", (json ? devhost::FormatEventJson(e) : devhost::FormatEvent(e)).c_str());
    std::fflush(stdout);
  });
  auto say = [&](const std::string &text) {
    if (!json) std::printf("[%.3f] pistol: %s\n", host.Now(), text.c_str());
    std::fflush(stdout);
  };

  ble::sim::Radio radio(2);
  ble::ScopedPlatformAdapter useRadio(radio);
  radio.AddPistol(ble::sim::StandardPistol(kPistol));

  DeviceProvider provider;
  if (provider.Init(&host) != vr::VRInitError_None) return 2;
  provider.controller->Activate(0);

  std::atomic<bool> running{true};
  std::thread frames([&] {
    const auto period =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / rate));
    auto next = std::chrono::steady_clock::now();
    while (running.load()) {
      provider.RunFrame();
      next += period;
      std::this_thread::sleep_until(next);
    }
  });

  bool ok = true;
  for (int round = 1; round <= rounds && ok; ++round) {
    ok = host.WaitForLog("Starting the advertisement watcher.", 5s, static_cast<size_t>(round));
    std::this_thread::sleep_for(50ms);
    say("advertising \"Pistol\"");
    radio.Advertise(kPistol, u"Pistol");
    ok = ok && host.WaitForLog("Device successfully connected.", 5s, static_cast<size_t>(round));
    const std::pair<const char *, std::vector<std::uint8_t>> presses[] = {{"trigger", {0x5B, 0, 0, 0, 0, 0x5D}},
                                                                          {"magazine eject", {0x5C, 0x00, 0x5C, 0x5D}},
                                                                          {"magazine load", {0x5C, 0x01, 0x5D, 0x5D}}};
    for (const auto &[name, packet] : presses) {
      std::this_thread::sleep_for(400ms);
      say(std::string("sending ") + name);
      radio.Notify(kPistol, kCharacteristic, packet);
    }
    std::this_thread::sleep_for(400ms);
    say("dropping the link");
    radio.Disconnect(kPistol);
  }
  ok = ok && host.WaitForLog("Starting the advertisement watcher.", 5s, static_cast<size_t>(rounds + 1));

  running = false;
  frames.join();
  provider.controller->Deactivate();
  provider.Cleanup();
  vr::CleanupDriverContext();
  if (!ok) std::fprintf(stderr, "vk5-link-sim: the link did not reach the expected state\n");
  return ok ? 0 : 1;
}
