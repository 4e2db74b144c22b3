#include "ble/sim/radio.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <type_traits>
#include <utility>

#include "ble/sim/event_threads.h"

namespace ble::sim {

class WatcherObject;
class DeviceObject;
class CharacteristicObject;

// Shared by a device object and everything reached through it, so that Close
// reaches its services and characteristics too. Guarded by the core's mutex.
struct DeviceLink {
  bool closed = false;
};

struct Radio::Core : std::enable_shared_from_this<Radio::Core> {
  explicit Core(unsigned threads) : events(threads) {}

  OpScript Take(Op op) {
    std::lock_guard lock(mutex);
    const auto index = static_cast<std::size_t>(op);
    ++calls[index];
    if (!next[index].empty()) {
      OpScript script = std::move(next[index].front());
      next[index].pop_front();
      return script;
    }
    return always[index] ? *always[index] : OpScript{};
  }

  // One call of an operation: its script decides whether it raises; the
  // script's hook runs after the effect.
  template <class Effect> auto Perform(Op op, Effect &&effect) {
    const OpScript script = Take(op);
    if (script.raise < 0) {
      if (script.inside) script.inside();
      raise_platform_error(script.raise);
    }
    using Result = decltype(effect(script));
    if constexpr (std::is_void_v<Result>) {
      effect(script);
      if (script.inside) script.inside();
    } else {
      Result result = effect(script);
      if (script.inside) script.inside();
      return result;
    }
  }

  template <class T, class Produce> AsyncOperationPtr<T> Async(Op op, Produce produce);

  template <class Call> void Deliver(Call &&call) {
    const HRESULT result = handler_boundary(std::forward<Call>(call));
    std::lock_guard lock(mutex);
    results.push_back(result);
  }

  bool IsConnected(std::uint64_t address) const { return connected.count(address) != 0; }
  const Pistol *FindPistol(std::uint64_t address) const {
    auto found = pistols.find(address);
    return found == pistols.end() ? nullptr : &found->second;
  }

  void RaiseConnectionStatusChanged(std::uint64_t address);

  mutable std::mutex mutex;
  std::map<std::uint64_t, Pistol> pistols;
  std::set<std::uint64_t> connected;
  std::vector<std::weak_ptr<WatcherObject>> watchers;
  std::vector<std::weak_ptr<DeviceObject>> devices;
  std::vector<std::weak_ptr<CharacteristicObject>> characteristics;
  std::array<std::deque<OpScript>, static_cast<std::size_t>(Op::Count)> next;
  std::array<std::optional<OpScript>, static_cast<std::size_t>(Op::Count)> always;
  std::array<int, static_cast<std::size_t>(Op::Count)> calls{};
  std::vector<HRESULT> results;
  std::atomic<int> live{0};
  std::atomic<int> handlers{0};
  std::atomic<int> cancels{0};
  std::int64_t nextToken = 1;
  // Last member: its threads stop before the state they use goes away.
  EventThreads events;
};

using Core = Radio::Core;

namespace {

template <class T> void Prune(std::vector<std::weak_ptr<T>> &list) {
  std::erase_if(list, [](const std::weak_ptr<T> &item) { return item.expired(); });
}

// Called under the core's mutex; the caller drops the result after unlocking,
// so that no object dies (and runs its handlers' destructors) under the lock.
template <class T> std::vector<std::shared_ptr<T>> Alive(const std::vector<std::weak_ptr<T>> &list) {
  std::vector<std::shared_ptr<T>> alive;
  for (const auto &weak : list)
    if (auto item = weak.lock()) alive.push_back(std::move(item));
  return alive;
}

// Raises RO_E_CLOSED on an object whose device has been closed. Called under the core's mutex.
void ThrowIfClosed(const DeviceLink &link) {
  if (link.closed) raise_platform_error(kRoEClosed);
}

// Every object of the radio counts itself while it lives.
struct Counted {
  explicit Counted(std::shared_ptr<Core> owner) : core(std::move(owner)) { ++core->live; }
  ~Counted() { --core->live; }
  Counted(const Counted &) = delete;
  Counted &operator=(const Counted &) = delete;
  std::shared_ptr<Core> core;
};

template <class Handler> class HandlerList {
public:
  explicit HandlerList(Core &core) : core_(core) {}
  ~HandlerList() { core_.handlers -= static_cast<int>(entries_.size()); }

  EventToken Add(Handler handler) {
    if (!handler) throw hresult_invalid_argument();
    std::lock_guard lock(core_.mutex);
    const std::int64_t token = core_.nextToken++;
    entries_.emplace_back(token, std::move(handler));
    ++core_.handlers;
    return EventToken{token};
  }

  void Remove(EventToken token) {
    Handler removed; // its captures die after the lock is released
    std::lock_guard lock(core_.mutex);
    auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const auto &entry) { return entry.first == token.value; });
    if (found == entries_.end()) return;
    removed = std::move(found->second);
    entries_.erase(found);
    --core_.handlers;
  }

