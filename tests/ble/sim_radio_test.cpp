#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ble/sim/event_threads.h"
#include "ble/sim/radio.h"
#include "support/blocking_wait.h"

using namespace std::chrono_literals;
using namespace ble;
using ble::sim::Completion;
using ble::sim::Op;
using ble::sim::OpScript;

namespace {

constexpr std::uint64_t kAddress = 0xAABBCCDDEEFF;

struct Heard {
  std::u16string name;
  std::uint64_t address;
  std::thread::id thread;
};

class SimRadio : public ::testing::Test {
protected:
  SimRadio() { radio.AddPistol(sim::StandardPistol(kAddress)); }

  std::shared_ptr<BluetoothLEDevice> Device() { return blocking_get(*radio.FromBluetoothAddressAsync(kAddress)); }

  std::shared_ptr<GattCharacteristic> SubscribedCharacteristic(std::shared_ptr<BluetoothLEDevice> device) {
    auto services = blocking_get(*device->GetGattServicesAsync());
    auto service = services->Services()->GetAt(0);
    auto characteristics = blocking_get(*service->GetCharacteristicsAsync());
    auto characteristic = characteristics->Characteristics()->GetAt(0);
    characteristic->ValueChanged([this](GattCharacteristic &, GattValueChangedEventArgs &args) {
      auto reader = DataReader::FromBuffer(*args.CharacteristicValue());
      std::vector<std::uint8_t> bytes(reader->UnconsumedBufferLength());
      reader->ReadBytes(bytes);
      std::lock_guard lock(mutex);
      notifications.push_back(bytes);
    });
    EXPECT_EQ(blocking_get(*characteristic->WriteClientCharacteristicConfigurationDescriptorAsync(
                  GattClientCharacteristicConfigurationDescriptorValue::Notify)),
              GattCommunicationStatus::Success);
    return characteristic;
  }

  std::mutex mutex;
  std::vector<Heard> heard;
  std::vector<std::vector<std::uint8_t>> notifications;
  sim::Radio radio;
};

TEST_F(SimRadio, AdvertisementsReachStartedWatchersOnTheRadiosThread) {
  auto watcher = radio.CreateWatcher();
  int stops = 0;
  watcher->Received([&](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &args) {
    std::lock_guard lock(mutex);
    heard.push_back({args.Advertisement()->LocalName(), args.BluetoothAddress(), std::this_thread::get_id()});
  });
  watcher->Stopped(
      [&](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementWatcherStoppedEventArgs &) { ++stops; });

  radio.Advertise(kAddress, u"Pistol");
  radio.WaitIdle();
  EXPECT_TRUE(heard.empty());

  watcher->Start();
  radio.Advertise(kAddress, u"Pistol K12");
  radio.Advertise(1, u"");
  radio.WaitIdle();
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].name, u"Pistol K12");
  EXPECT_EQ(heard[0].address, kAddress);
  EXPECT_EQ(heard[1].name, u"");
  EXPECT_NE(heard[0].thread, std::this_thread::get_id());

  watcher->Stop();
  watcher->Stop();
  radio.Advertise(kAddress, u"Pistol");
  radio.WaitIdle();
  EXPECT_EQ(heard.size(), 2u);
  EXPECT_EQ(stops, 1);

  watcher->Start();
  radio.StopScanning();
  radio.WaitIdle();
  EXPECT_EQ(stops, 2);
}

TEST_F(SimRadio, ASubscribedCharacteristicReceivesEveryNotificationInOrder) {
  auto device = Device();
  ASSERT_TRUE(device);
  std::vector<BluetoothConnectionStatus> changes;
  device->ConnectionStatusChanged([&](BluetoothLEDevice &sender) { changes.push_back(sender.ConnectionStatus()); });
  EXPECT_EQ(device->ConnectionStatus(), BluetoothConnectionStatus::Disconnected);

  auto characteristic = SubscribedCharacteristic(device);
  EXPECT_EQ(characteristic->Uuid(), BluetoothUuid(0xFFF1));
  radio.Notify(kAddress, BluetoothUuid(0xFFF1), {0x5B, 0, 0, 0, 0, 0x5D});
  radio.Notify(kAddress, BluetoothUuid(0xFFF1), {});
  radio.Notify(kAddress, BluetoothUuid(0xFFF2), {1}); // no such characteristic
  radio.WaitIdle();

  ASSERT_EQ(notifications.size(), 2u);
  EXPECT_EQ(notifications[0], (std::vector<std::uint8_t>{0x5B, 0, 0, 0, 0, 0x5D}));
  EXPECT_TRUE(notifications[1].empty());
  EXPECT_EQ(changes, std::vector<BluetoothConnectionStatus>{BluetoothConnectionStatus::Connected});
  EXPECT_EQ(radio.Subscriptions(kAddress), 1);
}

