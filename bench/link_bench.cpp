// What one notification costs on the platform's thread: decode, latch, log line.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>
#include <openvr_driver.h>

#include "ble/input_latches.h"
#include "ble/packet_decoder.h"

namespace {

// A host whose log keeps nothing, so only the driver's own work is measured.
class QuietHost final : public vr::IVRDriverContext, public vr::IVRDriverLog {
public:
  void *GetGenericInterface(const char *version, vr::EVRInitError *) override {
    return std::string_view(version) == vr::IVRDriverLog_Version ? static_cast<vr::IVRDriverLog *>(this) : nullptr;
  }
  vr::DriverHandle_t GetDriverHandle() override { return 1; }
  void Log(const char *line) override { benchmark::DoNotOptimize(line); }
};

void BM_NotificationTrigger(benchmark::State &state) {
  QuietHost host;
  vr::VRDriverContext() = &host;
  InputLatches latches;
  const std::vector<std::uint8_t> packet{0x5B, 0, 0, 0, 0, 0x5D};
  for (auto _ : state) {
    HandleNotification(packet, latches);
    latches.fire.store(false, std::memory_order_relaxed);
  }
  vr::CleanupDriverContext();
}
BENCHMARK(BM_NotificationTrigger);

void BM_NotificationGarbage64(benchmark::State &state) {
  QuietHost host;
  vr::VRDriverContext() = &host;
  InputLatches latches;
  const std::vector<std::uint8_t> packet(64, 0xEE);
  for (auto _ : state) HandleNotification(packet, latches);
  vr::CleanupDriverContext();
}
BENCHMARK(BM_NotificationGarbage64);

} // namespace
