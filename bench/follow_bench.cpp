// The openvr source's figures against the fake runtime: the age of a pose in
// the block (from the moment the runtime has it to the block write), and the
// CPU share of the helper's loop while it follows. Prints a summary.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "pose/pose_exchange.h"
#include "tests/tools/pose_getter/fake_vrclient/fake_runtime.h"
#include "tools/pose_getter/openvr_follower.h"
#include "tools/pose_getter/pose_sources.h"
#include "tools/pose_getter/pose_writer.h"

namespace {
using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

vr::TrackedDevicePose_t PoseNumber(int n) {
  vr::TrackedDevicePose_t p{};
  p.mDeviceToAbsoluteTracking.m[0][0] = p.mDeviceToAbsoluteTracking.m[1][1] = p.mDeviceToAbsoluteTracking.m[2][2] = 1;
  p.mDeviceToAbsoluteTracking.m[0][3] = static_cast<float>(n);
  p.eTrackingResult = vr::TrackingResult_Running_OK;
  p.bPoseIsValid = p.bDeviceIsConnected = true;
  return p;
}

// Writes into a private block under the real lock, and notes when each
// numbered pose got there.
class TimingSink final : public PoseSink {
public:
  TimingSink(std::vector<Clock::time_point> &written, std::atomic<bool> &running)
      : written_(written), running_(running) {}
  void Write(const PoseRecord &record) override {
    WritePoseRecord(block_, record);
    const auto n = static_cast<std::size_t>(record.m[0][3]);
    if (record.poseIsValid && n < written_.size()) written_[n] = Clock::now();
    ++writes;
  }
  bool KeepRunning() override {
    if (!started_) cpuStart_ = ThreadCpuSeconds(), wallStart_ = Clock::now(), started_ = true;
    const bool go = running_.load();
    if (!go) {
      cpuSeconds = ThreadCpuSeconds() - cpuStart_;
      wallSeconds = std::chrono::duration<double>(Clock::now() - wallStart_).count();
    }
    return go;
  }
  long writes = 0;
  double cpuSeconds = 0, wallSeconds = 0;

private:
  PoseExchangeBlock block_{};
  std::vector<Clock::time_point> &written_;
  std::atomic<bool> &running_;
  bool started_ = false;
  double cpuStart_ = 0;
  Clock::time_point wallStart_{};
};
} // namespace

int main() {
  FakeRuntime runtime;
  if (!runtime.Install()) {
    std::fprintf(stderr, "follow_bench: cannot install the fake runtime\n");
    return 1;
  }
  runtime.setDevice(3, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, "TRK");
  const vr::TrackedDevicePose_t first = PoseNumber(0);
  runtime.setPose(3, &first);

  constexpr int kPoses = 1250; // 5 s of a runtime updating at 250 Hz
  std::vector<Clock::time_point> set(kPoses + 1), written(kPoses + 1);
  std::atomic<bool> running{true};
  TimingSink sink(written, running);
  GetterConfig config;
  config.source = GetterConfig::Source::OpenVr;
  // The helper's own road: the registry override leads it to the fake, and
  // every pose is turned into the module's record on the way to the block.
  setenv("VR_PATHREG_OVERRIDE", runtime.RegistryFile().c_str(), 1);
  std::thread helper([&] { RunSource(config, sink); });

  std::this_thread::sleep_for(std::chrono::milliseconds(300)); // connected and following
  for (int n = 1; n <= kPoses; ++n) {
    const vr::TrackedDevicePose_t pose = PoseNumber(n);
    set[static_cast<std::size_t>(n)] = Clock::now();
    runtime.setPose(3, &pose);
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  running = false;
  helper.join();

  std::vector<double> ages;
  int missed = 0;
  for (int n = 1; n <= kPoses; ++n) {
    const auto i = static_cast<std::size_t>(n);
    if (written[i] == Clock::time_point{}) {
      ++missed; // replaced by the next one before a poll saw it
      continue;
    }
    ages.push_back(std::chrono::duration<double, std::milli>(written[i] - set[i]).count());
  }
  std::sort(ages.begin(), ages.end());
  if (ages.empty()) {
    std::fprintf(stderr, "follow_bench: no pose reached the block\n");
    return 1;
  }
  std::printf("poses set %d, written %zu, superseded before a poll %d\n", kPoses, ages.size(), missed);
  std::printf("pose age runtime -> block: median %.2f ms, p99 %.2f ms, max %.2f ms\n", ages[ages.size() / 2],
              ages[ages.size() * 99 / 100], ages.back());
  const FakeVrCounters calls = runtime.counters();
  std::printf("poll rate: %.0f Hz\n", calls.poseCalls / sink.wallSeconds);
  std::printf("helper loop CPU: %.2f s of %.2f s wall = %.1f %% of one core, polling every %lld ms\n", sink.cpuSeconds,
              sink.wallSeconds, 100.0 * sink.cpuSeconds / sink.wallSeconds,
              static_cast<long long>(OpenVrFollower::kPollEvery.count()));
  return 0;
}
