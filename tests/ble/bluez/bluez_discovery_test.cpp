// Scanning through the BlueZ backend against the pistol simulator on a
// private bus, and what scanning does when the bus, BlueZ or the radio is missing.
#include <cstdlib>

#include <gtest/gtest.h>

#include "ble/bluez/bluez_adapter.h"
#include "ble/bluez/bluez_error.h"
#include "support/blocking_wait.h"
#include "tests/ble/bluez/bus_fixture.h"

namespace {

using namespace bluez_test;
using namespace ble;
using ble::bluez::BluezAdapter;

struct Heard {
  std::u16string name;
  std::uint64_t address;
};

struct ScanRecord {
  Recorder<Heard> heard;
  Recorder<BluetoothError> stopped;
};

std::shared_ptr<BluetoothLEAdvertisementWatcher> Watch(Adapter &adapter, ScanRecord &record) {
  auto watcher = adapter.CreateWatcher();
  watcher->ScanningMode(BluetoothLEScanningMode::Active);
  watcher->Received([record](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &args) {
    record.heard.Add({args.Advertisement()->LocalName(), args.BluetoothAddress()});
  });
  watcher->Stopped([record](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementWatcherStoppedEventArgs &args) {
    record.stopped.Add(args.Error());
  });
  return watcher;
}

template <class F> HRESULT CodeOf(F &&f) {
  try {
    f();
  } catch (const hresult_error &e) {
    return e.code();
  }
  return kSOk;
}

TEST(BluezDiscovery, ReportsEachAdvertiserWithItsNameAndAddressAfterAskingForLeOnly) {
  PistolOnBus on({"--pistol", "Pistol@AA:BB:CC:DD:EE:FF", "--pistol", "Pistol K12@11:22:33:44:55:66", "--pistol",
                  "Pistol\xC3\xA9@00:00:00:00:00:01"});
  ScanRecord record;
  auto watcher = Watch(on.adapter, record);
  watcher->Start();
  auto heardName = [&](const std::u16string &name, std::uint64_t address) {
    return record.heard.WaitFor([&](const Heard &h) { return h.name == name && h.address == address; });
  };
  EXPECT_TRUE(heardName(u"Pistol", 0xAABBCCDDEEFF));
  EXPECT_TRUE(heardName(u"Pistol K12", 0x112233445566));
  EXPECT_TRUE(heardName(u"Pistol\u00E9", 0x000000000001));
  EXPECT_NE(on.sim->FindLine("discovery filter from"), "");
  EXPECT_NE(on.sim->FindLine("Transport, DuplicateData"), "");
}

TEST(BluezDiscovery, StopRaisesStoppedOnceAndSilencesTheWatcherUntilTheNextStart) {
  PistolOnBus on;
  ScanRecord record;
  auto watcher = Watch(on.adapter, record);
  watcher->Start();
  ASSERT_TRUE(record.heard.WaitForCount(1));
  watcher->Stop();
  ASSERT_TRUE(record.stopped.WaitForCount(1));
  ASSERT_TRUE(on.sim->WaitForLine("discovery stopped"));
  const std::size_t heardWhileRunning = record.heard.Size();
  // Several advertising intervals of the simulator pass without a report.
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(record.heard.Size(), heardWhileRunning);
  watcher->Stop();
  EXPECT_EQ(record.stopped.Items(), std::vector<BluetoothError>{BluetoothError::Success});

  // BlueZ forgot the RSSI when discovery stopped; the pistol is heard anew.
  watcher->Start();
  EXPECT_TRUE(record.heard.WaitForCount(heardWhileRunning + 1));
  EXPECT_EQ(on.sim->CountLines("discovery started"), 2);
}

// The link scans again only when a stop carries an error, so each way BlueZ
// can end a scan under us must say so, and the watcher must start again once
// the service, the adapter or the radio is back.
// bluetoothd keeps a device's RSSI when discovery ends and sets it to 0: that
// is neither an advertisement nor a sign that the device is still around.
TEST(BluezDiscovery, APistolGoneBetweenTwoScansIsNotReportedByTheSecond) {
  PistolOnBus on;
  ScanRecord record;
  auto watcher = Watch(on.adapter, record);
  watcher->Start();
  ASSERT_TRUE(record.heard.WaitForCount(1));
  watcher->Stop();
  ASSERT_TRUE(on.sim->WaitForLine("discovery stopped"));
  on.sim->Send("drop");
  ASSERT_TRUE(on.sim->WaitForLine("out of range"));
  // A round trip on the same connection: the RSSI reset is in by its answer.
  blocking_get(*on.adapter.FromBluetoothAddressAsync(0xAABBCCDDEEFF));
  const std::size_t heardBefore = record.heard.Size();

  watcher->Start();
  ASSERT_TRUE(Eventually([&] { return on.sim->CountLines("discovery started") == 2; }));
  blocking_get(*on.adapter.FromBluetoothAddressAsync(0xAABBCCDDEEFF));
  EXPECT_EQ(record.heard.Size(), heardBefore);
  on.sim->Send("reappear");
  EXPECT_TRUE(record.heard.WaitForCount(heardBefore + 1));
}

TEST(BluezDiscovery, EveryScanThePlatformEndsStopsWithAnErrorAndTheWatcherStartsAgainOnceItIsBack) {
  PistolOnBus on;
  ScanRecord record;
  auto watcher = Watch(on.adapter, record);
  const std::pair<const char *, const char *> losses[] = {
      {"service stop", "service start"}, {"adapter remove", "adapter add"}, {"power off", "power on"}};
  std::size_t stops = 0;
  for (const auto &[loss, back] : losses) {
    SCOPED_TRACE(loss);
    const std::size_t heard = record.heard.Size();
    watcher->Start();
    ASSERT_TRUE(record.heard.WaitForCount(heard + 1));
    on.sim->Send(loss);
    ASSERT_TRUE(record.stopped.WaitForCount(++stops));
    EXPECT_EQ(record.stopped.Items().back(), BluetoothError::RadioNotAvailable);
    EXPECT_NE(CodeOf([&] { watcher->Start(); }), kSOk);
    on.sim->Send(back);
    EXPECT_TRUE(Eventually([&] { return CodeOf([&] { watcher->Start(); }) == kSOk; }));
    EXPECT_TRUE(record.heard.WaitForCount(heard + 2));
    watcher->Stop();
    ASSERT_TRUE(record.stopped.WaitForCount(++stops));
    EXPECT_EQ(record.stopped.Items().back(), BluetoothError::Success);
  }
}

TEST(BluezDiscovery, StopFromInsideTheReceivedHandlerDoesNotDeadlock) {
  PistolOnBus on;
  ScanRecord record;
  auto watcher = Watch(on.adapter, record);
  // The link stops the watcher from its advertisement handler, on the backend's thread.
  watcher->Received(
      [expected = watcher.get()](BluetoothLEAdvertisementWatcher &sender, BluetoothLEAdvertisementReceivedEventArgs &) {
        EXPECT_EQ(&sender, expected);
        sender.Stop();
      });
  watcher->Start();
  EXPECT_TRUE(record.stopped.WaitForCount(1));
  EXPECT_TRUE(on.sim->WaitForLine("discovery stopped"));
}

TEST(BluezDiscovery, TheSystemBusAdapterHonoursTheBusAddressVariableAndIsThePlatformAdapter) {
  PrivateBus bus;
  auto sim = StartSimulator(bus);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  EXPECT_NE(dynamic_cast<BluezAdapter *>(&PlatformAdapter()), nullptr);
  ScanRecord record;
  auto watcher = Watch(PlatformAdapter(), record);
  watcher->Start();
  EXPECT_TRUE(record.heard.WaitForCount(1));
  watcher.reset();
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(BluezUnavailable, NoBusAtAllRaisesTheNoBusCodeAtOnce) {
  BluezAdapter adapter("unix:path=/nonexistent/vk5-test-bus");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CodeOf([&] { adapter.CreateWatcher(); }), bluez::kErrorNoBus);
  EXPECT_EQ(CodeOf([&] { adapter.FromBluetoothAddressAsync(0xAABBCCDDEEFF); }), bluez::kErrorNoBus);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(BluezUnavailable, ABusWithoutBlueZRaisesServiceNotActive) {
  PrivateBus bus;
  BluezAdapter adapter(bus.address());
  EXPECT_EQ(CodeOf([&] { adapter.CreateWatcher(); }), bluez::kErrorServiceNotActive);
  auto lookup = adapter.FromBluetoothAddressAsync(0xAABBCCDDEEFF);
  EXPECT_EQ(CodeOf([&] { blocking_get(*lookup); }), bluez::kErrorServiceNotActive);
}

TEST(BluezUnavailable, BlueZWithoutAnAdapterRaisesDeviceNotAvailable) {
  PistolOnBus on({"--no-adapter"});
  EXPECT_EQ(CodeOf([&] { on.adapter.CreateWatcher(); }), kErrorDeviceNotAvailable);
}

TEST(BluezUnavailable, APoweredOffAdapterFailsStartWithNotReadyAndStartWorksOnceRetried) {
  PistolOnBus on({"--powered-off"});
  ScanRecord record;
  auto watcher = Watch(on.adapter, record);
  EXPECT_EQ(CodeOf([&] { watcher->Start(); }), bluez::kErrorNotReady);
  EXPECT_EQ(CodeOf([&] { watcher->Start(); }), bluez::kErrorNotReady);
  EXPECT_EQ(record.stopped.Size(), 0u);
}

TEST(BluezUnavailable, LosingTheBusWhileScanningStopsTheWatcherAndLaterCallsRaise) {
  auto bus = std::make_unique<PrivateBus>();
  auto sim = StartSimulator(*bus);
  BluezAdapter adapter(bus->address());
  ScanRecord record;
  auto watcher = Watch(adapter, record);
  watcher->Start();
  ASSERT_TRUE(record.heard.WaitForCount(1));
  bus->Stop();
  EXPECT_TRUE(record.stopped.WaitForCount(1));
  EXPECT_NE(record.stopped.Items().front(), BluetoothError::Success);
  EXPECT_EQ(CodeOf([&] { watcher->Start(); }), bluez::kErrorNoBus);
  EXPECT_EQ(CodeOf([&] { adapter.CreateWatcher(); }), bluez::kErrorNoBus);

  // A bus daemon back at the same address: the adapter connects anew.
  bus->Restart();
  sim = StartSimulator(*bus);
  ScanRecord again;
  auto fresh = Watch(adapter, again);
  fresh->Start();
  EXPECT_TRUE(again.heard.WaitForCount(1));
}

} // namespace