  std::vector<Handler> Snapshot() const {
    std::lock_guard lock(core_.mutex);
    std::vector<Handler> copy;
    for (const auto &entry : entries_) copy.push_back(entry.second);
    return copy;
  }

private:
  Core &core_;
  std::vector<std::pair<std::int64_t, Handler>> entries_;
};

template <class T> class OperationObject final : public PendingOperation<T>, Counted {
public:
  OperationObject(std::shared_ptr<Core> owner, bool ignoresCancel)
      : Counted(std::move(owner)), ignoresCancel_(ignoresCancel) {}
  void Cancel() override {
    ++core->cancels;
    if (!ignoresCancel_) this->FinishCanceled();
  }

private:
  bool ignoresCancel_;
};

template <class T> class VectorObject final : public VectorView<T>, Counted {
public:
  VectorObject(std::shared_ptr<Core> owner, std::vector<T> items)
      : Counted(std::move(owner)), items_(std::move(items)) {}
  std::uint32_t Size() override {
    return core->Perform(Op::VectorSize, [&](const OpScript &) { return static_cast<std::uint32_t>(items_.size()); });
  }
  T GetAt(std::uint32_t index) override {
    return core->Perform(Op::VectorGetAt, [&](const OpScript &) {
      if (index >= items_.size()) throw hresult_out_of_bounds();
      return items_[index];
    });
  }

private:
  std::vector<T> items_;
};

class AdvertisementObject final : public BluetoothLEAdvertisement, Counted {
public:
  AdvertisementObject(std::shared_ptr<Core> owner, std::u16string name)
      : Counted(std::move(owner)), name_(std::move(name)) {}
  std::u16string LocalName() override {
    return core->Perform(Op::LocalName, [&](const OpScript &) { return name_; });
  }

private:
  std::u16string name_;
};

class ReceivedArgsObject final : public BluetoothLEAdvertisementReceivedEventArgs, Counted {
public:
  ReceivedArgsObject(std::shared_ptr<Core> owner, std::uint64_t address, std::u16string name)
      : Counted(std::move(owner)), address_(address), name_(std::move(name)) {}
  std::shared_ptr<BluetoothLEAdvertisement> Advertisement() override {
    return core->Perform(Op::Advertisement, [&](const OpScript &) -> std::shared_ptr<BluetoothLEAdvertisement> {
      return std::make_shared<AdvertisementObject>(core, name_);
    });
  }
  std::uint64_t BluetoothAddress() override {
    return core->Perform(Op::BluetoothAddress, [&](const OpScript &) { return address_; });
  }

private:
  std::uint64_t address_;
  std::u16string name_;
};

class StoppedArgsObject final : public BluetoothLEAdvertisementWatcherStoppedEventArgs, Counted {
public:
  StoppedArgsObject(std::shared_ptr<Core> owner, BluetoothError error) : Counted(std::move(owner)), error_(error) {}
  BluetoothError Error() override { return error_; }

private:
  BluetoothError error_;
};

} // namespace

