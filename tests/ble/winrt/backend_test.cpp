// The Windows backend against the fake class module: every adapter operation
// the link uses, the events on the fake's threads, waits that are abandoned,
// and the handler objects all gone after their registrations are revoked.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ble/winrt/delegate.h"
#include "ble/winrt/winrt_adapter.h"
#include "support/blocking_wait.h"
#include "tests/common/winrt_fake/fake_module.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kPistol = 0xAABBCCDDEEFF;

bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = 3s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class Backend : public ::testing::Test {
protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "needs the fake class module in place of the runtime's classes";
    fake_ = &Fake();
    fake_->Reset();
    // Each call of the backend on its own: answered at once, links made on the spot.
    fake_->Set("windows", 0);
    fake_->AddPistol(kPistol, L"Pistol");
    // A completion handler of the previous case may still be on its way out
    // on the fake's thread.
    WaitUntil([] { return winrt_abi::LiveHandlerObjects().load() == 0; }, 1s);
    liveBefore_ = winrt_abi::LiveHandlerObjects().load();
  }
  void TearDown() override {
    if (fake_) fake_->Reset();
  }

  template <class T> T Get(const AsyncOperationPtr<T> &operation) { return blocking_get(*operation, running_, 5000ms); }

  ble::Adapter &adapter_ = ble::winrt::WinrtAdapter();
  FakeBle *fake_ = nullptr;
  long liveBefore_ = 0;
  std::atomic<bool> running_{true};
};

TEST_F(Backend, TheWatcherReportsThePistolOnAnotherThreadAndItsHandlersGoWhenRevoked) {
  auto watcher = adapter_.CreateWatcher();
  watcher->ScanningMode(ble::BluetoothLEScanningMode::Active);
  std::atomic<std::uint64_t> heardAddress{0};
  std::atomic<bool> nameMatched{false}, otherThread{false}, stopped{false};
  const auto testThread = std::this_thread::get_id();
  auto received = watcher->Received(
      [&](ble::BluetoothLEAdvertisementWatcher &, ble::BluetoothLEAdvertisementReceivedEventArgs &args) {
        nameMatched = args.Advertisement()->LocalName() == u"Pistol";
        otherThread = std::this_thread::get_id() != testThread;
        heardAddress = args.BluetoothAddress();
      });
  auto stoppedToken = watcher->Stopped([&](ble::BluetoothLEAdvertisementWatcher &,
                                           ble::BluetoothLEAdvertisementWatcherStoppedEventArgs &) { stopped = true; });
  EXPECT_EQ(winrt_abi::LiveHandlerObjects().load(), liveBefore_ + 2);
  watcher->Start();
  ASSERT_TRUE(WaitUntil([&] { return heardAddress.load() != 0; }));
  EXPECT_EQ(heardAddress.load(), kPistol);
  EXPECT_TRUE(nameMatched);
  EXPECT_TRUE(otherThread);
  watcher->Stop();
  EXPECT_TRUE(WaitUntil([&] { return stopped.load(); }));

  watcher->Received(received);
  watcher->Stopped(stoppedToken);
  EXPECT_EQ(fake_->Count("handlers"), 0);
  watcher.reset();
  EXPECT_TRUE(WaitUntil([&] { return winrt_abi::LiveHandlerObjects().load() == liveBefore_; }));
}