TEST_F(SimRadio, ALostLinkIsReportedAndEndsTheSubscriptions) {
  auto device = Device();
  std::atomic<int> lost{0};
  device->ConnectionStatusChanged([&](BluetoothLEDevice &sender) {
    if (sender.ConnectionStatus() != BluetoothConnectionStatus::Connected) ++lost;
  });
  auto characteristic = SubscribedCharacteristic(device);
  radio.WaitIdle(); // the handler reads the status when it runs, so let "up" arrive first
  radio.Disconnect(kAddress);
  radio.Notify(kAddress, BluetoothUuid(0xFFF1), {1});
  radio.WaitIdle();
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(notifications.empty());
  EXPECT_EQ(radio.Subscriptions(kAddress), 0);
  EXPECT_FALSE(radio.Connected(kAddress));
}

TEST_F(SimRadio, RefusalsShowAsStatusesNotErrors) {
  auto refusing = sim::StandardPistol(2);
  refusing.acceptsConnections = false;
  radio.AddPistol(refusing);
  auto device = blocking_get(*radio.FromBluetoothAddressAsync(2));
  EXPECT_EQ(blocking_get(*device->GetGattServicesAsync())->Status(), GattCommunicationStatus::Unreachable);

  auto denying = sim::StandardPistol(3);
  denying.services[0].characteristics[0].subscribeStatus = GattCommunicationStatus::AccessDenied;
  radio.AddPistol(denying);
  device = blocking_get(*radio.FromBluetoothAddressAsync(3));
  auto service = blocking_get(*device->GetGattServicesAsync())->Services()->GetAt(0);
  auto characteristic = blocking_get(*service->GetCharacteristicsAsync())->Characteristics()->GetAt(0);
  EXPECT_EQ(blocking_get(*characteristic->WriteClientCharacteristicConfigurationDescriptorAsync(
                GattClientCharacteristicConfigurationDescriptorValue::Notify)),
            GattCommunicationStatus::AccessDenied);
  EXPECT_EQ(radio.Subscriptions(3), 0);
}

TEST_F(SimRadio, AnUnknownAddressOrAnEmptyResultGivesNoDevice) {
  EXPECT_EQ(blocking_get(*radio.FromBluetoothAddressAsync(0)), nullptr);
  radio.Script(Op::FromBluetoothAddressAsync, sim::GivesNothing());
  EXPECT_EQ(blocking_get(*radio.FromBluetoothAddressAsync(kAddress)), nullptr);
  EXPECT_NE(blocking_get(*radio.FromBluetoothAddressAsync(kAddress)), nullptr);
  EXPECT_EQ(radio.Calls(Op::FromBluetoothAddressAsync), 3);
}

TEST_F(SimRadio, ScriptedCallsRaiseTheirCodeOnceOrAlways) {
  auto watcher = radio.CreateWatcher();
  radio.Script(Op::Start, sim::Raises(kEAccessDenied));
  EXPECT_THROW(watcher->Start(), hresult_access_denied);
  EXPECT_NO_THROW(watcher->Start());

  radio.ScriptAlways(Op::CreateWatcher, sim::Raises(kRpcEWrongThread));
  EXPECT_THROW(radio.CreateWatcher(), hresult_wrong_thread);
  EXPECT_THROW(radio.CreateWatcher(), hresult_wrong_thread);
  radio.ClearScripts();
  EXPECT_NO_THROW(radio.CreateWatcher());
}

TEST_F(SimRadio, OperationsEndLaterOnTheRadiosThreadOrInErrorOrCanceled) {
  radio.Script(Op::FromBluetoothAddressAsync, sim::EndsLater(20ms));
  auto later = radio.FromBluetoothAddressAsync(kAddress);
  EXPECT_EQ(later->Status(), AsyncStatus::Started);
  EXPECT_NE(blocking_get(*later), nullptr);

  auto failsLater = sim::EndsInError(kEAccessDenied);
  failsLater.completion = Completion::Later;
  radio.Script(Op::FromBluetoothAddressAsync, failsLater);
  EXPECT_THROW(blocking_get(*radio.FromBluetoothAddressAsync(kAddress)), hresult_access_denied);

  radio.Script(Op::FromBluetoothAddressAsync, sim::EndsCanceled());
  EXPECT_THROW(blocking_get(*radio.FromBluetoothAddressAsync(kAddress)), hresult_canceled);
}

TEST_F(SimRadio, AnOperationThatNeverEndsIsLeftByTheBoundedWait) {
  std::atomic<bool> keepRunning{true};
  radio.Script(Op::FromBluetoothAddressAsync, sim::NeverEnds());
  auto pending = radio.FromBluetoothAddressAsync(kAddress);
  radio.Post([&] { keepRunning = false; }, 20ms);
  EXPECT_THROW(blocking_get(*pending, keepRunning, 60s), hresult_canceled);
  EXPECT_EQ(pending->Status(), AsyncStatus::Canceled);

  keepRunning = true;
  radio.Script(Op::FromBluetoothAddressAsync, sim::IgnoresCancel());
  auto stubborn = radio.FromBluetoothAddressAsync(kAddress);
  EXPECT_THROW(blocking_get(*stubborn, keepRunning, 20ms), hresult_wait_timeout);
  EXPECT_EQ(stubborn->Status(), AsyncStatus::Started);
  EXPECT_EQ(radio.CancelRequests(), 2);
}