class WatcherObject final : public BluetoothLEAdvertisementWatcher,
                            Counted,
                            public std::enable_shared_from_this<WatcherObject> {
public:
  explicit WatcherObject(std::shared_ptr<Core> owner) : Counted(std::move(owner)), received_(*core), stopped_(*core) {}

  void ScanningMode(BluetoothLEScanningMode mode) override {
    core->Perform(Op::ScanningMode, [&](const OpScript &) {
      std::lock_guard lock(core->mutex);
      mode_ = mode;
    });
  }
  EventToken Received(ReceivedHandler handler) override {
    return core->Perform(Op::AddReceived, [&](const OpScript &) { return received_.Add(std::move(handler)); });
  }
  void Received(EventToken token) override {
    core->Perform(Op::RemoveHandler, [&](const OpScript &) { received_.Remove(token); });
  }
  EventToken Stopped(StoppedHandler handler) override {
    return core->Perform(Op::AddStopped, [&](const OpScript &) { return stopped_.Add(std::move(handler)); });
  }
  void Stopped(EventToken token) override {
    core->Perform(Op::RemoveHandler, [&](const OpScript &) { stopped_.Remove(token); });
  }
  void Start() override {
    core->Perform(Op::Start, [&](const OpScript &) {
      std::lock_guard lock(core->mutex);
      started_ = true;
    });
  }
  void Stop() override {
    core->Perform(Op::Stop, [&](const OpScript &) { EndScan(); });
  }

  // Ends a running scan and raises Stopped; nothing for a stopped watcher.
  void EndScan(BluetoothError error = BluetoothError::Success) {
    {
      std::lock_guard lock(core->mutex);
      if (!started_) return;
      started_ = false;
    }
    core->events.Post([self = shared_from_this(), error] {
      StoppedArgsObject args(self->core, error);
      for (const auto &handler : self->stopped_.Snapshot()) self->core->Deliver([&] { handler(*self, args); });
    });
  }

  void Hear(std::uint64_t address, const std::u16string &name) {
    {
      std::lock_guard lock(core->mutex);
      if (!started_) return;
    }
    ReceivedArgsObject args(core, address, name);
    for (const auto &handler : received_.Snapshot()) core->Deliver([&] { handler(*this, args); });
  }

  bool started_ = false; // under the core's mutex
  BluetoothLEScanningMode mode_ = BluetoothLEScanningMode::Passive;

private:
  HandlerList<ReceivedHandler> received_;
  HandlerList<StoppedHandler> stopped_;
};

