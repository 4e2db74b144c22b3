// Connecting, finding the button characteristic, subscribing, notifications,
// link loss and Close through the BlueZ backend, against the pistol simulator.
#include <atomic>

#include <gtest/gtest.h>

#include "ble/bluez/bluez_adapter.h"
#include "ble/bluez/bluez_error.h"
#include "support/blocking_wait.h"
#include "tests/ble/bluez/bus_fixture.h"

namespace {

using namespace bluez_test;
using namespace ble;
using ble::bluez::BluezAdapter;

constexpr std::uint64_t kPistol = 0xAABBCCDDEEFF;
using Bytes = std::vector<std::uint8_t>;

// Scans until the pistol is heard, as the link does before it connects, so
// that BlueZ has a device object for it.
void Discover(Adapter &adapter) {
  auto watcher = adapter.CreateWatcher();
  Recorder<int> heard;
  watcher->Received([heard](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &args) {
    if (args.BluetoothAddress() == kPistol) heard.Add(1);
  });
  watcher->Start();
  ASSERT_TRUE(heard.WaitForCount(1));
  watcher->Stop();
}

std::shared_ptr<BluetoothLEDevice> Lookup(Adapter &adapter) {
  auto device = blocking_get(*adapter.FromBluetoothAddressAsync(kPistol));
  EXPECT_NE(device, nullptr);
  return device;
}

std::shared_ptr<GattDeviceService> FindService(GattDeviceServicesResult &result, Guid uuid) {
  auto services = result.Services();
  for (std::uint32_t i = 0; i < services->Size(); ++i) {
    if (services->GetAt(i)->Uuid() == uuid) return services->GetAt(i);
  }
  return nullptr;
}

std::shared_ptr<GattCharacteristic> ButtonCharacteristic(BluetoothLEDevice &device) {
  auto services = blocking_get(*device.GetGattServicesAsync());
  EXPECT_EQ(services->Status(), GattCommunicationStatus::Success);
  auto service = FindService(*services, BluetoothUuid(0xFFF0));
  if (!service) return nullptr;
  auto characteristics = blocking_get(*service->GetCharacteristicsAsync());
  EXPECT_EQ(characteristics->Status(), GattCommunicationStatus::Success);
  auto list = characteristics->Characteristics();
  for (std::uint32_t i = 0; i < list->Size(); ++i) {
    if (list->GetAt(i)->Uuid() == BluetoothUuid(0xFFF1)) return list->GetAt(i);
  }
  return nullptr;
}

void RecordValues(GattCharacteristic &characteristic, const Recorder<Bytes> &values) {
  characteristic.ValueChanged([values](GattCharacteristic &, GattValueChangedEventArgs &args) {
    auto reader = DataReader::FromBuffer(*args.CharacteristicValue());
    Bytes bytes(reader->UnconsumedBufferLength());
    reader->ReadBytes(bytes);
    values.Add(bytes);
  });
}

void RecordStatus(BluetoothLEDevice &device, const Recorder<BluetoothConnectionStatus> &statuses) {
  device.ConnectionStatusChanged([statuses](BluetoothLEDevice &sender) { statuses.Add(sender.ConnectionStatus()); });
}

GattCommunicationStatus Subscribe(GattCharacteristic &characteristic) {
  return blocking_get(*characteristic.WriteClientCharacteristicConfigurationDescriptorAsync(
      GattClientCharacteristicConfigurationDescriptorValue::Notify));
}

// Heard in a scan, then looked up: what the link does before it connects.
std::shared_ptr<BluetoothLEDevice> FindPistol(Adapter &adapter) {
  Discover(adapter);
  return Lookup(adapter);
}

// The pistol as the link leaves it once linked: connected, its button
// characteristic subscribed to, every status change from the lookup on recorded.
struct SubscribedPistol {
  std::shared_ptr<BluetoothLEDevice> device;
  Recorder<BluetoothConnectionStatus> statuses;
  std::shared_ptr<GattCharacteristic> characteristic;
};

// Use under ASSERT_NO_FATAL_FAILURE.
void SubscribePistol(Adapter &adapter, SubscribedPistol &pistol) {
  pistol.device = FindPistol(adapter);
  ASSERT_NE(pistol.device, nullptr);
  RecordStatus(*pistol.device, pistol.statuses);
  pistol.characteristic = ButtonCharacteristic(*pistol.device);
  ASSERT_NE(pistol.characteristic, nullptr);
  ASSERT_EQ(Subscribe(*pistol.characteristic), GattCommunicationStatus::Success);
  ASSERT_TRUE(pistol.statuses.WaitForCount(1));
}

TEST(BluezConnection, AnUnknownAddressGivesNoDeviceAndNoError) {
  PistolOnBus on;
  EXPECT_EQ(blocking_get(*on.adapter.FromBluetoothAddressAsync(0x112233445566)), nullptr);
  // Known to the radio only once heard: before any scan the pistol is unknown too.
  EXPECT_EQ(blocking_get(*on.adapter.FromBluetoothAddressAsync(kPistol)), nullptr);
}

TEST(BluezConnection, ConnectsSubscribesAndDeliversEveryPacketIntactAndInOrder) {
  PistolOnBus on;
  auto device = FindPistol(on.adapter);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Name(), u"Pistol");
  EXPECT_EQ(device->ConnectionStatus(), BluetoothConnectionStatus::Disconnected);
  Recorder<BluetoothConnectionStatus> statuses;
  RecordStatus(*device, statuses);

