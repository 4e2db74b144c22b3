#pragma once

// The simulated device and its GATT objects: services, characteristics, the
// notification's buffer and reader.

#include "ble/sim/radio_core.h"

namespace ble::sim {

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
    return ListCharacteristics(Op::GetCharacteristicsAsync);
  }
  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>>
  GetCharacteristicsWithCacheModeAsync(BluetoothCacheMode) override {
    return ListCharacteristics(Op::GetCharacteristicsWithCacheModeAsync);
  }

private:
  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>> ListCharacteristics(Op op) {
    {
      std::lock_guard lock(core->mutex);
      ThrowIfClosed(*link_);
    }
    return core->Async<std::shared_ptr<GattCharacteristicsResult>>(
        op,
        [core = core, address = address_, link = link_,
         index = index_]() -> std::shared_ptr<GattCharacteristicsResult> {
          std::vector<std::shared_ptr<GattCharacteristic>> items;
          auto status = GattCommunicationStatus::Unreachable;
          std::lock_guard lock(core->mutex);
          const Pistol *pistol = core->FindPistol(address);
          if (!link->closed && pistol && core->IsConnected(address) && index < pistol->services.size()) {
            const SimService &service = pistol->services[index];
            status = service.characteristicsStatus;
            if (core->TakeUnreachable(address, Op::GetCharacteristicsAsync))
              status = GattCommunicationStatus::Unreachable;
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
  AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>>
  GetGattServicesWithCacheModeAsync(BluetoothCacheMode) override {
    {
      std::lock_guard lock(core->mutex);
      ThrowIfClosed(*link_);
    }
    return core->Async<std::shared_ptr<GattDeviceServicesResult>>(
        Op::GetGattServicesWithCacheModeAsync, [self = shared_from_this()] { return self->Connect(); });
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
        if (core->TakeUnreachable(address_, Op::GetGattServicesAsync)) status = GattCommunicationStatus::Unreachable;
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

inline GattCommunicationStatus
CharacteristicObject::Subscribe(GattClientCharacteristicConfigurationDescriptorValue value) {
  std::lock_guard lock(core->mutex);
  const Pistol *pistol = core->FindPistol(address_);
  if (link_->closed || !pistol || !core->IsConnected(address_) || service_ >= pistol->services.size() ||
      index_ >= pistol->services[service_].characteristics.size())
    return GattCommunicationStatus::Unreachable;
  auto status = pistol->services[service_].characteristics[index_].subscribeStatus;
  if (core->TakeUnreachable(address_, Op::WriteClientCharacteristicConfigurationDescriptorAsync))
    status = GattCommunicationStatus::Unreachable;
  if (status == GattCommunicationStatus::Success)
    subscribed_ = value == GattClientCharacteristicConfigurationDescriptorValue::Notify;
  return status;
}

} // namespace ble::sim
