#include "ble/link_worker.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <thread>

#include "ble/advertisement_discovery.h"
#include "ble/connection_monitor.h"
#include "ble/link_release.h"
#include "ble/packet_decoder.h"
#include "support/apartment.h"
#include "support/blocking_wait.h"
#include "support/host_log.h"
#include "support/log_text.h"

std::atomic<bool> linkRunning{true};
LinkTimings linkTimings;

namespace {

constexpr Guid kTargetService = BluetoothUuid(0xFFF0);
constexpr Guid kTargetCharacteristic = BluetoothUuid(0xFFF1);

using Clock = std::chrono::steady_clock;

// Sleeps up to `duration`, waking early once the worker is told to stop.
void SleepWhileRunning(std::chrono::milliseconds duration) {
  const auto end = Clock::now() + duration;
  constexpr auto kSlice = std::chrono::milliseconds(10);
  while (linkRunning.load()) {
    const auto now = Clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, end - now));
  }
}

// Bounded, and abandoned when the worker is told to stop: a radio that never
// answers must not hold the host's thread in Deactivate.
template <class T> T Await(const AsyncOperationPtr<T> &operation) {
  return blocking_get(*operation, linkRunning, linkTimings.operationTimeout);
}

// One line per failure code, and the same code at most once a minute, so a
// host without a radio does not fill its log even when errors alternate.
class ErrorReport {
public:
  void Failed(HRESULT code) {
    const auto now = Clock::now();
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry &e) { return e.code == code; });
    if (entry == entries_.end()) {
      // A new code takes the place of the one logged longest ago, or never.
      entry = std::min_element(entries_.begin(), entries_.end(),
                               [](const Entry &a, const Entry &b) { return a.lastLogged < b.lastLogged; });
    } else if (now - entry->lastLogged < linkTimings.repeatedErrorLogInterval) {
      return;
    }
    *entry = Entry{code, now};
    char line[40];
    std::snprintf(line, sizeof line, "Link error: 0x%08X.", static_cast<unsigned>(code));
    LogLine(line);
  }

private:
  struct Entry {
    HRESULT code = kSOk; // never a failure code
    Clock::time_point lastLogged{};
  };
  std::array<Entry, 8> entries_{};
};

class Link {
public:
  Link() : state_(std::make_shared<LinkState>()) {}

  void Run() {
    LogLine("Vantorelle Running");
    if (!SetUp()) return TearDown();
    while (linkRunning.load()) {
      SleepWhileRunning(linkTimings.pollPeriod);
      if (!linkRunning.load()) break;
      try {
        Pass();
      } catch (...) {
        const HRESULT code = current_failure_code();
        if (!linkRunning.load()) break; // the stop cancelled a wait
        errors_.Failed(code);
        try {
          ResetLink(*state_);
        } catch (...) {
          errors_.Failed(current_failure_code());
        }
      }
    }
    TearDown();
  }

private:
  // Apartment, watcher and its two registrations; retried with a growing
  // delay while the worker runs, since the radio may appear later.
  bool SetUp() {
    auto delay = std::chrono::milliseconds(250);
    for (;;) {
      try {
        JoinMultithreadedApartment();
        CreateWatcher();
        return true;
      } catch (...) {
        const HRESULT code = current_failure_code();
        // Whatever a half-made registration still delivers goes to the old state.
        DiscardWatcher();
        if (!linkRunning.load()) return false;
        errors_.Failed(code);
      }
      SleepWhileRunning(delay);
      if (!linkRunning.load()) return false;
      delay = std::min(delay * 2, linkTimings.maxSetupRetryDelay);
    }
  }

  void CreateWatcher() {
    LinkState &s = *state_;
    s.watcher = ble::PlatformAdapter().CreateWatcher();
    s.watcher->ScanningMode(ble::BluetoothLEScanningMode::Active);
    std::weak_ptr<LinkState> weak = state_;
    s.receivedToken = s.watcher->Received(
        [weak](ble::BluetoothLEAdvertisementWatcher &, ble::BluetoothLEAdvertisementReceivedEventArgs &args) {
          if (std::shared_ptr<LinkState> state = weak.lock())
            OnAdvertisementReceived(state->targetAddress, *state->watcher, state->phase, args);
        });
    receivedRegistered_ = true;
    s.stoppedToken = s.watcher->Stopped(
        [weak](ble::BluetoothLEAdvertisementWatcher &, ble::BluetoothLEAdvertisementWatcherStoppedEventArgs &args) {
          if (std::shared_ptr<LinkState> state = weak.lock()) OnWatcherStopped(state->scanInterrupted, args);
        });
    stoppedRegistered_ = true;
  }

  void DropWatcher() noexcept {
    LinkState &s = *state_;
    if (!s.watcher) return;
    if (receivedRegistered_) RevokeQuietly([&] { s.watcher->Received(s.receivedToken); });
    if (stoppedRegistered_) RevokeQuietly([&] { s.watcher->Stopped(s.stoppedToken); });
    receivedRegistered_ = stoppedRegistered_ = false;
  }

