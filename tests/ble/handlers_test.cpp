// The advertisement and connection-status handlers on their own, with a
// hand-made watcher, advertisement and device.
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ble/advertisement_discovery.h"
#include "ble/connection_monitor.h"
#include "ble/link_state.h"
#include "tools/host/dev_host.h"

namespace {

struct FakeAdvertisement : ble::BluetoothLEAdvertisement {
  std::u16string name;
  std::u16string LocalName() override { return name; }
};

struct FakeArgs : ble::BluetoothLEAdvertisementReceivedEventArgs {
  std::shared_ptr<FakeAdvertisement> advertisement = std::make_shared<FakeAdvertisement>();
  std::uint64_t address = 0;
  std::shared_ptr<ble::BluetoothLEAdvertisement> Advertisement() override { return advertisement; }
  std::uint64_t BluetoothAddress() override { return address; }
};

struct FakeWatcher : ble::BluetoothLEAdvertisementWatcher {
  int stops = 0;
  HRESULT stopFails = kSOk;
  void ScanningMode(ble::BluetoothLEScanningMode) override {}
  ble::EventToken Received(ReceivedHandler) override { return {}; }
  void Received(ble::EventToken) override {}
  ble::EventToken Stopped(StoppedHandler) override { return {}; }
  void Stopped(ble::EventToken) override {}
  void Start() override {}
  void Stop() override {
    ++stops;
    if (stopFails < 0) raise_platform_error(stopFails);
  }
};

struct FakeDevice : ble::BluetoothLEDevice {
  ble::BluetoothConnectionStatus status = ble::BluetoothConnectionStatus::Connected;
  std::u16string name = u"Pistol";
  bool nameFails = false;
  ble::EventToken ConnectionStatusChanged(ConnectionStatusChangedHandler) override { return {}; }
  void ConnectionStatusChanged(ble::EventToken) override {}
  ble::BluetoothConnectionStatus ConnectionStatus() override { return status; }
  std::u16string Name() override {
    if (nameFails) throw hresult_wrong_thread();
    return name;
  }
  AsyncOperationPtr<std::shared_ptr<ble::GattDeviceServicesResult>> GetGattServicesAsync() override {
    throw hresult_not_implemented();
  }
  void Close() override {}
};

class Handlers : public ::testing::Test {
protected:
  void SetUp() override { vr::VRDriverContext() = &host; }
  void TearDown() override { vr::CleanupDriverContext(); }

  void Hear(std::u16string name, std::uint64_t address) {
    FakeArgs args;
    args.advertisement->name = std::move(name);
    args.address = address;
    OnAdvertisementReceived(targetAddress, watcher, phase, args);
  }

