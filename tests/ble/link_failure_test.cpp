// Every failure the link tests for, and every platform error it does not:
// each is logged, the link is reset, and scanning starts again.
#include "tests/ble/link_fixture.h"

namespace linktest {
namespace {

using ble::GattCommunicationStatus;
using ble::sim::Op;
using ble::sim::OpScript;

TEST_F(LinkTest, AddressZeroIsRejected) {
  StartWorker();
  WaitForScan();
  radio.Advertise(0, u"Pistol");
  ASSERT_TRUE(Logged("Target device address is invalid."));
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(radio.Calls(Op::FromBluetoothAddressAsync), 0);
}

TEST_F(LinkTest, UnknownAddressGivesNoDevice) {
  StartWorker();
  WaitForScan();
  radio.Advertise(kPistol, u"Pistol"); // heard, but no such device to connect to
  ASSERT_TRUE(Logged("Failed to connect to device: 187723572702975"));
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(radio.Calls(Op::Close), 0);
}

TEST_F(LinkTest, ServicesThatCannotBeReadCloseTheDevice) {
  ble::sim::Pistol pistol = ble::sim::StandardPistol(kPistol);
  pistol.servicesStatus = GattCommunicationStatus::Unreachable;
  StartWorker();
  ConnectPistol(pistol);
  ASSERT_TRUE(Logged("Failed to get GATT services."));
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(radio.Calls(Op::Close), 1);
}

TEST_F(LinkTest, DeviceWithoutTheServiceIsDropped) {
  ble::sim::Pistol pistol = ble::sim::StandardPistol(kPistol);
  pistol.services[0].uuid = BluetoothUuid(0x180F);
  StartWorker();
  ConnectPistol(pistol);
  ASSERT_TRUE(Logged("Target characteristic not found."));
  EXPECT_EQ(host.CountLog("Found GATT service: " + kServiceText), 0u);
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(radio.Calls(Op::Close), 1);
}

TEST_F(LinkTest, UnreadableCharacteristicsEndTheServiceSearch) {
  ble::sim::Pistol pistol = ble::sim::StandardPistol(kPistol);
  pistol.services[0].characteristicsStatus = GattCommunicationStatus::ProtocolError;
  pistol.services.push_back(ble::sim::StandardPistol(kPistol).services[0]);
  StartWorker();
  ConnectPistol(pistol);
  ASSERT_TRUE(Logged("Target characteristic not found."));
  EXPECT_EQ(
      Without(LogFrom("Failed to get characteristics for service: " + kServiceText), {"Connected to device: Pistol"}),
      (std::vector<std::string>{"Failed to get characteristics for service: " + kServiceText,
                                "Target characteristic not found."}));
  EXPECT_EQ(radio.Calls(Op::GetCharacteristicsAsync), 1) << "later services are not looked at";
}

TEST_F(LinkTest, RefusedSubscriptionIsNotAConnection) {
  ble::sim::Pistol pistol = ble::sim::StandardPistol(kPistol);
  pistol.services[0].characteristics[0].subscribeStatus = GattCommunicationStatus::AccessDenied;
  StartWorker();
  ConnectPistol(pistol);
  ASSERT_TRUE(Logged("Target characteristic not found."));
  EXPECT_EQ(Without(LogFrom("Subscribing to characteristic: " + kCharacteristicText), {"Connected to device: Pistol"}),
            (std::vector<std::string>{"Subscribing to characteristic: " + kCharacteristicText,
                                      "Failed to subscribe to notifications for characteristic: " + kCharacteristicText,
                                      "Target characteristic not found."}));
  EXPECT_TRUE(Logged("Starting the advertisement watcher.", 2));
}

// A platform error anywhere in the connection sequence: one line with its
// code, a reset, and the next advertisement connects.
TEST_F(LinkTest, EveryConnectionStepSurvivesARaisedError) {
  const Op steps[] = {Op::FromBluetoothAddressAsync,
                      Op::AddConnectionStatusChanged,
                      Op::GetGattServicesAsync,
                      Op::ServicesStatus,
                      Op::Services,
                      Op::ServiceUuid,
                      Op::GetCharacteristicsAsync,
                      Op::CharacteristicsStatus,
                      Op::Characteristics,
                      Op::CharacteristicUuid,
                      Op::AddValueChanged,
                      Op::WriteClientCharacteristicConfigurationDescriptorAsync};
  StartWorker();
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  size_t round = 1, connections = 0;
  for (Op step : steps) {
    SCOPED_TRACE(static_cast<int>(step));
    OpScript fail;
    fail.raise = kEAccessDenied;
    radio.Script(step, fail);
    WaitForScan(round);
    radio.Advertise(kPistol, u"Pistol");
    ASSERT_TRUE(Logged("Starting the advertisement watcher.", round + 1));
    ++round;
    WaitForScan(round);
    radio.Advertise(kPistol, u"Pistol");
    ASSERT_TRUE(Logged("Device successfully connected.", ++connections));
    radio.Disconnect(kPistol);
    ++round;
  }
  // The same error again and again is logged once.
  EXPECT_EQ(host.CountLog("Link error: 0x80070005."), 1u);
}

// Operations that end badly: canceled by the platform, ended in error, or
// never ended (the bound cancels them).
TEST_F(LinkTest, AsynchronousEndingsAreFailuresOfTheirStep) {
  linkTimings.operationTimeout = 100ms;
  struct Case {
    ble::sim::Completion completion;
    AsyncStatus endAs;
    HRESULT errorCode;
    const char *line;
  } cases[] = {
      {ble::sim::Completion::Later, AsyncStatus::Canceled, kSOk, "Link error: 0x800704C7."},
      {ble::sim::Completion::Later, AsyncStatus::Error, kEAccessDenied, "Link error: 0x80070005."},
      {ble::sim::Completion::Never, AsyncStatus::Completed, kSOk, "Link error: 0x800705B4."},
  };
  StartWorker();
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  size_t round = 1;
  for (const Case &c : cases) {
    OpScript script;
    script.completion = c.completion;
    script.delay = 5ms;
    script.endAs = c.endAs;
    script.errorCode = c.errorCode;
    radio.Script(Op::GetGattServicesAsync, script);
    WaitForScan(round);
    radio.Advertise(kPistol, u"Pistol");
    ASSERT_TRUE(Logged(c.line)) << c.line;
    ASSERT_TRUE(Logged("Starting the advertisement watcher.", ++round));
  }
  EXPECT_GE(radio.CancelRequests(), 1);
  WaitForScan(round);
  radio.Advertise(kPistol, u"Pistol");
  EXPECT_TRUE(Logged("Device successfully connected."));
}

TEST_F(LinkTest, WatcherThatCannotStartIsRetried) {
  OpScript fail;
  fail.raise = static_cast<HRESULT>(0x8007001F);
  radio.Script(Op::Start, fail);
  radio.Script(Op::Start, fail);
  StartWorker();
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 3));
  EXPECT_EQ(host.CountLog("Link error: 0x8007001F."), 1u);
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  radio.WaitIdle();
  while (radio.Calls(Op::Start) < 3) std::this_thread::sleep_for(1ms);
  radio.Advertise(kPistol, u"Pistol");
  EXPECT_TRUE(Logged("Device successfully connected."));
}

// A host without a radio: the setup is retried with a growing delay, and the
// log gets one line, not one per attempt.
TEST_F(LinkTest, MissingRadioIsRetriedQuietly) {
  OpScript fail;
  fail.raise = static_cast<HRESULT>(0x800710DF);
  radio.ScriptAlways(Op::CreateWatcher, fail);
  StartWorker();
  while (radio.Calls(Op::CreateWatcher) < 4) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(host.CountLog("Link error: 0x800710DF."), 1u);
  radio.ClearScripts();
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  ASSERT_TRUE(Logged("Starting the advertisement watcher."));
  WaitForScan();
  radio.Advertise(kPistol, u"Pistol");
  EXPECT_TRUE(Logged("Device successfully connected."));
}

TEST_F(LinkTest, HalfMadeWatcherRegistrationsAreRevoked) {
  OpScript fail;
  fail.raise = kEFail;
  radio.Script(Op::AddStopped, fail);
  StartWorker();
  ASSERT_TRUE(Logged("Starting the advertisement watcher."));
  EXPECT_EQ(radio.Calls(Op::CreateWatcher), 2);
  EXPECT_EQ(radio.RegisteredHandlers(), 2) << "only the second watcher's two handlers";
}

} // namespace
} // namespace linktest
