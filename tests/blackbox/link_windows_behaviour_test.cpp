// The link road against the fake class module behaving as Windows does: the
// first discoveries fail, the link comes lazily (and may drop for a moment),
// a closed device stays linked for a while or for good, a paired pistol is
// linked by the system, a scan aborts without a word, advertisements arrive
// after Stop, Close blocks. The pistol links, within the goals, all the same.
// VK5_FAKE_TIMING_PERCENT=100 runs the fake at Windows' own pace.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/blackbox/windows_link_road.h"

namespace {

using namespace windows_road;

const std::string kConnected = "Device successfully connected.";
const std::string kConnecting = "Connecting to device: 187723572702975";

class WindowsBehaviour : public WindowsLinkRoad {
protected:
  void SetUp() override {
    WindowsLinkRoad::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Pace();
  }

  // The pace the run asked for; again after every reset of the fake.
  void Pace() {
    if (const char *percent = std::getenv("VK5_FAKE_TIMING_PERCENT")) fake_.Set("timing_percent", std::atol(percent));
  }

  // The time from `from` (its nth line) to the nth "Device successfully
  // connected.", kept with the test's results.
  double Took(const char *figure, const std::string &from, size_t fromNth, size_t connectedNth) {
    const double start = LoggedAt(from, fromNth), end = LoggedAt(kConnected, connectedNth);
    EXPECT_GE(start, 0) << from;
    const double seconds = end - start;
    RecordProperty(figure, static_cast<int>(seconds * 1000));
    std::printf("figure %s: %.0f ms\n", figure, seconds * 1000);
    return seconds;
  }