  auto characteristic = ButtonCharacteristic(*device);
  ASSERT_NE(characteristic, nullptr);
  EXPECT_TRUE(statuses.WaitForCount(1));
  EXPECT_EQ(statuses.Items().front(), BluetoothConnectionStatus::Connected);
  EXPECT_EQ(device->ConnectionStatus(), BluetoothConnectionStatus::Connected);

  Recorder<Bytes> values;
  RecordValues(*characteristic, values);
  EXPECT_EQ(Subscribe(*characteristic), GattCommunicationStatus::Success);
  ASSERT_TRUE(on.sim->WaitForLine("subscribed:"));
  // Subscribing again is harmless.
  EXPECT_EQ(Subscribe(*characteristic), GattCommunicationStatus::Success);

  for (const char *command : {"fire", "eject", "load", "fire", "raw 5b ff ff ff ff 5d", "raw 00"})
    on.sim->Send(command);
  ASSERT_TRUE(values.WaitForCount(6));
  const std::vector<Bytes> expected = {{0x5B, 0, 0, 0, 0, 0x5D},
                                       {0x5C, 0x00, 0x5C, 0x5D},
                                       {0x5C, 0x01, 0x5D, 0x5D},
                                       {0x5B, 0, 0, 0, 0, 0x5D},
                                       {0x5B, 0xFF, 0xFF, 0xFF, 0xFF, 0x5D},
                                       {0x00}};
  EXPECT_EQ(values.Items(), expected);
}

TEST(BluezConnection, APeerDroppingTheLinkReportsDisconnectedAndItReconnectsWhenBack) {
  PistolOnBus on;
  SubscribedPistol pistol;
  ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, pistol));

  on.sim->Send("drop");
  ASSERT_TRUE(pistol.statuses.WaitForCount(2));
  EXPECT_EQ(pistol.statuses.Items().back(), BluetoothConnectionStatus::Disconnected);
  EXPECT_EQ(pistol.device->ConnectionStatus(), BluetoothConnectionStatus::Disconnected);
  pistol.device->Close();

  // The device object stays cached in BlueZ; the pistol is found and linked again.
  on.sim->Send("reappear");
  SubscribedPistol again;
  ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, again));
  Recorder<Bytes> values;
  RecordValues(*again.characteristic, values);
  on.sim->Send("fire");
  EXPECT_TRUE(values.WaitForCount(1));
  EXPECT_EQ(on.sim->CountLines("connected: Pistol"), 2);
}

// However the service goes (bluetoothd stopping, the adapter unplugged, the
// radio off), a connected device says so: it is the link's only sign.
TEST(BluezConnection, AConnectedDeviceWhoseServiceGoesReportsDisconnected) {
  for (const char *loss : {"service stop", "adapter remove", "power off"}) {
    SCOPED_TRACE(loss);
    PistolOnBus on;
    SubscribedPistol pistol;
    ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, pistol));

    on.sim->Send(loss);
    ASSERT_TRUE(pistol.statuses.WaitForCount(2));
    EXPECT_EQ(pistol.statuses.Items().back(), BluetoothConnectionStatus::Disconnected);
    EXPECT_EQ(pistol.device->ConnectionStatus(), BluetoothConnectionStatus::Disconnected);
    pistol.device->Close();
  }
}