  void Pass() {
    switch (state_->phase.load()) {
    case StartScan:
      StartScanning();
      break;
    case Scanning:
      // Some systems end the scan with no Stopped event: the watcher just reads Aborted.
      if (state_->scanInterrupted.exchange(false) ||
          state_->watcher->Status() == ble::BluetoothLEAdvertisementWatcherStatus::Aborted)
        ScanInterrupted();
      else if (DirectLookupDue())
        ConnectDirectly();
      else
        scanRetryDelay_ = {}; // the watcher ran a whole pass
      break;
    case TargetFound:
      Connect();
      break;
    case ConnectionLost:
      LogLine("Device connection lost.");
      ResetLink(*state_);
      break;
    case Connected:
      scanRetryDelay_ = {};
      break;
    default:
      break; // a value the worker does not know
    }
  }

  void StartScanning() {
    if (scanRetryDelay_ > linkTimings.pollPeriod) {
      SleepWhileRunning(scanRetryDelay_ - linkTimings.pollPeriod);
      if (!linkRunning.load()) return;
    }
    // Counted as failed until the watcher has run for a whole pass.
    scanRetryDelay_ = std::clamp(scanRetryDelay_ * 2, linkTimings.pollPeriod,
                                 std::max(linkTimings.pollPeriod, linkTimings.maxSetupRetryDelay));
    if (!state_->watcher) RenewWatcher();
    LinkState &s = *state_;
    s.scanInterrupted.store(false);
    LogLine("Starting the advertisement watcher.");
    // Before Start: the pistol may be reported inside it, and the handler
    // acts only on a worker that is Scanning.
    s.phase.store(Scanning);
    try {
      s.watcher->Start();
    } catch (...) {
      // A watcher bound to a service or bus that is gone never starts again.
      DiscardWatcher();
      throw;
    }
    scanStartedAt_ = Clock::now();
  }

  // A pistol the platform still holds after a reset, or one it connects by
  // itself (paired), does not advertise; its address is tried directly.
  bool DirectLookupDue() const {
    return lastLinkedAddress_ != 0 && Clock::now() - scanStartedAt_ >= directLookupDelay_;
  }

  void ConnectDirectly() {
    LinkState &s = *state_;
    s.targetAddress.store(lastLinkedAddress_);
    std::int32_t expected = Scanning;
    if (!s.phase.compare_exchange_strong(expected, TargetFound)) return; // an advertisement came first
    directLookupDelay_ = std::min(directLookupDelay_ * 2, linkTimings.maxDirectLookupDelay);
    LogLine("No advertisement heard; trying the last linked device directly.");
    RevokeQuietly([&] { s.watcher->Stop(); });
    Connect();
  }

  // The platform ended the scan (radio off, service restarted): scan again on
  // a fresh watcher, with the growing delay while it keeps failing.
  void ScanInterrupted() {
    std::int32_t expected = Scanning;
    if (!state_->phase.compare_exchange_strong(expected, StartScan)) return; // the pistol was found meanwhile
    DiscardWatcher();
  }

  void DiscardWatcher() noexcept {
    DropWatcher();
    // A fresh state: late events of the old watcher go to the old one.
    state_ = std::make_shared<LinkState>();
  }

  void RenewWatcher() {
    try {
      CreateWatcher();
    } catch (...) {
      DiscardWatcher();
      throw;
    }
  }

  void Connect() {
    LinkState &s = *state_;
    const std::uint64_t address = s.targetAddress.load();
    if (address == 0) {
      LogLine("Target device address is invalid.");
      ResetLink(s);
      return;
    }
    LogLine("Connecting to device: " + decimal_text(address));
    std::shared_ptr<ble::BluetoothLEDevice> device = Await(ble::PlatformAdapter().FromBluetoothAddressAsync(address));
    DropDevice(s);
    s.device = std::move(device);
    if (!s.device) {
      LogLine("Failed to connect to device: " + decimal_text(s.targetAddress.load()));
      ResetLink(s);
      return;
    }

    std::weak_ptr<LinkState> weak = state_;
    s.connectionStatusToken = s.device->ConnectionStatusChanged([weak](ble::BluetoothLEDevice &sender) {
      if (std::shared_ptr<LinkState> state = weak.lock()) OnConnectionStatusChanged(state->phase, sender);
    });

    retriesLeft_ = linkTimings.gattRetries;
    std::shared_ptr<ble::GattDeviceServicesResult> services;
    for (;;) {
      services = Await(retriesLeft_ < linkTimings.gattRetries
                           ? s.device->GetGattServicesWithCacheModeAsync(ble::BluetoothCacheMode::Uncached)
                           : s.device->GetGattServicesAsync());
      if (services->Status() == ble::GattCommunicationStatus::Success) break;
      if (!RetryOnSameDevice()) {
        LogLine("Failed to get GATT services.");
        ResetLink(s);
        return;
      }
    }

    bool subscribed = false;
    auto list = services->Services();
    const std::uint32_t count = list->Size();
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<ble::GattDeviceService> service = list->GetAt(i);
      const Guid serviceUuid = service->Uuid();
      if (serviceUuid != kTargetService) continue;
      LogLine("Found GATT service: " + uuid_text(serviceUuid));
      std::shared_ptr<ble::GattCharacteristicsResult> characteristics;
      do {
        characteristics = Await(retriesLeft_ < linkTimings.gattRetries
                                    ? service->GetCharacteristicsWithCacheModeAsync(ble::BluetoothCacheMode::Uncached)
                                    : service->GetCharacteristicsAsync());
      } while (characteristics->Status() != ble::GattCommunicationStatus::Success && RetryOnSameDevice());
      if (characteristics->Status() != ble::GattCommunicationStatus::Success) {
        LogLine("Failed to get characteristics for service: " + uuid_text(serviceUuid));
        break;
      }
      if (Subscribe(*characteristics)) subscribed = true;
    }