namespace {

class ReaderObject final : public DataReader, Counted {
public:
  ReaderObject(std::shared_ptr<Core> owner, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
      : Counted(std::move(owner)), bytes_(std::move(bytes)) {}
  std::uint32_t UnconsumedBufferLength() override {
    return core->Perform(Op::UnconsumedBufferLength,
                         [&](const OpScript &) { return static_cast<std::uint32_t>(bytes_->size() - read_); });
  }
  void ReadBytes(std::span<std::uint8_t> out) override {
    core->Perform(Op::ReadBytes, [&](const OpScript &) {
      if (out.size() > bytes_->size() - read_) throw hresult_out_of_bounds();
      std::copy_n(bytes_->begin() + static_cast<std::ptrdiff_t>(read_), out.size(), out.begin());
      read_ += out.size();
    });
  }

private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
  std::size_t read_ = 0;
};

class BufferObject final : public IBuffer, Counted {
public:
  BufferObject(std::shared_ptr<Core> owner, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
      : Counted(std::move(owner)), bytes_(std::move(bytes)) {}
  std::shared_ptr<DataReader> CreateDataReader() override {
    return core->Perform(Op::FromBuffer, [&](const OpScript &) -> std::shared_ptr<DataReader> {
      return std::make_shared<ReaderObject>(core, bytes_);
    });
  }

private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
};

class ValueChangedArgsObject final : public GattValueChangedEventArgs, Counted {
public:
  ValueChangedArgsObject(std::shared_ptr<Core> owner, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
      : Counted(std::move(owner)), bytes_(std::move(bytes)) {}
  std::shared_ptr<IBuffer> CharacteristicValue() override {
    return core->Perform(Op::CharacteristicValue, [&](const OpScript &) -> std::shared_ptr<IBuffer> {
      return std::make_shared<BufferObject>(core, bytes_);
    });
  }

private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
};

} // namespace

class CharacteristicObject final : public GattCharacteristic,
                                   Counted,
                                   public std::enable_shared_from_this<CharacteristicObject> {
public:
  CharacteristicObject(std::shared_ptr<Core> owner, std::uint64_t address, std::shared_ptr<DeviceLink> link,
                       std::size_t service, std::size_t index, Guid uuid)
      : Counted(std::move(owner)), address_(address), link_(std::move(link)), service_(service), index_(index),
        uuid_(uuid), valueChanged_(*core) {}

  Guid Uuid() override {
    return core->Perform(Op::CharacteristicUuid, [&](const OpScript &) { return uuid_; });
  }
  EventToken ValueChanged(ValueChangedHandler handler) override {
    return core->Perform(Op::AddValueChanged, [&](const OpScript &) { return valueChanged_.Add(std::move(handler)); });
  }
  void ValueChanged(EventToken token) override {
    core->Perform(Op::RemoveHandler, [&](const OpScript &) { valueChanged_.Remove(token); });
  }
  AsyncOperationPtr<GattCommunicationStatus> WriteClientCharacteristicConfigurationDescriptorAsync(
      GattClientCharacteristicConfigurationDescriptorValue value) override;

  GattCommunicationStatus Subscribe(GattClientCharacteristicConfigurationDescriptorValue value);

  // A notification of the pistol, when this object is subscribed.
  void Hear(const std::shared_ptr<const std::vector<std::uint8_t>> &bytes) {
    ValueChangedArgsObject args(core, bytes);
    for (const auto &handler : valueChanged_.Snapshot()) core->Deliver([&] { handler(*this, args); });
  }

  const std::uint64_t address_;
  const std::shared_ptr<DeviceLink> link_;
  const std::size_t service_;
  const std::size_t index_;
  const Guid uuid_;
  bool subscribed_ = false; // under the core's mutex

private:
  HandlerList<ValueChangedHandler> valueChanged_;
};

namespace {

class CharacteristicsResultObject final : public GattCharacteristicsResult, Counted {
public:
  CharacteristicsResultObject(std::shared_ptr<Core> owner, GattCommunicationStatus status,
                              std::vector<std::shared_ptr<GattCharacteristic>> items)
      : Counted(std::move(owner)), status_(status), items_(std::move(items)) {}
  GattCommunicationStatus Status() override {
    return core->Perform(Op::CharacteristicsStatus, [&](const OpScript &) { return status_; });
  }
  std::shared_ptr<VectorView<std::shared_ptr<GattCharacteristic>>> Characteristics() override {
    return core->Perform(Op::Characteristics,
                         [&](const OpScript &) -> std::shared_ptr<VectorView<std::shared_ptr<GattCharacteristic>>> {
                           return std::make_shared<VectorObject<std::shared_ptr<GattCharacteristic>>>(core, items_);
                         });
  }

private:
  GattCommunicationStatus status_;
  std::vector<std::shared_ptr<GattCharacteristic>> items_;
};

class ServiceObject final : public GattDeviceService, Counted {
public:
  ServiceObject(std::shared_ptr<Core> owner, std::uint64_t address, std::shared_ptr<DeviceLink> link, std::size_t index,
                Guid uuid)
      : Counted(std::move(owner)), address_(address), link_(std::move(link)), index_(index), uuid_(uuid) {}