  devhost::DevHost host;
  std::atomic<std::uint64_t> targetAddress{0};
  std::atomic<std::int32_t> phase{Scanning};
  FakeWatcher watcher;
};

TEST(PistolName, MatchesOnlyTheTwoNamesExactly) {
  EXPECT_TRUE(IsPistolName(u"Pistol"));
  EXPECT_TRUE(IsPistolName(u"Pistol K12"));
  for (const char16_t *name : {u"pistol", u"Pistol ", u" Pistol", u"Pistol K1", u"Pistol K12X", u"PISTOL", u""})
    EXPECT_FALSE(IsPistolName(name));
  EXPECT_FALSE(IsPistolName(std::u16string(u"Pistol\0", 7)));
}

TEST_F(Handlers, NamelessAdvertisementChangesNothing) {
  Hear(u"", 0xAABBCCDDEEFF);
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_EQ(targetAddress.load(), 0u);
  EXPECT_EQ(phase.load(), Scanning);
}

TEST_F(Handlers, PistolIsRecordedAndTheWatcherStopped) {
  Hear(u"Pistol", 0xAABBCCDDEEFF);
  EXPECT_EQ(host.LogLines(),
            (std::vector<std::string>{"Found device: Pistol (Address: 187723572702975)", "Target device found."}));
  EXPECT_EQ(targetAddress.load(), 0xAABBCCDDEEFFu);
  EXPECT_EQ(watcher.stops, 1);
  EXPECT_EQ(phase.load(), TargetFound);
}

TEST_F(Handlers, OnlyAMatchWhileScanningActsALateOneChangesNothing) {
  for (std::int32_t other : {StartScan, TargetFound, ConnectionLost, Connected}) {
    phase = other;
    Hear(u"Pistol", 1);
    EXPECT_EQ(phase.load(), other);
  }
  EXPECT_EQ(targetAddress.load(), 0u);
  EXPECT_EQ(watcher.stops, 0);
  EXPECT_EQ(host.CountLog("Target device found."), 0u);
  EXPECT_EQ(host.CountLog("Found device: Pistol (Address: 1)"), 4u) << "still logged as found";

  phase = Scanning;
  Hear(u"Pistol K12", 0xFFFFFFFFFFFF);
  Hear(u"Pistol", 1); // the late one, after the first moved the phase on
  EXPECT_EQ(targetAddress.load(), 0xFFFFFFFFFFFFu);
  EXPECT_EQ(watcher.stops, 1);
  EXPECT_EQ(phase.load(), TargetFound);

  phase = Scanning;
  Hear(u"Pistol", 0);
  EXPECT_EQ(targetAddress.load(), 0u) << "address 0 is stored as it comes";
}

TEST_F(Handlers, FailedStopLeavesTheWorkerScanning) {
  watcher.stopFails = kEAccessDenied;
  EXPECT_THROW(Hear(u"Pistol", 42), hresult_access_denied);
  EXPECT_EQ(targetAddress.load(), 42u);
  EXPECT_EQ(phase.load(), Scanning);
  EXPECT_EQ(host.LogLines().back(), "Target device found.");
}

struct FakeStoppedArgs : ble::BluetoothLEAdvertisementWatcherStoppedEventArgs {
  ble::BluetoothError error = ble::BluetoothError::Success;
  HRESULT fails = kSOk;
  ble::BluetoothError Error() override {
    if (fails < 0) raise_platform_error(fails);
    return error;
  }
};

// Our own Stop only logs; a stop the platform made asks for a new scan, and a
// reason that cannot be read still leaves the line in the log.
TEST_F(Handlers, WatcherStopIsLoggedAndOnlyAPlatformStopAsksForANewScan) {
  std::atomic<bool> interrupted{false};
  FakeStoppedArgs args;
  OnWatcherStopped(interrupted, args);
  EXPECT_FALSE(interrupted.load());
  args.error = ble::BluetoothError::RadioNotAvailable;
  OnWatcherStopped(interrupted, args);
  EXPECT_TRUE(interrupted.load());
  interrupted = false;
  args.fails = kEAccessDenied;
  EXPECT_THROW(OnWatcherStopped(interrupted, args), hresult_access_denied);
  EXPECT_FALSE(interrupted.load());
  EXPECT_EQ(host.LogLines(), std::vector<std::string>(3, "Watcher stopped."));
  EXPECT_EQ(phase.load(), Scanning) << "the handler never writes the phase";
}

TEST_F(Handlers, ConnectedIsLoggedAndChangesNothing) {
  FakeDevice device;
  phase = TargetFound;
  OnConnectionStatusChanged(phase, device);
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Connected to device: Pistol"});
  EXPECT_EQ(phase.load(), TargetFound);
}

TEST_F(Handlers, AnythingButConnectedIsALossInEveryPhase) {
  FakeDevice device;
  device.name = u"";
  for (std::int32_t before : {StartScan, Scanning, TargetFound, Connected}) {
    phase = before;
    device.status = static_cast<ble::BluetoothConnectionStatus>(before == Connected ? 7 : 0);
    OnConnectionStatusChanged(phase, device);
    EXPECT_EQ(phase.load(), ConnectionLost);
  }
  EXPECT_EQ(host.LogLines().front(), "Disconnected from device: ");
}

TEST_F(Handlers, TheLossIsLoggedBeforeThePhaseChanges) {
  FakeDevice device;
  device.status = ble::BluetoothConnectionStatus::Disconnected;
  phase = Connected;
  std::int32_t phaseWhenLogged = -1;
  host.SetListener([&](const devhost::Event &e) {
    if (e.kind == devhost::Event::Kind::Log) phaseWhenLogged = phase.load();
  });
  OnConnectionStatusChanged(phase, device);
  EXPECT_EQ(phaseWhenLogged, Connected);
  EXPECT_EQ(phase.load(), ConnectionLost);
}

TEST_F(Handlers, UnreadableNameChangesNothing) {
  FakeDevice device;
  device.nameFails = true;
  device.status = ble::BluetoothConnectionStatus::Disconnected;
  phase = Connected;
  EXPECT_EQ(handler_boundary([&] { OnConnectionStatusChanged(phase, device); }), static_cast<HRESULT>(0x8001010E));
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_EQ(phase.load(), Connected);
}

TEST_F(Handlers, NonAsciiNamesAreLoggedAsUtf8) {
  FakeDevice device;
  device.name = u"Pist\u00f6l";
  OnConnectionStatusChanged(phase, device);
  EXPECT_EQ(host.LogLines().back(), "Connected to device: Pist\xC3\xB6l");
}

} // namespace
