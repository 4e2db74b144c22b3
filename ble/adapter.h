#pragma once

// The Bluetooth LE operations the link uses, in the shapes of the platform's
// runtime classes, so that each backend (the platform's runtime, BlueZ, the
// simulated radio) is a thin translation.
//
// Rules every backend keeps:
// - Each call succeeds or raises hresult_error (or a class derived from it).
// - Objects are shared and released by dropping the last reference.
// - Event handlers run on threads of the backend's own, concurrently with each
//   other and with the caller, always through handler_boundary; the code it
//   returns is the invocation's result for the platform.
// - Revoking a handler stops later deliveries; a delivery already running may
//   still finish after the revocation returns, so a handler must keep alive
//   what it touches.
// - Event arguments and the sender are valid for the duration of the call.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/async_operation.h"
#include "support/guid.h"
#include "support/platform_error.h"

namespace ble {

struct EventToken {
  std::int64_t value = 0;
  friend bool operator==(const EventToken &, const EventToken &) = default;
};

enum class BluetoothLEScanningMode : std::int32_t { Passive = 0, Active = 1 };
// Values other than these two can arrive and mean "not connected".
enum class BluetoothConnectionStatus : std::int32_t { Disconnected = 0, Connected = 1 };
enum class GattCommunicationStatus : std::int32_t { Success = 0, Unreachable = 1, ProtocolError = 2, AccessDenied = 3 };
enum class GattClientCharacteristicConfigurationDescriptorValue : std::int32_t { None = 0, Notify = 1, Indicate = 2 };
// Cached answers from the system's store of the device's attributes, or asked of the device itself.
enum class BluetoothCacheMode : std::int32_t { Cached = 0, Uncached = 1 };
enum class BluetoothLEAdvertisementWatcherStatus : std::int32_t {
  Created = 0,
  Started = 1,
  Stopping = 2,
  Stopped = 3,
  Aborted = 4,
};

// A read-only list whose size and items are platform calls of their own.
template <class T> class VectorView {
public:
  virtual ~VectorView() = default;
  virtual std::uint32_t Size() = 0;
  // Raises hresult_out_of_bounds for an index at or past Size.
  virtual T GetAt(std::uint32_t index) = 0;
};

// A view over items a backend already holds.
template <class T> class VectorOf final : public VectorView<T> {
public:
  explicit VectorOf(std::vector<T> items) : items_(std::move(items)) {}
  std::uint32_t Size() override { return static_cast<std::uint32_t>(items_.size()); }
  T GetAt(std::uint32_t index) override {
    if (index >= items_.size()) throw hresult_out_of_bounds();
    return items_[index];
  }

private:
  std::vector<T> items_;
};

class BluetoothLEAdvertisement {
public:
  virtual ~BluetoothLEAdvertisement() = default;
  // Empty when the advertisement carries no name.
  virtual std::u16string LocalName() = 0;
};

class BluetoothLEAdvertisementReceivedEventArgs {
public:
  virtual ~BluetoothLEAdvertisementReceivedEventArgs() = default;
  virtual std::shared_ptr<BluetoothLEAdvertisement> Advertisement() = 0;
  // The 48-bit device address in the low bits.
  virtual std::uint64_t BluetoothAddress() = 0;
};

// Why a watcher stopped: Success when Stop asked for it, anything else when
// the platform ended the scan on its own (radio off, service gone).
enum class BluetoothError : std::int32_t {
  Success = 0,
  RadioNotAvailable = 1,
  ResourceInUse = 2,
  DeviceNotConnected = 3,
  OtherError = 4,
  DisabledByPolicy = 5,
  NotSupported = 6,
  DisabledByUser = 7,
  ConsentRequired = 8,
  TransportNotSupported = 9,
};

class BluetoothLEAdvertisementWatcherStoppedEventArgs {
public:
  virtual ~BluetoothLEAdvertisementWatcherStoppedEventArgs() = default;
  virtual BluetoothError Error() = 0;
};

class BluetoothLEAdvertisementWatcher {
public:
  using ReceivedHandler =
      std::function<void(BluetoothLEAdvertisementWatcher &sender, BluetoothLEAdvertisementReceivedEventArgs &args)>;
  using StoppedHandler = std::function<void(BluetoothLEAdvertisementWatcher &sender,
                                            BluetoothLEAdvertisementWatcherStoppedEventArgs &args)>;