  void Link() {
    Start();
    ASSERT_TRUE(host_.WaitForLog(kConnected, 20s));
  }
};

// The first discoveries of a fresh device answer Unreachable; the link
// repeats them on the same device object, asked of the device itself.
class UnreachableAnswers : public WindowsBehaviour, public ::testing::WithParamInterface<int> {};

TEST_P(UnreachableAnswers, ThePistolLinksOnTheOneDeviceWithinFiveSeconds) {
  fake_.Set("first_discoveries_unreachable", GetParam());
  fake_.Set("scan_response", 1);
  const long uncachedBefore = fake_.Count("uncached");
  Link();
  EXPECT_LE(Took("advertising_to_linked_ms", "Found device: Pistol (Address: 187723572702975)", 1, 1), 5.0);
  EXPECT_EQ(host_.CountLog(kConnecting), 1u) << "one device object";
  EXPECT_EQ(host_.CountLog("Failed to get GATT services."), 0u);
  EXPECT_EQ(fake_.Count("uncached") - uncachedBefore, GetParam() + 1) << "the repeats, and the characteristics after";
  EXPECT_EQ(fake_.Count("subscribed"), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, UnreachableAnswers, ::testing::Values(1, 2, 3));

TEST_F(WindowsBehaviour, ALinkThatDropsForAMomentBeforeTheServicesAreListedStands) {
  fake_.Set("blip", 1);
  Link();
  EXPECT_EQ(host_.CountLog("Disconnected from device: Pistol"), 1u) << "the blip was seen";
  EXPECT_FALSE(host_.WaitForLog("Device connection lost.", 1500ms));
  Took("advertising_to_linked_ms", "Found device: Pistol (Address: 187723572702975)", 1, 1);
  EXPECT_EQ(fake_.Count("subscribed"), 1);
}

// After a reset the platform keeps the pistol linked, and silent, for as long
// as it likes; the worker reaches it through its address. The parameter: how
// long the link outlives the Close, and how long Close blocks (milliseconds,
// -1 for ever).
struct AfterClose {
  long disconnectMs;
  long blockMs;
};
class AfterAReset : public WindowsBehaviour, public ::testing::WithParamInterface<AfterClose> {};

TEST_P(AfterAReset, ThePistolStillHeldRelinksThroughItsAddressWithinSixSeconds) {
  Link();
  fake_.Set("close_disconnect_ms", GetParam().disconnectMs);
  fake_.Set("close_block_ms", GetParam().blockMs);
  // The link drops; on the way back every subscription is refused, so the
  // worker resets with the pistol linked.
  fake_.Answer("WriteClientCharacteristicConfigurationDescriptorAsync", 2, 4);
  fake_.Drop(kPistol);
  ASSERT_TRUE(host_.WaitForLog("Target characteristic not found.", 20s));
  ASSERT_TRUE(host_.WaitForLog(kConnected, 20s, 2));
  EXPECT_LE(Took("reset_to_linked_ms", "Target characteristic not found.", 1, 2), 6.0);
  EXPECT_EQ(host_.CountLog("No advertisement heard; trying the last linked device directly."), 1u);
  EXPECT_EQ(fake_.Count("subscribed"), 1);
  EXPECT_LT(Stop(), 1500ms);
}

INSTANTIATE_TEST_SUITE_P(Closes, AfterAReset,
                         ::testing::Values(AfterClose{60000, 0}, AfterClose{-1, 0}, AfterClose{3000, -1}),
                         [](const ::testing::TestParamInfo<AfterClose> &param) {
                           if (param.param.blockMs != 0) return std::string("CloseBlocks");
                           return std::string(param.param.disconnectMs < 0 ? "NeverLetsGo" : "LetsGoAfterAMinute");
                         });

TEST_F(WindowsBehaviour, APairedPistolThatTheSystemLinksIsReachedThroughItsAddress) {
  Link();
  fake_.Set("paired", 1);
  fake_.Drop(kPistol);
  ASSERT_TRUE(host_.WaitForLog("Device connection lost.", 20s));
  ASSERT_TRUE(host_.WaitForLog(kConnected, 20s, 2));
  EXPECT_LE(Took("reset_to_linked_ms", "Device connection lost.", 1, 2), 6.0);
  EXPECT_EQ(host_.CountLog("Found device: Pistol (Address: 187723572702975)"), 1u) << "heard before the pairing only";
  EXPECT_EQ(fake_.Count("subscribed"), 1);
}

TEST_F(WindowsBehaviour, AScanThatAbortsWithoutAStoppedEventIsRebuilt) {
  fake_.Reset(); // the pistol is still switched off
  Pace();
  fake_.Set("radio_off_style", 2);
  Start();
  ASSERT_TRUE(host_.WaitForLog("Starting the advertisement watcher.", 10s));
  std::this_thread::sleep_for(100ms);
  fake_.Radio(false);
  ASSERT_TRUE(host_.WaitForLog("Starting the advertisement watcher.", 5s, 2));
  EXPECT_EQ(host_.CountLog("Watcher stopped."), 0u) << "no event told the worker";
  fake_.Radio(true);
  fake_.AddPistol(kPistol, L"Pistol");
  ASSERT_TRUE(host_.WaitForLog(kConnected, 20s));
  EXPECT_EQ(fake_.Count("subscribed"), 1);
}

TEST_F(WindowsBehaviour, AStartThatRaisesWithTheRadioOffIsTriedAgain) {
  fake_.Set("radio_off_style", 1);
  fake_.Radio(false);
  Start();
  ASSERT_TRUE(host_.WaitForLog("Link error: 0x800710DF.", 10s));
  fake_.Radio(true);
  ASSERT_TRUE(host_.WaitForLog(kConnected, 20s));
}

TEST_F(WindowsBehaviour, AnAdvertisementAfterStopLeavesTheLinkAlone) {
  fake_.Set("late_advertisement", 1);
  Link();
  for (int i = 0; i < 200 && fake_.Count("late") == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_GE(fake_.Count("late"), 1);
  EXPECT_GE(host_.CountLog("Found device: Pistol (Address: 187723572702975)"), 2u) << "the late one was heard";
  EXPECT_FALSE(host_.WaitForLog(kConnecting, 1500ms, 2)) << "and changed nothing";
  EXPECT_EQ(host_.CountLog("Target device found."), 1u);
  EXPECT_EQ(fake_.Count("subscribed"), 1);
}

TEST_F(WindowsBehaviour, DeactivateReturnsWithinASecondAndAHalfWhileCloseBlocks) {
  Link();
  fake_.Set("close_block_ms", -1);
  EXPECT_LT(Stop(), 1500ms);
  EXPECT_EQ(fake_.Count("handlers"), 0) << "every registration was revoked before the Close";
}

} // namespace
