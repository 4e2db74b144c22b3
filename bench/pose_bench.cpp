// Frame-thread costs of the pose path: the frame update with and without the
// exchange mapped, the conversion alone, and a frame behind a stuck lock.
#include <benchmark/benchmark.h>

#include "driver/controller_driver.h"
#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "pose/shared_mapping.h"
#include "tests/common/quiet_host.h"

namespace {
void FrameUpdateMapped(benchmark::State &state) {
  QuietHost host;
  ControllerDriver controller;
  controller.driverInput = vr::VRDriverInput();
  OpenPoseExchange();
  for (auto _ : state) controller.FrameUpdate();
  ClosePoseExchange();
  if (host.poses == 0) state.SkipWithError("no pose was published");
}

void FrameUpdateUnmapped(benchmark::State &state) {
  QuietHost host;
  ControllerDriver controller;
  for (auto _ : state) controller.FrameUpdate();
  if (host.poses != 0) state.SkipWithError("a pose was published");
}

void ConvertPoseAlone(benchmark::State &state) {
  PoseRecord record{};
  record.m[0][0] = 0.8f, record.m[0][2] = 0.6f, record.m[1][1] = 1.0f, record.m[2][0] = -0.6f, record.m[2][2] = 0.8f;
  record.m[0][3] = 0.1f, record.m[1][3] = 1.2f, record.m[2][3] = -0.4f;
  record.poseIsValid = record.deviceIsConnected = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(record);
    vr::DriverPose_t pose = ConvertPose(record);
    benchmark::DoNotOptimize(pose);
  }
}

// The worst case of the frame thread: a writer that died holding the lock.
// Its first 100 ms cost each frame the bounded wait; after that the pose is
// reported lost once and a frame only tries the lock.
void FrameUpdateLockHeld(benchmark::State &state) {
  const bool paused = state.range(0) != 0;
  QuietHost host;
  ControllerDriver controller;
  OpenPoseExchange();
  const MappingHandle mapping = CreateNamedMapping(kPoseExchangeName, kPoseExchangeSize);
  auto *block = static_cast<PoseExchangeBlock *>(MapNamedView(mapping, kPoseExchangeSize));
  TryLockExchange(*block);
  if (paused)
    while (host.poses == 0) controller.FrameUpdate();
  for (auto _ : state) controller.FrameUpdate();
  UnlockExchange(*block);
  UnmapNamedView(block, kPoseExchangeSize);
  CloseNamedMapping(mapping);
  ClosePoseExchange();
  if (host.poses != (paused ? 1u : 0u)) state.SkipWithError("a pose was published under a held lock");
}
} // namespace

BENCHMARK(FrameUpdateMapped)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(FrameUpdateUnmapped)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(ConvertPoseAlone)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(FrameUpdateLockHeld)
    ->ArgName("paused")
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(50)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(FrameUpdateLockHeld)->ArgName("paused")->Arg(1)->Repetitions(3)->ReportAggregatesOnly(true);