  virtual ~BluetoothLEAdvertisementWatcher() = default;
  virtual void ScanningMode(BluetoothLEScanningMode mode) = 0;
  // One call per advertisement heard while started.
  virtual EventToken Received(ReceivedHandler handler) = 0;
  virtual void Received(EventToken token) = 0;
  // One call whenever scanning ends, by Stop or on the platform's own account.
  virtual EventToken Stopped(StoppedHandler handler) = 0;
  virtual void Stopped(EventToken token) = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  // Aborted when the platform ended the scan, on some systems without raising
  // Stopped. A backend that always raises Stopped need not say more than Started.
  virtual BluetoothLEAdvertisementWatcherStatus Status() { return BluetoothLEAdvertisementWatcherStatus::Started; }
};

class DataReader;

// The payload of one notification; read it through DataReader::FromBuffer.
class IBuffer {
public:
  virtual ~IBuffer() = default;
  // The backend's reader over this buffer (what DataReader::FromBuffer returns).
  virtual std::shared_ptr<DataReader> CreateDataReader() = 0;
};

class DataReader {
public:
  virtual ~DataReader() = default;
  static std::shared_ptr<DataReader> FromBuffer(IBuffer &buffer) { return buffer.CreateDataReader(); }
  virtual std::uint32_t UnconsumedBufferLength() = 0;
  // Fills all of bytes with the next unread bytes; raises if fewer remain.
  virtual void ReadBytes(std::span<std::uint8_t> bytes) = 0;
};

class GattValueChangedEventArgs {
public:
  virtual ~GattValueChangedEventArgs() = default;
  virtual std::shared_ptr<IBuffer> CharacteristicValue() = 0;
};

class GattCharacteristic {
public:
  using ValueChangedHandler = std::function<void(GattCharacteristic &sender, GattValueChangedEventArgs &args)>;

  virtual ~GattCharacteristic() = default;
  virtual Guid Uuid() = 0;
  // One call per notification once the descriptor write has subscribed.
  virtual EventToken ValueChanged(ValueChangedHandler handler) = 0;
  virtual void ValueChanged(EventToken token) = 0;
  // Success means subscribed.
  virtual AsyncOperationPtr<GattCommunicationStatus>
  WriteClientCharacteristicConfigurationDescriptorAsync(GattClientCharacteristicConfigurationDescriptorValue value) = 0;
};

class GattCharacteristicsResult {
public:
  virtual ~GattCharacteristicsResult() = default;
  virtual GattCommunicationStatus Status() = 0;
  virtual std::shared_ptr<VectorView<std::shared_ptr<GattCharacteristic>>> Characteristics() = 0;
};

class GattDeviceService {
public:
  virtual ~GattDeviceService() = default;
  virtual Guid Uuid() = 0;
  virtual AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>> GetCharacteristicsAsync() = 0;
  // A backend without a cache of its own answers both the same way.
  virtual AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>>
  GetCharacteristicsWithCacheModeAsync(BluetoothCacheMode) {
    return GetCharacteristicsAsync();
  }
};

class GattDeviceServicesResult {
public:
  virtual ~GattDeviceServicesResult() = default;
  virtual GattCommunicationStatus Status() = 0;
  virtual std::shared_ptr<VectorView<std::shared_ptr<GattDeviceService>>> Services() = 0;
};

class BluetoothLEDevice {
public:
  // The platform's event arguments carry nothing; the status is read from the sender.
  using ConnectionStatusChangedHandler = std::function<void(BluetoothLEDevice &sender)>;

  virtual ~BluetoothLEDevice() = default;
  // One call per change of the link.
  virtual EventToken ConnectionStatusChanged(ConnectionStatusChangedHandler handler) = 0;
  virtual void ConnectionStatusChanged(EventToken token) = 0;
  virtual BluetoothConnectionStatus ConnectionStatus() = 0;
  virtual std::u16string Name() = 0;
  // Connects on first use: the first call on a fresh device may answer
  // Unreachable where a repeat on the same object works.
  virtual AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>> GetGattServicesAsync() = 0;
  // A backend without a cache of its own answers both the same way.
  virtual AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>>
  GetGattServicesWithCacheModeAsync(BluetoothCacheMode) {
    return GetGattServicesAsync();
  }
  // Releases the device and its link; later calls on it raise. The platform
  // may keep the link up for a while after, and Close itself may block.
  virtual void Close() = 0;
};

// The way in: the two operations that need no object to start from.
class Adapter {
public:
  virtual ~Adapter() = default;
  // A stopped watcher.
  virtual std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() = 0;
  // Completes with no device (nullptr), not with an error, for an unknown address.
  virtual AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t address) = 0;
};

// The adapter the link uses: the one set by SetPlatformAdapter, else the
// backend built for this platform.
Adapter &PlatformAdapter();

// Replaces the platform's adapter process-wide (tests, tools); nullptr goes
// back to the built-in one. The caller keeps the adapter alive while it is set.
void SetPlatformAdapter(Adapter *adapter);

class ScopedPlatformAdapter {
public:
  explicit ScopedPlatformAdapter(Adapter &adapter) { SetPlatformAdapter(&adapter); }
  ~ScopedPlatformAdapter() { SetPlatformAdapter(nullptr); }
  ScopedPlatformAdapter(const ScopedPlatformAdapter &) = delete;
  ScopedPlatformAdapter &operator=(const ScopedPlatformAdapter &) = delete;
};

} // namespace ble