// BlueZ answers InProgress while an earlier subscription of the same bus
// connection is still being set up; that one may yet fail, so only a
// characteristic that is notifying counts as subscribed.
TEST(BluezConnection, ASubscriptionAnsweredInProgressSucceedsOnlyOnceTheCharacteristicIsNotifying) {
  for (const bool earlierCompletes : {true, false}) {
    SCOPED_TRACE(earlierCompletes ? "the earlier subscription completes" : "it never does");
    PistolOnBus on({"--stall", "StartNotify"});
    auto device = FindPistol(on.adapter);
    ASSERT_NE(device, nullptr);
    auto characteristic = ButtonCharacteristic(*device);
    ASSERT_NE(characteristic, nullptr);
    auto subscribe = [&] {
      return characteristic->WriteClientCharacteristicConfigurationDescriptorAsync(
          GattClientCharacteristicConfigurationDescriptorValue::Notify);
    };
    // The first one is given up on, as the link's bounded wait does.
    auto first = subscribe();
    ASSERT_TRUE(on.sim->WaitForLine("stalled: StartNotify"));
    first->Cancel();

    auto second = subscribe();
    ASSERT_TRUE(on.sim->WaitForLine("InProgress"));
    // A round trip on the same connection: the InProgress answer is in by its reply.
    blocking_get(*on.adapter.FromBluetoothAddressAsync(kPistol));
    EXPECT_EQ(second->Status(), AsyncStatus::Started);
    if (earlierCompletes) {
      on.sim->Send("stall StartNotify off");
      EXPECT_EQ(blocking_get(*second), GattCommunicationStatus::Success);
      Recorder<Bytes> values;
      RecordValues(*characteristic, values);
      on.sim->Send("fire");
      EXPECT_TRUE(values.WaitForCount(1));
    } else {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_NE(blocking_get(*second), GattCommunicationStatus::Success);
      EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    }
  }
}

// The link looks the pistol up again before it lets go of the device from
// the last lookup; both are the one BlueZ device, so closing the old one must
// leave the shared link and its notifications alone.
TEST(BluezConnection, ClosingAnEarlierLookupOfTheSameDeviceLeavesTheNewLinkUp) {
  PistolOnBus on;
  SubscribedPistol pistol;
  ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, pistol));
  auto &earlier = pistol.device;

  auto later = Lookup(on.adapter);
  ASSERT_NE(later, nullptr);
  Recorder<BluetoothConnectionStatus> statuses;
  RecordStatus(*later, statuses);
  earlier->Close();
  auto characteristic = ButtonCharacteristic(*later);
  ASSERT_NE(characteristic, nullptr);
  Recorder<Bytes> values;
  RecordValues(*characteristic, values);
  ASSERT_EQ(Subscribe(*characteristic), GattCommunicationStatus::Success);
  on.sim->Send("fire");
  EXPECT_TRUE(values.WaitForCount(1));
  // A round trip: any Disconnect or StopNotify the old Close sent is answered by now.
  blocking_get(*on.adapter.FromBluetoothAddressAsync(kPistol));
  EXPECT_EQ(on.sim->CountLines("link down"), 0) << on.sim->Output();
  EXPECT_EQ(on.sim->CountLines("unsubscribed:"), 0);
  // The later holder hears of the link it joined, and of nothing else.
  EXPECT_EQ(statuses.Items(), std::vector{BluetoothConnectionStatus::Connected});
  EXPECT_EQ(later->ConnectionStatus(), BluetoothConnectionStatus::Connected);

  // The last holder still ends the link, also after a lookup let go of without Close.
  Lookup(on.adapter).reset();
  later->Close();
  EXPECT_TRUE(on.sim->WaitForLine("link down (Disconnect)"));
}

