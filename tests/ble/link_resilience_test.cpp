// What the platform does that a quick, obliging radio never does: first
// answers that fail on a device that is there, late advertisements, a scan
// that aborts without a word, a pistol that stays linked (and silent) after
// a reset, a Close that blocks. The link rides them out.
#include "tests/ble/link_fixture.h"

namespace linktest {
namespace {

using ble::sim::Op;
using Clock = std::chrono::steady_clock;

class LinkResilience : public LinkTest {
protected:
  void SetUp() override {
    LinkTest::SetUp();
    linkTimings.directLookupDelay = 60ms;
    linkTimings.maxDirectLookupDelay = 240ms;
  }

  void Link() {
    StartWorker();
    ConnectPistol();
    ASSERT_TRUE(Logged("Device successfully connected."));
  }

  // The worker's lines from `from` on, without those of the platform's threads.
  std::vector<std::string> WorkerLines(const std::string &from) const {
    return Without(LogFrom(from), {"Watcher stopped.", "Connected to device: Pistol"});
  }

  const std::vector<std::string> kSequence{
      "Connecting to device: 187723572702975", "Found GATT service: " + kServiceText,
      "Subscribing to characteristic: " + kCharacteristicText,
      "Successfully subscribed to notifications for characteristic: " + kCharacteristicText,
      "Device successfully connected."};
};

// Each step answering Unreachable up to three times still links, on the one
// device object, with the repeats asked of the device rather than the cache.
TEST_F(LinkResilience, UpToThreeUnreachableAnswersAreRepeatedOnTheSameDevice) {
  radio.AnswerUnreachable(kPistol, Op::GetGattServicesAsync, 3);
  Link();
  EXPECT_EQ(WorkerLines("Connecting to device: 187723572702975"), kSequence)
      << "no failure line for a repeat that works";
  EXPECT_EQ(radio.Calls(Op::FromBluetoothAddressAsync), 1);
  EXPECT_EQ(radio.Calls(Op::GetGattServicesAsync), 1);
  EXPECT_EQ(radio.Calls(Op::GetGattServicesWithCacheModeAsync), 3);
  EXPECT_EQ(radio.Calls(Op::Close), 0);
  EXPECT_EQ(radio.Subscriptions(kPistol), 1);
}

TEST_F(LinkResilience, CharacteristicsAndSubscriptionShareTheRepeats) {
  radio.AnswerUnreachable(kPistol, Op::GetCharacteristicsAsync, 1);
  radio.AnswerUnreachable(kPistol, Op::WriteClientCharacteristicConfigurationDescriptorAsync, 2);
  Link();
  EXPECT_EQ(WorkerLines("Connecting to device: 187723572702975"), kSequence);
  EXPECT_EQ(radio.Calls(Op::GetCharacteristicsAsync), 1);
  EXPECT_EQ(radio.Calls(Op::GetCharacteristicsWithCacheModeAsync), 1);
  EXPECT_EQ(radio.Calls(Op::WriteClientCharacteristicConfigurationDescriptorAsync), 3);
  EXPECT_EQ(radio.Subscriptions(kPistol), 1);
}

TEST_F(LinkResilience, AFourthFailureEndsInTheFailureLineAndAReset) {
  radio.AnswerUnreachable(kPistol, Op::GetGattServicesAsync, 4);
  StartWorker();
  ConnectPistol();
  ASSERT_TRUE(Logged("Failed to get GATT services."));
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(radio.Calls(Op::GetGattServicesAsync) + radio.Calls(Op::GetGattServicesWithCacheModeAsync), 4);
  EXPECT_EQ(radio.Calls(Op::Close), 1);
  EXPECT_EQ(host.CountLog("Failed to get GATT services."), 1u) << "one line for the four tries";
}

TEST_F(LinkResilience, AStopDuringTheRepeatsEndsTheWorkerAtOnce) {
  linkTimings.pollPeriod = 2s; // the pause between tries
  radio.AnswerUnreachable(kPistol, Op::GetGattServicesAsync, 4);
  StartWorker();
  ConnectPistol();
  while (radio.Calls(Op::GetGattServicesAsync) == 0) std::this_thread::sleep_for(1ms);
  const auto start = Clock::now();
  StopWorker();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(host.CountLog("Failed to get GATT services."), 0u);
}

TEST_F(LinkResilience, ALateAdvertisementLeavesTheLinkAlone) {
  Link();
  radio.Advertise(kPistol, u"Pistol", ble::sim::Radio::Heard::EvenAfterStop);
  ASSERT_TRUE(Logged("Found device: Pistol (Address: 187723572702975)", 2));
  std::this_thread::sleep_for(50ms); // ten passes
  EXPECT_EQ(host.CountLog("Connecting to device: 187723572702975"), 1u);
  EXPECT_EQ(radio.Calls(Op::Close), 0);
  EXPECT_EQ(radio.Subscriptions(kPistol), 1);
}

TEST_F(LinkResilience, AWatcherThatAbortsWithoutAWordIsRebuilt) {
  StartWorker();
  WaitForScan();
  radio.AbortScanning();
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(host.CountLog("Watcher stopped."), 0u);
  EXPECT_EQ(radio.Calls(Op::CreateWatcher), 2);
  ConnectPistol(ble::sim::StandardPistol(kPistol), 2);
  EXPECT_TRUE(Logged("Device successfully connected."));
}

// The pistol the platform still holds (or connected by itself) sends no
// advertisement: after a quiet spell the last linked address is tried.
TEST_F(LinkResilience, AfterALossASilentPistolIsReachedByItsAddress) {
  Link();
  radio.Disconnect(kPistol);
  ASSERT_TRUE(Logged("Device connection lost."));
  ASSERT_TRUE(Logged("No advertisement heard; trying the last linked device directly."));
  ASSERT_TRUE(Logged("Device successfully connected.", 2));
  const std::vector<std::string> after = WorkerLines("No advertisement heard; trying the last linked device directly.");
  EXPECT_EQ(std::vector<std::string>(after.begin() + 1, after.end()), kSequence)
      << "the normal connection sequence follows";
  EXPECT_EQ(radio.Calls(Op::FromBluetoothAddressAsync), 2);
  EXPECT_EQ(radio.Subscriptions(kPistol), 1);
}

TEST_F(LinkResilience, DirectTriesSpreadOutWhileThePistolIsGone) {
  Link();
  radio.RemovePistol(kPistol);
  radio.Disconnect(kPistol);
  ASSERT_TRUE(Logged("Failed to connect to device: 187723572702975", 3));
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 4)) << "scanning goes on between the tries";
  // An advertisement still wins over the next direct try.
  ConnectPistol(ble::sim::StandardPistol(kPistol), host.CountLog("Starting the advertisement watcher."));
  EXPECT_TRUE(Logged("Device successfully connected.", 2));
}

TEST_F(LinkResilience, NoAddressIsTriedBeforeTheFirstLink) {
  linkTimings.directLookupDelay = 5ms;
  StartWorker();
  WaitForScan();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(radio.Calls(Op::FromBluetoothAddressAsync), 0);
}

TEST_F(LinkResilience, ACloseThatBlocksHoldsNeitherTheResetNorTheStop) {
  Link();
  radio.ScriptAlways(Op::Close, ble::sim::RunsInside([] { std::this_thread::sleep_for(3s); }));
  radio.Disconnect(kPistol);
  ASSERT_TRUE(Logged("Device connection lost."));
  // The reset leaves the close behind; the direct try links again meanwhile.
  ASSERT_TRUE(Logged("Device successfully connected.", 2));
  const auto start = Clock::now();
  StopWorker();
  EXPECT_LT(Clock::now() - start, 1500ms);
}

} // namespace
} // namespace linktest