    if (!subscribed) {
      LogLine("Target characteristic not found.");
      ResetLink(s);
      return;
    }
    LogLine("Device successfully connected.");
    // Scanning worked: a link that drops at once must not find the next scan delayed.
    scanRetryDelay_ = {};
    lastLinkedAddress_ = address;
    directLookupDelay_ = linkTimings.directLookupDelay;
    // A loss reported during the sequence must not be overwritten: the next
    // pass then sees ConnectionLost and scans again. Unless the device reads
    // Connected now: some drop for a moment before their services are listed.
    std::int32_t expected = TargetFound;
    if (!s.phase.compare_exchange_strong(expected, Connected) && expected == ConnectionLost &&
        s.device->ConnectionStatus() == ble::BluetoothConnectionStatus::Connected)
      s.phase.compare_exchange_strong(expected, Connected);
  }

  // The platform's first answers on a fresh device are often failures that a
  // repeat on the same object, asked of the device itself, does not give.
  bool RetryOnSameDevice() {
    if (retriesLeft_ <= 0) return false;
    --retriesLeft_;
    SleepWhileRunning(linkTimings.pollPeriod);
    if (!linkRunning.load()) throw hresult_canceled(new_error_info(kErrorCancelled));
    return true;
  }

  // Subscribes to every target characteristic of one service; true if any took.
  bool Subscribe(ble::GattCharacteristicsResult &characteristics) {
    LinkState &s = *state_;
    bool subscribed = false;
    auto list = characteristics.Characteristics();
    const std::uint32_t count = list->Size();
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<ble::GattCharacteristic> characteristic = list->GetAt(i);
      const Guid uuid = characteristic->Uuid();
      if (uuid != kTargetCharacteristic) continue;
      s.characteristic = characteristic;
      const std::string uuidText = uuid_text(uuid);
      LogLine("Subscribing to characteristic: " + uuidText);
      s.valueChangedTokens.emplace_back(characteristic, characteristic->ValueChanged(OnCharacteristicValueChanged));
      ble::GattCommunicationStatus status;
      do {
        status = Await(characteristic->WriteClientCharacteristicConfigurationDescriptorAsync(
            ble::GattClientCharacteristicConfigurationDescriptorValue::Notify));
      } while (status != ble::GattCommunicationStatus::Success && RetryOnSameDevice());
      if (status == ble::GattCommunicationStatus::Success) {
        LogLine("Successfully subscribed to notifications for characteristic: " + uuidText);
        subscribed = true;
      } else {
        LogLine("Failed to subscribe to notifications for characteristic: " + uuidText);
      }
    }
    return subscribed;
  }

  // A device left over from an earlier lookup is closed with its registrations,
  // never just dropped with its link still up.
  static void DropDevice(LinkState &s) noexcept {
    s.characteristic.reset();
    try {
      ReleaseDevice(s);
    } catch (...) {
    }
  }

  // Nothing the platform holds may call into the link after this: the watcher
  // is stopped, every registration revoked and the device closed.
  void TearDown() noexcept {
    LinkState &s = *state_;
    if (s.watcher) RevokeQuietly([&] { s.watcher->Stop(); });
    DropWatcher();
    try {
      ResetLink(s);
    } catch (...) {
    }
    state_.reset();
  }

  std::shared_ptr<LinkState> state_;
  ErrorReport errors_;
  // How long the next watcher start waits after the last one; zero while
  // scanning works.
  std::chrono::milliseconds scanRetryDelay_{};
  // The pistol last linked (0: none yet), tried by address when scanning
  // stays silent for directLookupDelay_ after the scan began.
  std::uint64_t lastLinkedAddress_ = 0;
  Clock::time_point scanStartedAt_{};
  std::chrono::milliseconds directLookupDelay_ = linkTimings.directLookupDelay;
  // Repeats left to the current connection sequence.
  int retriesLeft_ = 0;
  bool receivedRegistered_ = false;
  bool stoppedRegistered_ = false;
};

} // namespace

void LinkWorker() {
  Link().Run();
}