TEST(BluezConnection, CloseUnsubscribesDisconnectsAndSilencesTheDevice) {
  PistolOnBus on;
  SubscribedPistol pistol;
  ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, pistol));
  auto &device = pistol.device;

  device->Close();
  EXPECT_TRUE(on.sim->WaitForLine("unsubscribed:"));
  EXPECT_TRUE(on.sim->WaitForLine("link down (Disconnect)"));
  // A round trip on the same connection: BlueZ's signals about the link are in by its answer.
  blocking_get(*on.adapter.FromBluetoothAddressAsync(kPistol));
  // The link's own Close must not come back to it as a lost connection.
  EXPECT_EQ(pistol.statuses.Size(), 1u);
  try {
    device->ConnectionStatus();
    ADD_FAILURE() << "a closed device answered";
  } catch (const hresult_error &e) {
    EXPECT_EQ(e.code(), kRoEClosed);
  }
  device->Close();
}

TEST(BluezConnection, ARefusedConnectionIsUnreachableNotAnError) {
  PistolOnBus on({"--refuse-connect"});
  auto device = FindPistol(on.adapter);
  ASSERT_NE(device, nullptr);
  auto services = blocking_get(*device->GetGattServicesAsync());
  EXPECT_EQ(services->Status(), GattCommunicationStatus::Unreachable);
  EXPECT_EQ(services->Services()->Size(), 0u);
}

TEST(BluezConnection, APistolWithoutTheButtonServiceOffersOnlyItsOtherServices) {
  PistolOnBus on({"--hide-service"});
  auto device = FindPistol(on.adapter);
  ASSERT_NE(device, nullptr);
  auto services = blocking_get(*device->GetGattServicesAsync());
  ASSERT_EQ(services->Status(), GattCommunicationStatus::Success);
  // Beside the generic services every peer has.
  EXPECT_EQ(services->Services()->Size(), 4u);
  EXPECT_EQ(FindService(*services, BluetoothUuid(0xFFF0)), nullptr);
  EXPECT_NE(FindService(*services, BluetoothUuid(0x180F)), nullptr);
}

TEST(BluezConnection, ARefusedSubscriptionIsAFailureStatusNotAnError) {
  PistolOnBus on({"--fail-notify"});
  auto device = FindPistol(on.adapter);
  ASSERT_NE(device, nullptr);
  auto characteristic = ButtonCharacteristic(*device);
  ASSERT_NE(characteristic, nullptr);
  EXPECT_NE(Subscribe(*characteristic), GattCommunicationStatus::Success);
}

TEST(BluezConnection, AConnectThatNeverAnswersIsCancelledPromptlyAndAbortedInBlueZ) {
  PistolOnBus on({"--hang-connect"});
  auto device = FindPistol(on.adapter);
  ASSERT_NE(device, nullptr);
  auto operation = device->GetGattServicesAsync();
  ASSERT_TRUE(on.sim->WaitForLine("not answering"));

  // The link's stop: the bounded wait gives up when its flag falls.
  std::atomic<bool> running{true};
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    running = false;
  });
  const auto start = std::chrono::steady_clock::now();
  try {
    blocking_get(*operation, running, std::chrono::milliseconds(30'000));
    ADD_FAILURE() << "the hung connect completed";
  } catch (const hresult_canceled &) {
  }
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(operation->Status(), AsyncStatus::Canceled);
  EXPECT_TRUE(on.sim->WaitForLine("pending Connect aborted by Disconnect"));
}

TEST(BluezConnection, DroppingEveryObjectEndsTheConnectionAndItsDiscoveryInBlueZ) {
  PrivateBus bus;
  auto sim = StartSimulator(bus);
  {
    BluezAdapter adapter(bus.address());
    auto watcher = adapter.CreateWatcher();
    watcher->Start();
    ASSERT_TRUE(sim->WaitForLine("discovery started"));
  }
  // The bus connection closed with the last object, and BlueZ ended its session.
  EXPECT_TRUE(sim->WaitForLine("left the bus"));
}

} // namespace