TEST_F(Backend, ConnectDiscoverSubscribeNotifyAndDrop) {
  auto device = Get(adapter_.FromBluetoothAddressAsync(kPistol));
  ASSERT_TRUE(device);
  EXPECT_EQ(device->Name(), u"Pistol");
  EXPECT_EQ(device->ConnectionStatus(), ble::BluetoothConnectionStatus::Connected);
  std::atomic<int> statusCalls{0};
  std::atomic<bool> sawDisconnected{false};
  auto statusToken = device->ConnectionStatusChanged([&](ble::BluetoothLEDevice &sender) {
    sawDisconnected = sender.ConnectionStatus() == ble::BluetoothConnectionStatus::Disconnected;
    ++statusCalls;
  });

  auto services = Get(device->GetGattServicesAsync());
  EXPECT_EQ(services->Status(), ble::GattCommunicationStatus::Success);
  auto serviceList = services->Services();
  ASSERT_EQ(serviceList->Size(), 1u);
  EXPECT_THROW(serviceList->GetAt(1), hresult_out_of_bounds);
  auto service = serviceList->GetAt(0);
  EXPECT_EQ(service->Uuid(), BluetoothUuid(0xFFF0));

  auto characteristics = Get(service->GetCharacteristicsAsync());
  EXPECT_EQ(characteristics->Status(), ble::GattCommunicationStatus::Success);
  auto characteristic = characteristics->Characteristics()->GetAt(0);
  EXPECT_EQ(characteristic->Uuid(), BluetoothUuid(0xFFF1));

  std::vector<std::uint8_t> received;
  std::atomic<bool> notified{false};
  auto valueToken = characteristic->ValueChanged([&](ble::GattCharacteristic &, ble::GattValueChangedEventArgs &args) {
    auto reader = ble::DataReader::FromBuffer(*args.CharacteristicValue());
    std::vector<std::uint8_t> bytes(reader->UnconsumedBufferLength());
    reader->ReadBytes(bytes);
    // Reading past the end is the platform's failure, raised.
    std::uint8_t extra[1];
    EXPECT_THROW(reader->ReadBytes(extra), hresult_out_of_bounds);
    received = bytes;
    notified = true;
  });
  EXPECT_EQ(Get(characteristic->WriteClientCharacteristicConfigurationDescriptorAsync(
                ble::GattClientCharacteristicConfigurationDescriptorValue::Notify)),
            ble::GattCommunicationStatus::Success);

  const std::uint8_t trigger[] = {0x5B, 1, 2, 3, 4, 0x5D};
  ASSERT_EQ(fake_->Notify(kPistol, trigger, sizeof trigger), 1);
  ASSERT_TRUE(WaitUntil([&] { return notified.load(); }));
  EXPECT_EQ(received, std::vector<std::uint8_t>(std::begin(trigger), std::end(trigger)));

  fake_->Drop(kPistol);
  ASSERT_TRUE(WaitUntil([&] { return statusCalls.load() == 1; }));
  EXPECT_TRUE(sawDisconnected);

  characteristic->ValueChanged(valueToken);
  device->ConnectionStatusChanged(statusToken);
  EXPECT_EQ(fake_->Count("handlers"), 0);
  device->Close();
  EXPECT_THROW(device->ConnectionStatus(), hresult_error);
  device.reset();
  service.reset();
  characteristic.reset();
  EXPECT_TRUE(WaitUntil([&] { return winrt_abi::LiveHandlerObjects().load() == liveBefore_; }));
}

TEST_F(Backend, AnUnknownAddressGivesNoDeviceAndNoError) {
  EXPECT_EQ(Get(adapter_.FromBluetoothAddressAsync(0x123456)), nullptr);
}

TEST_F(Backend, ARefusedCallRaisesTheClassOfItsCode) {
  fake_->Refuse("FromBluetoothAddressAsync", kEAccessDenied);
  EXPECT_THROW(adapter_.FromBluetoothAddressAsync(kPistol), hresult_access_denied);
  fake_->Refuse("ActivateInstance", static_cast<HRESULT>(0x80070490));
  try {
    adapter_.CreateWatcher();
    FAIL();
  } catch (const hresult_error &error) {
    EXPECT_EQ(error.code(), static_cast<HRESULT>(0x80070490));
  }
}

TEST_F(Backend, AWaitThatIsStoppedCancelsTheOperationAndReturnsAtOnce) {
  fake_->NeverComplete("GetGattServicesAsync", true);
  auto device = Get(adapter_.FromBluetoothAddressAsync(kPistol));
  ASSERT_TRUE(device);
  const long canceledBefore = fake_->Count("canceled");
  auto operation = device->GetGattServicesAsync();
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    running_ = false;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(blocking_get(*operation, running_, 30000ms), hresult_canceled);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(fake_->Count("canceled"), canceledBefore + 1);
  operation.reset();
  device->Close();
  device.reset();
  EXPECT_TRUE(WaitUntil([&] { return winrt_abi::LiveHandlerObjects().load() == liveBefore_; }));
}

TEST_F(Backend, AnOperationAlreadyCompleteIsNotWaitedFor) {
  auto operation = adapter_.FromBluetoothAddressAsync(kPistol);
  ASSERT_TRUE(WaitUntil([&] { return operation->Status() == AsyncStatus::Completed; }));
  auto device = blocking_get(*operation);
  ASSERT_TRUE(device);
  // No completion handler was ever registered.
  EXPECT_EQ(winrt_abi::LiveHandlerObjects().load(), liveBefore_);
  device->Close();
}

} // namespace
