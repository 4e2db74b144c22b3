// The link from scan to subscription and back to scanning after a loss.
#include <set>

#include "tests/ble/link_fixture.h"

namespace linktest {
namespace {

using ble::sim::Op;

TEST_F(LinkTest, ScansConnectsSubscribesAndRescansAfterALoss) {
  StartWorker();
  ConnectPistol();
  ASSERT_TRUE(Logged("Device successfully connected."));
  // Lines of the platform's own threads may fall anywhere after their cause.
  EXPECT_TRUE(Logged("Watcher stopped."));
  EXPECT_TRUE(Logged("Connected to device: Pistol"));
  EXPECT_EQ(
      Without(LogFrom("Found device: Pistol (Address: 187723572702975)"),
              {"Watcher stopped.", "Connected to device: Pistol"}),
      (std::vector<std::string>{"Found device: Pistol (Address: 187723572702975)", "Target device found.",
                                "Connecting to device: 187723572702975", "Found GATT service: " + kServiceText,
                                "Subscribing to characteristic: " + kCharacteristicText,
                                "Successfully subscribed to notifications for characteristic: " + kCharacteristicText,
                                "Device successfully connected."}));

  radio.Notify(kPistol, kCharacteristic, {0x5B, 0, 0, 0, 0, 0x5D});
  ASSERT_TRUE(Logged("Received data: 91 0 0 0 0 93 END"));
  EXPECT_TRUE(inputLatches.fire.load());

  radio.Disconnect(kPistol);
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(LogFrom("Disconnected from device: Pistol"),
            (std::vector<std::string>{"Disconnected from device: Pistol", "Device connection lost.",
                                      "Starting the advertisement watcher."}));
  EXPECT_EQ(radio.Calls(Op::Close), 1);
}

TEST_F(LinkTest, IgnoresOtherNamesAndAdvertisementsWithoutOne) {
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  StartWorker();
  WaitForScan();
  radio.Advertise(0x1111, u"");
  radio.Advertise(0x2222, u"pistol");
  radio.Advertise(0x3333, u"Pistol K1");
  radio.Advertise(0x4444, u"Pistol\u00e9");
  radio.WaitIdle();
  const std::vector<std::string> lines = host.LogLines();
  EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()),
            (std::multiset<std::string>{
                "Vantorelle Running", "Starting the advertisement watcher.", "Found device: pistol (Address: 8738)",
                "Found device: Pistol K1 (Address: 13107)", "Found device: Pistol\xC3\xA9 (Address: 17476)"}));
  radio.Advertise(kPistol, u"Pistol K12");
  EXPECT_TRUE(Logged("Device successfully connected."));
}

TEST_F(LinkTest, ReconnectsAcrossManyDrops) {
  StartWorker();
  ConnectPistol();
  for (size_t round = 2; round <= 4; ++round) {
    ASSERT_TRUE(Logged("Device successfully connected.", round - 1));
    radio.Disconnect(kPistol);
    WaitForScan(round);
    radio.Advertise(kPistol, u"Pistol");
  }
  ASSERT_TRUE(Logged("Device successfully connected.", 4));
  // A status event already on its way when a link is reset may still report
  // the loss once more; it costs one extra rescan, never a missed one.
  EXPECT_GE(host.CountLog("Device connection lost."), 3u);
}

TEST_F(LinkTest, SubscribesToEveryMatchingCharacteristic) {
  ble::sim::Pistol pistol = ble::sim::StandardPistol(kPistol);
  pistol.services[0].characteristics.push_back({kCharacteristic});
  pistol.services.insert(pistol.services.begin(),
                         ble::sim::SimService{BluetoothUuid(0x180F), ble::GattCommunicationStatus::Success, {}});
  StartWorker();
  ConnectPistol(pistol);
  ASSERT_TRUE(Logged("Device successfully connected."));
  EXPECT_EQ(host.CountLog("Successfully subscribed to notifications for characteristic: " + kCharacteristicText), 2u);
  EXPECT_EQ(host.CountLog("Found GATT service: " + kServiceText), 1u);
  EXPECT_EQ(host.CountLog("Device successfully connected."), 1u);
  EXPECT_EQ(radio.Subscriptions(kPistol), 2);
}

TEST_F(LinkTest, DoesNotStartWhenAlreadyStopped) {
  linkRunning = false;
  worker = std::thread(LinkWorker);
  worker.join();
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Vantorelle Running"});
  EXPECT_EQ(radio.Calls(Op::CreateWatcher), 1);
  EXPECT_EQ(radio.Calls(Op::AddReceived), 1);
  EXPECT_EQ(radio.Calls(Op::AddStopped), 1);
  EXPECT_EQ(radio.Calls(Op::Start), 0);
}

} // namespace
} // namespace linktest