// bluetoothd answers Connect before it signals Connected, and mostly never
// signals it; the documented daemon signals first. Either way every link is
// reported connected exactly once, and its services are found at once.
TEST(BluezConnection, EveryLinkIsReportedConnectedOnceHoweverBlueZAnnouncesIt) {
  for (const bool ideal : {false, true}) {
    SCOPED_TRACE(ideal ? "the documented daemon" : "bluetoothd as observed");
    PistolOnBus on(ideal ? std::vector<std::string>{"--ideal-bluez", "--disconnect-delay", "0"}
                         : std::vector<std::string>{"--disconnect-delay", "0"});
    Discover(on.adapter);
    // The simulator signals Connected for one link in three.
    for (int link = 1; link <= 3; ++link) {
      SCOPED_TRACE(link);
      auto device = Lookup(on.adapter);
      ASSERT_NE(device, nullptr);
      Recorder<BluetoothConnectionStatus> statuses;
      RecordStatus(*device, statuses);
      auto characteristic = ButtonCharacteristic(*device);
      ASSERT_NE(characteristic, nullptr);
      ASSERT_TRUE(statuses.WaitForCount(1));
      EXPECT_EQ(Subscribe(*characteristic), GattCommunicationStatus::Success);
      EXPECT_EQ(statuses.Items(), std::vector{BluetoothConnectionStatus::Connected});
      EXPECT_EQ(device->ConnectionStatus(), BluetoothConnectionStatus::Connected);
      device->Close();
      ASSERT_TRUE(Eventually([&] { return on.sim->CountLines("link down (Disconnect)") == link; }));
    }
    EXPECT_EQ(on.sim->CountLines("Connect from"), 3);
    EXPECT_EQ(on.sim->CountLines("Connected not signalled"), ideal ? 0 : 2);
  }
}

// The generic services bluetoothd exports beside the pistol's own are offered
// too, and the button service is still found among them.
TEST(BluezConnection, TheButtonServiceIsFoundAmongTheGenericOnes) {
  PistolOnBus on;
  auto device = FindPistol(on.adapter);
  ASSERT_NE(device, nullptr);
  auto services = blocking_get(*device->GetGattServicesAsync());
  ASSERT_EQ(services->Status(), GattCommunicationStatus::Success);
  EXPECT_EQ(services->Services()->Size(), 4u);
  for (const std::uint16_t uuid :
       {std::uint16_t{0x1800}, std::uint16_t{0x1801}, std::uint16_t{0xFFF0}, std::uint16_t{0x180A}})
    EXPECT_NE(FindService(*services, BluetoothUuid(uuid)), nullptr);
  EXPECT_NE(ButtonCharacteristic(*device), nullptr);
}

// Our Disconnect takes bluetoothd seconds; meanwhile the device looks linked
// and resolved, accepts Connect without a fresh link and refuses StartNotify.
// The next lookup waits for it, and the link after it is a fresh one.
TEST(BluezConnection, ALookupWaitsForOurDisconnectAndTheNextLinkIsFresh) {
  PistolOnBus on({"--disconnect-delay", "800"});
  SubscribedPistol pistol;
  ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, pistol));
  pistol.device->Close();
  ASSERT_TRUE(on.sim->WaitForLine("disconnecting: Pistol"));

  auto device = Lookup(on.adapter);
  ASSERT_NE(device, nullptr);
  EXPECT_FALSE(on.sim->FindLine("link down (Disconnect)").empty()) << "the lookup did not wait";
  EXPECT_EQ(device->ConnectionStatus(), BluetoothConnectionStatus::Disconnected);
  Recorder<BluetoothConnectionStatus> statuses;
  RecordStatus(*device, statuses);
  auto characteristic = ButtonCharacteristic(*device);
  ASSERT_NE(characteristic, nullptr);
  EXPECT_EQ(Subscribe(*characteristic), GattCommunicationStatus::Success);
  EXPECT_EQ(on.sim->CountLines("connected: Pistol"), 2);
  EXPECT_EQ(on.sim->CountLines("NotConnected"), 0);
  EXPECT_TRUE(statuses.WaitForCount(1));
}

// The wait is the link's: bounded, and given up at once when the link stops.
TEST(BluezConnection, AWaitForADisconnectEndsPromptlyWhenTheLinkStops) {
  PistolOnBus on({"--disconnect-delay", "20000"});
  SubscribedPistol pistol;
  ASSERT_NO_FATAL_FAILURE(SubscribePistol(on.adapter, pistol));
  pistol.device->Close();
  ASSERT_TRUE(on.sim->WaitForLine("disconnecting: Pistol"));
  auto lookup = on.adapter.FromBluetoothAddressAsync(kPistol);
  std::atomic<bool> running{true};
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    running = false;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(blocking_get(*lookup, running, std::chrono::milliseconds(30'000)), hresult_canceled);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}