TEST_F(SimRadio, AHookRunsInsideTheCallAfterItsEffect) {
  auto device = Device();
  std::atomic<int> changes{0};
  device->ConnectionStatusChanged([&](BluetoothLEDevice &) { ++changes; });
  radio.Script(Op::WriteClientCharacteristicConfigurationDescriptorAsync, sim::RunsInside([this] {
                 EXPECT_EQ(radio.Subscriptions(kAddress), 1);
                 radio.Disconnect(kAddress);
               }));
  SubscribedCharacteristic(device);
  radio.WaitIdle();
  EXPECT_EQ(changes, 2); // up, then down inside the write
  EXPECT_EQ(radio.Subscriptions(kAddress), 0);
}

TEST_F(SimRadio, HandlerFailuresGoBackThroughTheBoundary) {
  auto watcher = radio.CreateWatcher();
  watcher->Received([](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &) {
    throw hresult_wrong_thread();
  });
  watcher->Received([](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &args) {
    args.Advertisement(); // scripted to fail below
  });
  watcher->Start();
  radio.Script(Op::Advertisement, sim::Raises(kEBounds));
  radio.Advertise(kAddress, u"Pistol");
  radio.WaitIdle();
  EXPECT_EQ(radio.HandlerResults(), (std::vector<HRESULT>{kRpcEWrongThread, kEBounds}));
}

TEST_F(SimRadio, RevokedHandlersHearNothingAndNothingOutlivesItsReferences) {
  {
    auto watcher = radio.CreateWatcher();
    int calls = 0;
    auto token = watcher->Received(
        [&](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementReceivedEventArgs &) { ++calls; });
    watcher->Stopped([](BluetoothLEAdvertisementWatcher &, BluetoothLEAdvertisementWatcherStoppedEventArgs &) {});
    EXPECT_EQ(radio.RegisteredHandlers(), 2);
    watcher->Received(token);
    EXPECT_EQ(radio.RegisteredHandlers(), 1);
    watcher->Start();
    radio.Advertise(kAddress, u"Pistol");
    radio.WaitIdle();
    EXPECT_EQ(calls, 0);

    auto device = Device();
    device->ConnectionStatusChanged([](BluetoothLEDevice &) {});
    SubscribedCharacteristic(device);
    radio.Notify(kAddress, BluetoothUuid(0xFFF1), {1, 2});
    radio.WaitIdle();
    EXPECT_GT(radio.LiveObjects(), 0);
  }
  radio.WaitIdle();
  EXPECT_EQ(radio.LiveObjects(), 0);
  EXPECT_EQ(radio.RegisteredHandlers(), 0);
}

TEST_F(SimRadio, AClosedDeviceRaisesAndHearsNothingMore) {
  auto device = Device();
  std::atomic<int> changes{0};
  device->ConnectionStatusChanged([&](BluetoothLEDevice &) { ++changes; });
  SubscribedCharacteristic(device);
  radio.WaitIdle();
  device->Close();
  radio.Notify(kAddress, BluetoothUuid(0xFFF1), {1});
  radio.Disconnect(kAddress);
  radio.WaitIdle();
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(notifications.empty());
  EXPECT_THROW(device->Name(), hresult_error);
  EXPECT_THROW(device->GetGattServicesAsync(), hresult_error);
}

TEST_F(SimRadio, ReadingPastTheEndOfAValueRaisesOutOfBounds) {
  auto device = Device();
  auto characteristic = SubscribedCharacteristic(device);
  std::atomic<int> failures{0};
  characteristic->ValueChanged([&](GattCharacteristic &, GattValueChangedEventArgs &args) {
    auto reader = DataReader::FromBuffer(*args.CharacteristicValue());
    std::vector<std::uint8_t> bytes(reader->UnconsumedBufferLength() + 1);
    try {
      reader->ReadBytes(bytes);
    } catch (const hresult_out_of_bounds &) {
      ++failures;
    }
  });
  radio.Notify(kAddress, BluetoothUuid(0xFFF1), {1, 2, 3});
  radio.WaitIdle();
  EXPECT_EQ(failures, 1);
  ASSERT_EQ(notifications.size(), 1u);
}

} // namespace

// Every idle thread waits for the same delayed entry; the one that runs it
// erases it while the others are still waking from their wait on its time.
TEST(SimEventThreads, DelayedWorkAwaitedByEveryThreadRunsOnce) {
  for (int round = 0; round < 20; ++round) {
    ble::sim::EventThreads threads(4);
    std::atomic<int> ran{0};
    threads.Post([&] { ++ran; }, std::chrono::milliseconds(3));
    threads.WaitIdle();
    EXPECT_EQ(ran.load(), 1);
  }
}
