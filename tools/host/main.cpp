// vk5-host: plays the VR driver host for a driver module, for development,
// demos and black-box tests. Prints everything the driver does to the host.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/host/dev_host.h"
#include "tools/host/driver_module.h"

using namespace devhost;

namespace {
// SIGTERM or SIGINT ends the frame loop early, so the driver is still deactivated and cleaned up.
volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) {
  stopRequested = 1;
}
} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Development host: loads a driver module and drives it like the VR host"};
  std::string modulePath;
  double seconds = 3.0;
  long frames = 0;
  double rate = 90.0;
  bool json = false;
  bool activate = true;
  double poseInterval = 1.0;
  std::vector<std::string> withheld;
  app.add_option("module", modulePath, "Driver library, or driver folder holding driver.vrdrivermanifest")->required();
  app.add_option("--seconds", seconds, "How long to run frames (ignored with --frames)")->check(CLI::NonNegativeNumber);
  app.add_option("--frames", frames, "Number of frames to run")->check(CLI::NonNegativeNumber);
  app.add_option("--rate", rate, "Frames per second")->check(CLI::PositiveNumber);
  app.add_flag("--json", json, "Print JSON lines instead of text");
  app.add_option("--withhold", withheld, "Answer this host interface version with null (repeatable)");
  app.add_flag("!--no-activate", activate, "Init and Cleanup only");
  app.add_option("--pose-interval", poseInterval, "Text mode: seconds between printed poses (0: every pose)");
  CLI11_PARSE(app, argc, argv);

  DevHost host;
  for (const std::string &w : withheld) host.Withhold(w);
  double lastPosePrinted = -1e9;
  host.SetListener([&](const Event &e) {
    if (json) {
      std::printf("%s\n", FormatEventJson(e).c_str());
    } else {
      if (e.kind == Event::Kind::PoseUpdate) {
        if (e.seconds - lastPosePrinted < poseInterval) return;
        lastPosePrinted = e.seconds;
      }
      std::printf("%s\n", FormatEvent(e).c_str());
    }
    std::fflush(stdout);
  });
  auto note = [&](const std::string &text) {
    if (json)
      std::printf("{\"t\":%.6f,\"kind\":\"host\",\"note\":\"%s\"}\n", host.Now(), text.c_str());
    else
      std::printf("[%.3f] host: %s\n", host.Now(), text.c_str());
    std::fflush(stdout);
  };

  DriverModule module;
  if (!module.Open(modulePath)) {
    std::fprintf(stderr, "vk5-host: %s\n", module.error().c_str());
    return 1;
  }
  note("loaded " + module.libraryPath());
  int code = 0;
  auto *provider = static_cast<vr::IServerTrackedDeviceProvider *>(
      module.factory()(vr::IServerTrackedDeviceProvider_Version, &code));
  if (!provider) {
    std::fprintf(stderr, "vk5-host: factory refused %s (code %d)\n", vr::IServerTrackedDeviceProvider_Version, code);
    return 1;
  }
  const vr::EVRInitError init = provider->Init(&host);
  note("Init returned " + std::to_string(init));
  if (init != vr::VRInitError_None) return 2;

  vr::ITrackedDeviceServerDriver *device = host.AddedDevice();
  if (activate && device) {
    const vr::EVRInitError activated = device->Activate(0);
    note("Activate(0) returned " + std::to_string(activated));
  }

  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
  const auto start = clock::now();
  const auto end = start + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
  auto next = start;
  long frame = 0;
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGINT, RequestStop);
  while (!stopRequested && (frames > 0 ? frame < frames : clock::now() < end)) {
    provider->RunFrame();
    ++frame;
    next += period;
    std::this_thread::sleep_until(next);
  }
  note("ran " + std::to_string(frame) + " frames");

  if (activate && device) {
    device->Deactivate();
    note("Deactivate returned");
  }
  provider->Cleanup();
  note("Cleanup returned");
  return 0;
}