  Guid Uuid() override {
    return core->Perform(Op::ServiceUuid, [&](const OpScript &) { return uuid_; });
  }

  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>> GetCharacteristicsAsync() override {
    {
      std::lock_guard lock(core->mutex);
      ThrowIfClosed(*link_);
    }
    return core->Async<std::shared_ptr<GattCharacteristicsResult>>(
        Op::GetCharacteristicsAsync,
        [core = core, address = address_, link = link_,
         index = index_]() -> std::shared_ptr<GattCharacteristicsResult> {
          std::vector<std::shared_ptr<GattCharacteristic>> items;
          auto status = GattCommunicationStatus::Unreachable;
          std::lock_guard lock(core->mutex);
          const Pistol *pistol = core->FindPistol(address);
          if (!link->closed && pistol && core->IsConnected(address) && index < pistol->services.size()) {
            const SimService &service = pistol->services[index];
            status = service.characteristicsStatus;
            if (status == GattCommunicationStatus::Success) {
              Prune(core->characteristics);
              for (std::size_t i = 0; i < service.characteristics.size(); ++i) {
                auto item = std::make_shared<CharacteristicObject>(core, address, link, index, i,
                                                                   service.characteristics[i].uuid);
                core->characteristics.push_back(item);
                items.push_back(std::move(item));
              }
            }
          }
          return std::make_shared<CharacteristicsResultObject>(core, status, std::move(items));
        });
  }

private:
  std::uint64_t address_;
  std::shared_ptr<DeviceLink> link_;
  std::size_t index_;
  Guid uuid_;
};

class ServicesResultObject final : public GattDeviceServicesResult, Counted {
public:
  ServicesResultObject(std::shared_ptr<Core> owner, GattCommunicationStatus status,
                       std::vector<std::shared_ptr<GattDeviceService>> items)
      : Counted(std::move(owner)), status_(status), items_(std::move(items)) {}
  GattCommunicationStatus Status() override {
    return core->Perform(Op::ServicesStatus, [&](const OpScript &) { return status_; });
  }
  std::shared_ptr<VectorView<std::shared_ptr<GattDeviceService>>> Services() override {
    return core->Perform(Op::Services,
                         [&](const OpScript &) -> std::shared_ptr<VectorView<std::shared_ptr<GattDeviceService>>> {
                           return std::make_shared<VectorObject<std::shared_ptr<GattDeviceService>>>(core, items_);
                         });
  }

private:
  GattCommunicationStatus status_;
  std::vector<std::shared_ptr<GattDeviceService>> items_;
};

} // namespace

class DeviceObject final : public BluetoothLEDevice, Counted, public std::enable_shared_from_this<DeviceObject> {
public:
  DeviceObject(std::shared_ptr<Core> owner, std::uint64_t address)
      : Counted(std::move(owner)), address_(address), link_(std::make_shared<DeviceLink>()), statusChanged_(*core) {}

  EventToken ConnectionStatusChanged(ConnectionStatusChangedHandler handler) override {
    return core->Perform(Op::AddConnectionStatusChanged, [&](const OpScript &) {
      {
        std::lock_guard lock(core->mutex);
        ThrowIfClosed(*link_);
      }
      return statusChanged_.Add(std::move(handler));
    });
  }
  void ConnectionStatusChanged(EventToken token) override {
    core->Perform(Op::RemoveHandler, [&](const OpScript &) { statusChanged_.Remove(token); });
  }
  BluetoothConnectionStatus ConnectionStatus() override {
    return core->Perform(Op::ConnectionStatus, [&](const OpScript &) {
      std::lock_guard lock(core->mutex);
      ThrowIfClosed(*link_);
      return core->IsConnected(address_) ? BluetoothConnectionStatus::Connected
                                         : BluetoothConnectionStatus::Disconnected;
    });
  }
  std::u16string Name() override {
    return core->Perform(Op::Name, [&](const OpScript &) {
      std::lock_guard lock(core->mutex);
      ThrowIfClosed(*link_);
      const Pistol *pistol = core->FindPistol(address_);
      return pistol ? pistol->name : std::u16string();
    });
  }
  AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>> GetGattServicesAsync() override {
    {
      std::lock_guard lock(core->mutex);
      ThrowIfClosed(*link_);
    }
    return core->Async<std::shared_ptr<GattDeviceServicesResult>>(
        Op::GetGattServicesAsync, [self = shared_from_this()] { return self->Connect(); });
  }
  void Close() override {
    core->Perform(Op::Close, [&](const OpScript &) {
      std::lock_guard lock(core->mutex);
      link_->closed = true;
    });
  }

  // The link comes up when the services are asked for, as on the platform.
  std::shared_ptr<GattDeviceServicesResult> Connect() {
    std::vector<std::shared_ptr<GattDeviceService>> items;
    auto status = GattCommunicationStatus::Unreachable;
    bool cameUp = false;
    {
      std::lock_guard lock(core->mutex);
      const Pistol *pistol = core->FindPistol(address_);
      if (!link_->closed && pistol && pistol->acceptsConnections) {
        cameUp = core->connected.insert(address_).second;
        status = pistol->servicesStatus;
        if (status == GattCommunicationStatus::Success)
          for (std::size_t i = 0; i < pistol->services.size(); ++i)
            items.push_back(std::make_shared<ServiceObject>(core, address_, link_, i, pistol->services[i].uuid));
      }
    }
    if (cameUp) core->RaiseConnectionStatusChanged(address_);
    return std::make_shared<ServicesResultObject>(core, status, std::move(items));
  }

