// The radio or its service going away and coming back: the link scans again
// by itself, on a fresh watcher, and waits longer while the service is absent.
#include <mutex>

#include "tests/ble/link_fixture.h"

namespace linktest {
namespace {

using ble::sim::Op;
using ble::sim::OpScript;
using Clock = std::chrono::steady_clock;

constexpr HRESULT kNoRadio = static_cast<HRESULT>(0x800710DF);

// Start raising `code`, with the time of every attempt kept.
struct FailingStarts {
  std::mutex mutex;
  std::vector<Clock::time_point> times;

  OpScript Script(HRESULT code) {
    OpScript script;
    script.raise = code;
    script.inside = [this] {
      std::lock_guard lock(mutex);
      times.push_back(Clock::now());
    };
    return script;
  }
  std::vector<Clock::time_point> Times() {
    std::lock_guard lock(mutex);
    return times;
  }
};

TEST_F(LinkTest, ScanStoppedByThePlatformStartsAgainOnAFreshWatcher) {
  StartWorker();
  WaitForScan();
  radio.StopScanning(); // the radio switched off and on again
  ASSERT_TRUE(Logged("Watcher stopped."));
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(LogFrom("Watcher stopped."),
            (std::vector<std::string>{"Watcher stopped.", "Starting the advertisement watcher."}));
  EXPECT_EQ(radio.Calls(Op::CreateWatcher), 2);
  ConnectPistol(ble::sim::StandardPistol(kPistol), 2);
  EXPECT_TRUE(Logged("Device successfully connected."));
}

TEST_F(LinkTest, ScanStoppedForTheTargetIsNotRestarted) {
  StartWorker();
  ConnectPistol();
  ASSERT_TRUE(Logged("Device successfully connected."));
  ASSERT_TRUE(Logged("Watcher stopped."));
  std::this_thread::sleep_for(50ms); // ten passes
  EXPECT_EQ(host.CountLog("Starting the advertisement watcher."), 1u);
  EXPECT_EQ(radio.Calls(Op::CreateWatcher), 1);
}

// While the service is absent every start fails: each attempt gets a new
// watcher, the attempts spread out to the longest retry delay, and the log
// holds one error line. The link comes back once the service does.
TEST_F(LinkTest, AbsentServiceIsRetriedWithAGrowingDelayUntilItReturns) {
  StartWorker();
  WaitForScan();
  FailingStarts starts;
  radio.ScriptAlways(Op::Start, starts.Script(kNoRadio));
  radio.StopScanning();
  while (starts.Times().size() < 7) std::this_thread::sleep_for(1ms);
  const std::vector<Clock::time_point> times = starts.Times();
  EXPECT_GE(times[6] - times[5], 35ms) << "the delay grows to its longest";
  EXPECT_GE(times[5] - times[4], 35ms);
  EXPECT_EQ(host.CountLog("Link error: 0x800710DF."), 1u);
  EXPECT_GE(radio.Calls(Op::CreateWatcher), 8) << "a watcher that failed to start is not used again";

  radio.ClearScripts();
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  const int startsBefore = radio.Calls(Op::Start);
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", host.CountLog("Starting the advertisement watcher.") + 1));
  radio.WaitIdle();
  while (radio.Calls(Op::Start) <= startsBefore) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(10ms); // the pass after Start stores Scanning
  radio.Advertise(kPistol, u"Pistol");
  EXPECT_TRUE(Logged("Device successfully connected."));
}

// The service restarts under a connected link: the loss is reported, the
// restarted watcher cannot start at first, and the link comes back by itself.
TEST_F(LinkTest, LossWhileConnectedComesBackWhenTheServiceDoes) {
  StartWorker();
  ConnectPistol();
  ASSERT_TRUE(Logged("Device successfully connected."));
  FailingStarts starts;
  radio.Script(Op::Start, starts.Script(kNoRadio));
  radio.Script(Op::Start, starts.Script(kNoRadio));
  radio.Script(Op::Start, starts.Script(kNoRadio));
  radio.Disconnect(kPistol);
  ASSERT_TRUE(Logged("Device connection lost."));
  while (starts.Times().size() < 3) std::this_thread::sleep_for(1ms);
  ConnectPistol(ble::sim::StandardPistol(kPistol), 5);
  EXPECT_TRUE(Logged("Device successfully connected.", 2));
  EXPECT_EQ(host.CountLog("Link error: 0x800710DF."), 1u);
}

TEST_F(LinkTest, AlternatingErrorsAreEachLoggedOnce) {
  OpScript first, second;
  first.raise = kNoRadio;
  second.raise = kEAccessDenied;
  for (int i = 0; i < 4; ++i) {
    radio.Script(Op::Start, first);
    radio.Script(Op::Start, second);
  }
  StartWorker();
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 9));
  EXPECT_EQ(host.CountLog("Link error: 0x800710DF."), 1u);
  EXPECT_EQ(host.CountLog("Link error: 0x80070005."), 1u);
}

} // namespace
} // namespace linktest
