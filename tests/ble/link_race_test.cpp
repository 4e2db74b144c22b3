// Races between the worker and the platform's threads, provoked on purpose,
// and stops in every phase.
#include "tests/ble/link_fixture.h"

namespace linktest {
namespace {

using ble::sim::Op;
using ble::sim::OpScript;

// The pistol is reported while Start is still running: its TargetFound must
// not be overwritten with Scanning, or the worker waits on a stopped watcher.
TEST_F(LinkTest, TargetReportedInsideStartIsKept) {
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  OpScript start;
  start.inside = [this] {
    radio.Advertise(kPistol, u"Pistol");
    radio.WaitIdle();
  };
  radio.Script(Op::Start, start);
  StartWorker();
  EXPECT_TRUE(Logged("Device successfully connected."));
}

// The link drops while the subscription is being written: the worker must
// not report it as connected and stay there.
TEST_F(LinkTest, LossDuringTheConnectionSequenceLeadsToARescan) {
  OpScript write;
  write.inside = [this] {
    radio.Disconnect(kPistol);
    radio.WaitIdle();
  };
  radio.Script(Op::WriteClientCharacteristicConfigurationDescriptorAsync, write);
  StartWorker();
  ConnectPistol();
  ASSERT_TRUE(Logged("Device connection lost."));
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 2));
}

// After a reset nothing of the old device may reach the link.
TEST_F(LinkTest, ResetRevokesTheDroppedDevicesRegistrations) {
  StartWorker();
  ConnectPistol();
  ASSERT_TRUE(Logged("Device successfully connected."));
  EXPECT_EQ(radio.RegisteredHandlers(), 4); // Received, Stopped, ConnectionStatusChanged, ValueChanged
  radio.Disconnect(kPistol);
  WaitForScan(2);
  EXPECT_EQ(radio.RegisteredHandlers(), 2);
}

// Stopping must never wait on the radio: an operation that never ends is
// abandoned when the worker is told to stop.
TEST_F(LinkTest, StopsWhileAnOperationNeverEnds) {
  for (Op op : {Op::FromBluetoothAddressAsync, Op::GetGattServicesAsync, Op::GetCharacteristicsAsync,
                Op::WriteClientCharacteristicConfigurationDescriptorAsync}) {
    SCOPED_TRACE(static_cast<int>(op));
    OpScript hang;
    hang.completion = ble::sim::Completion::NeverEvenIfCanceled;
    radio.Script(op, hang);
    const size_t connecting = host.CountLog("Connecting to device: 187723572702975");
    const size_t scans = host.CountLog("Starting the advertisement watcher.");
    StartWorker();
    ConnectPistol(ble::sim::StandardPistol(kPistol), scans + 1);
    ASSERT_TRUE(Logged("Connecting to device: 187723572702975", connecting + 1));
    while (radio.Calls(op) == 0) std::this_thread::sleep_for(1ms);
    StopWorker();
    radio.WaitIdle();
    EXPECT_EQ(radio.RegisteredHandlers(), 0);
    radio.ClearScripts();
  }
}

TEST_F(LinkTest, StopsInEveryPhase) {
  // Scanning
  StartWorker();
  WaitForScan();
  StopWorker();
  EXPECT_EQ(radio.Calls(Op::Close), 0);
  // Connected, with a notification arriving as it stops
  StartWorker();
  ConnectPistol(ble::sim::StandardPistol(kPistol), 2);
  ASSERT_TRUE(Logged("Device successfully connected."));
  radio.Notify(kPistol, kCharacteristic, {0x5C, 0x00, 0x5C, 0x5D});
  StopWorker();
  radio.WaitIdle();
  EXPECT_EQ(radio.Calls(Op::Close), 1) << "the worker closes the device it leaves";
}

// Events keep coming from the radio's threads while the worker ends: no
// handler may touch freed state (ASan) or race it (TSan).
TEST_F(LinkTest, EventsRacingTheStopTouchNothingFreed) {
  for (int i = 0; i < 20; ++i) {
    StartWorker();
    ConnectPistol(ble::sim::StandardPistol(kPistol), static_cast<size_t>(i + 1));
    ASSERT_TRUE(Logged("Device successfully connected.", static_cast<size_t>(i + 1)));
    for (int k = 0; k < 5; ++k) {
      radio.Notify(kPistol, kCharacteristic, {0x5B, 0, 0, 0, 0, 0x5D});
      radio.Advertise(kPistol, u"Pistol");
    }
    radio.Disconnect(kPistol);
    StopWorker();
  }
  radio.WaitIdle();
}

} // namespace
} // namespace linktest