  void Hear() {
    {
      std::lock_guard lock(core->mutex);
      if (link_->closed) return;
    }
    for (const auto &handler : statusChanged_.Snapshot()) core->Deliver([&] { handler(*this); });
  }

  const std::uint64_t address_;
  const std::shared_ptr<DeviceLink> link_;

private:
  HandlerList<ConnectionStatusChangedHandler> statusChanged_;
};

AsyncOperationPtr<GattCommunicationStatus> CharacteristicObject::WriteClientCharacteristicConfigurationDescriptorAsync(
    GattClientCharacteristicConfigurationDescriptorValue value) {
  {
    std::lock_guard lock(core->mutex);
    ThrowIfClosed(*link_);
  }
  return core->Async<GattCommunicationStatus>(Op::WriteClientCharacteristicConfigurationDescriptorAsync,
                                              [self = shared_from_this(), value] { return self->Subscribe(value); });
}

GattCommunicationStatus CharacteristicObject::Subscribe(GattClientCharacteristicConfigurationDescriptorValue value) {
  std::lock_guard lock(core->mutex);
  const Pistol *pistol = core->FindPistol(address_);
  if (link_->closed || !pistol || !core->IsConnected(address_) || service_ >= pistol->services.size() ||
      index_ >= pistol->services[service_].characteristics.size())
    return GattCommunicationStatus::Unreachable;
  const auto status = pistol->services[service_].characteristics[index_].subscribeStatus;
  if (status == GattCommunicationStatus::Success)
    subscribed_ = value == GattClientCharacteristicConfigurationDescriptorValue::Notify;
  return status;
}

template <class T, class Produce> AsyncOperationPtr<T> Radio::Core::Async(Op op, Produce produce) {
  return Perform(op, [&](const OpScript &script) -> AsyncOperationPtr<T> {
    auto operation =
        std::make_shared<OperationObject<T>>(shared_from_this(), script.completion == Completion::NeverEvenIfCanceled);
    auto finish = [operation, endAs = script.endAs, errorCode = script.errorCode, empty = script.emptyResult,
                   produce]() {
      switch (endAs) {
      case AsyncStatus::Canceled:
        operation->FinishCanceled();
        break;
      case AsyncStatus::Error:
        operation->Fail(errorCode);
        break;
      default:
        operation->Complete(empty ? T{} : produce());
        break;
      }
    };
    if (script.completion == Completion::Now) finish();
    if (script.completion == Completion::Later) events.Post(std::move(finish), script.delay);
    return operation;
  });
}

void Radio::Core::RaiseConnectionStatusChanged(std::uint64_t address) {
  events.Post([self = shared_from_this(), address] {
    std::vector<std::shared_ptr<DeviceObject>> alive;
    {
      std::lock_guard lock(self->mutex);
      alive = Alive(self->devices);
    }
    for (const auto &device : alive)
      if (device->address_ == address) device->Hear();
  });
}

Pistol StandardPistol(std::uint64_t address, std::u16string name) {
  Pistol pistol;
  pistol.address = address;
  pistol.name = std::move(name);
  pistol.services.push_back(
      SimService{BluetoothUuid(0xFFF0), GattCommunicationStatus::Success, {SimCharacteristic{BluetoothUuid(0xFFF1)}}});
  return pistol;
}

Radio::Radio(unsigned eventThreads) : core_(std::make_shared<Core>(eventThreads)) {}

Radio::~Radio() {
  core_->events.Stop();
}

std::shared_ptr<BluetoothLEAdvertisementWatcher> Radio::CreateWatcher() {
  return core_->Perform(Op::CreateWatcher, [&](const OpScript &) -> std::shared_ptr<BluetoothLEAdvertisementWatcher> {
    auto watcher = std::make_shared<WatcherObject>(core_);
    std::lock_guard lock(core_->mutex);
    Prune(core_->watchers);
    core_->watchers.push_back(watcher);
    return watcher;
  });
}

AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> Radio::FromBluetoothAddressAsync(std::uint64_t address) {
  return core_->Async<std::shared_ptr<BluetoothLEDevice>>(
      Op::FromBluetoothAddressAsync, [core = core_, address]() -> std::shared_ptr<BluetoothLEDevice> {
        std::lock_guard lock(core->mutex);
        if (!core->FindPistol(address)) return nullptr;
        auto device = std::make_shared<DeviceObject>(core, address);
        Prune(core->devices);
        core->devices.push_back(device);
        return device;
      });
}

void Radio::AddPistol(Pistol pistol) {
  std::lock_guard lock(core_->mutex);
  const std::uint64_t address = pistol.address;
  core_->pistols.insert_or_assign(address, std::move(pistol));
}

void Radio::RemovePistol(std::uint64_t address) {
  Disconnect(address);
  std::lock_guard lock(core_->mutex);
  core_->pistols.erase(address);
}

void Radio::Advertise(std::uint64_t address, std::u16string localName) {
  core_->events.Post([core = core_, address, name = std::move(localName)] {
    std::vector<std::shared_ptr<WatcherObject>> watchers;
    {
      std::lock_guard lock(core->mutex);
      watchers = Alive(core->watchers);
    }
    for (const auto &watcher : watchers) watcher->Hear(address, name);
  });
}

void Radio::Notify(std::uint64_t address, const Guid &characteristic, std::vector<std::uint8_t> value) {
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(value));
  core_->events.Post([core = core_, address, characteristic, bytes] {
    std::vector<std::shared_ptr<CharacteristicObject>> alive;
    std::vector<CharacteristicObject *> targets;
    {
      std::lock_guard lock(core->mutex);
      if (!core->IsConnected(address)) return;
      alive = Alive(core->characteristics);
      for (const auto &item : alive)
        if (item->address_ == address && item->uuid_ == characteristic && item->subscribed_ && !item->link_->closed)
          targets.push_back(item.get());
    }
    for (CharacteristicObject *item : targets) item->Hear(bytes);
  });
}

void Radio::Disconnect(std::uint64_t address) {
  std::vector<std::shared_ptr<CharacteristicObject>> alive;
  {
    std::lock_guard lock(core_->mutex);
    if (!core_->connected.erase(address)) return;
    alive = Alive(core_->characteristics);
    for (const auto &item : alive)
      if (item->address_ == address) item->subscribed_ = false;
  }
  core_->RaiseConnectionStatusChanged(address);
}

void Radio::StopScanning() {
  std::vector<std::shared_ptr<WatcherObject>> watchers;
  {
    std::lock_guard lock(core_->mutex);
    watchers = Alive(core_->watchers);
  }
  for (const auto &watcher : watchers) watcher->EndScan(BluetoothError::RadioNotAvailable);
}

void Radio::Post(std::function<void()> work, std::chrono::milliseconds delay) {
  core_->events.Post(std::move(work), delay);
}

void Radio::Script(Op op, OpScript script) {
  std::lock_guard lock(core_->mutex);
  core_->next[static_cast<std::size_t>(op)].push_back(std::move(script));
}

void Radio::ScriptAlways(Op op, OpScript script) {
  std::lock_guard lock(core_->mutex);
  core_->always[static_cast<std::size_t>(op)] = std::move(script);
}

void Radio::ClearScripts() {
  std::lock_guard lock(core_->mutex);
  for (auto &queue : core_->next) queue.clear();
  for (auto &script : core_->always) script.reset();
}

void Radio::WaitIdle() {
  core_->events.WaitIdle();
}

int Radio::Calls(Op op) const {
  std::lock_guard lock(core_->mutex);
  return core_->calls[static_cast<std::size_t>(op)];
}

int Radio::LiveObjects() const {
  return core_->live.load();
}
int Radio::RegisteredHandlers() const {
  return core_->handlers.load();
}
int Radio::CancelRequests() const {
  return core_->cancels.load();
}

int Radio::Subscriptions(std::uint64_t address) const {
  std::vector<std::shared_ptr<CharacteristicObject>> alive;
  std::lock_guard lock(core_->mutex);
  alive = Alive(core_->characteristics);
  int count = 0;
  for (const auto &item : alive)
    if (item->address_ == address && item->subscribed_ && !item->link_->closed) ++count;
  return count;
}

bool Radio::Connected(std::uint64_t address) const {
  std::lock_guard lock(core_->mutex);
  return core_->IsConnected(address);
}

std::vector<HRESULT> Radio::HandlerResults() const {
  std::lock_guard lock(core_->mutex);
  return core_->results;
}

} // namespace ble::sim
