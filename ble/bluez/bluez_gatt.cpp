#include "ble/bluez/bluez_gatt.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_text.h"
#include "ble/bluez/bus_operation.h"
#include "ble/bluez/event_list.h"

namespace ble::bluez {
namespace {

class ByteReader final : public DataReader {
public:
  explicit ByteReader(std::shared_ptr<const std::vector<std::uint8_t>> bytes) : bytes_(std::move(bytes)) {}
  std::uint32_t UnconsumedBufferLength() override { return static_cast<std::uint32_t>(bytes_->size() - position_); }
  void ReadBytes(std::span<std::uint8_t> out) override {
    if (out.size() > bytes_->size() - position_) throw hresult_out_of_bounds();
    std::copy_n(bytes_->begin() + static_cast<std::ptrdiff_t>(position_), out.size(), out.begin());
    position_ += out.size();
  }

private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
  std::size_t position_ = 0;
};

class ByteBuffer final : public IBuffer {
public:
  explicit ByteBuffer(std::vector<std::uint8_t> bytes)
      : bytes_(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))) {}
  std::shared_ptr<DataReader> CreateDataReader() override { return std::make_shared<ByteReader>(bytes_); }

private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
};

class ValueChangedArgs final : public GattValueChangedEventArgs {
public:
  explicit ValueChangedArgs(std::shared_ptr<IBuffer> buffer) : buffer_(std::move(buffer)) {}
  std::shared_ptr<IBuffer> CharacteristicValue() override { return buffer_; }

private:
  std::shared_ptr<IBuffer> buffer_;
};

class Characteristic final : public GattCharacteristic,
                             public ValueListener,
                             public std::enable_shared_from_this<Characteristic> {
public:
  explicit Characteristic(GattPlace place) : place_(std::move(place)) {}

  Guid Uuid() override { return place_.uuid; }
  EventToken ValueChanged(ValueChangedHandler handler) override { return valueChanged_.Add(std::move(handler)); }
  void ValueChanged(EventToken token) override { valueChanged_.Remove(token); }

  AsyncOperationPtr<GattCommunicationStatus> WriteClientCharacteristicConfigurationDescriptorAsync(
      GattClientCharacteristicConfigurationDescriptorValue value) override;

  // Loop thread.
  // The answer to a subscription: one that took is remembered for Close.
  void Subscribed(BusOperation<GattCommunicationStatus> &operation, HRESULT code);
  void AwaitNotifying(const std::shared_ptr<BusOperation<GattCommunicationStatus>> &operation);

  void OnValue(const std::vector<std::uint8_t> &bytes) override {
    if (place_.closed->load()) return;
    ValueChangedArgs args(std::make_shared<ByteBuffer>(bytes));
    valueChanged_.ForEach([&](const auto &handler) { (void)handler_boundary([&] { handler(*this, args); }); });
  }

private:
  GattPlace place_;
  EventList<ValueChangedHandler> valueChanged_;
};

class CharacteristicsResult final : public GattCharacteristicsResult {
public:
  explicit CharacteristicsResult(std::vector<std::shared_ptr<GattCharacteristic>> items)
      : items_(std::make_shared<VectorOf<std::shared_ptr<GattCharacteristic>>>(std::move(items))) {}
  GattCommunicationStatus Status() override { return GattCommunicationStatus::Success; }
  std::shared_ptr<VectorView<std::shared_ptr<GattCharacteristic>>> Characteristics() override { return items_; }

private:
  std::shared_ptr<VectorView<std::shared_ptr<GattCharacteristic>>> items_;
};

class Service final : public GattDeviceService, public std::enable_shared_from_this<Service> {
public:
  explicit Service(GattPlace place) : place_(std::move(place)) {}

  Guid Uuid() override { return place_.uuid; }

  // BlueZ has exported the characteristics by the time the services are
  // resolved, so this only reads the object map.
  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>> GetCharacteristicsAsync() override {
    ThrowIfClosed(place_.closed);
    auto operation = NewOperation<std::shared_ptr<GattCharacteristicsResult>>(*place_.connection);
    OnLoop(*place_.connection, [self = shared_from_this(), operation] {
      if (!operation->Pending()) return;
      const GattPlace &place = self->place_;
      if (place.closed->load()) return operation->Failed(kRoEClosed);
      BusSession &session = place.connection->session();
      std::vector<std::shared_ptr<GattCharacteristic>> items;
      for (const std::string &path : session.objects().CharacteristicsOf(place.path)) {
        const auto uuid = ParseUuid(session.objects().Find(path)->uuid);
        if (!uuid) continue;
        auto characteristic =
            std::make_shared<Characteristic>(GattPlace{place.connection, path, *uuid, place.device, place.closed});
        session.events().AddListener(path, std::weak_ptr<ValueListener>(characteristic));
        items.push_back(std::move(characteristic));
      }
      operation->Succeed(std::make_shared<CharacteristicsResult>(std::move(items)));
    });
    return operation;
  }

private:
  GattPlace place_;
};

AsyncOperationPtr<GattCommunicationStatus> Characteristic::WriteClientCharacteristicConfigurationDescriptorAsync(
    GattClientCharacteristicConfigurationDescriptorValue value) {
  ThrowIfClosed(place_.closed);
  auto operation = NewOperation<GattCommunicationStatus>(*place_.connection);
  OnLoop(*place_.connection, [self = shared_from_this(), operation, value] {
    if (!operation->Pending()) return;
    if (self->place_.closed->load()) return operation->Failed(kRoEClosed);
    const bool subscribe = value != GattClientCharacteristicConfigurationDescriptorValue::None;
    // BlueZ writes the descriptor itself: StartNotify is the only way to subscribe.
    const std::uint64_t call = self->place_.connection->session().Call(
        self->place_.path, kCharacteristic1, subscribe ? "StartNotify" : "StopNotify", nullptr,
        BusSession::kShortCallUsec, [self, operation, subscribe](const CallOutcome &outcome) {
          if (!operation->Pending()) return;
          // InProgress: an earlier subscription of this connection is still
          // being set up, and may yet fail; only Notifying tells.
          if (subscribe && outcome.code == kErrorBusy) return self->AwaitNotifying(operation);
          if (subscribe) return self->Subscribed(*operation, outcome.code);
          operation->Succeed(GattStatusFromCode(outcome.code));
        });
    if (call != 0) operation->OnCancel([self, call] { self->place_.connection->session().CancelCall(call); });
  });
  return operation;
}

void Characteristic::Subscribed(BusOperation<GattCommunicationStatus> &operation, HRESULT code) {
  if (code >= 0) {
    if (auto device = place_.device.lock()) device->NoteSubscribed(place_.path);
  }
  operation.Succeed(GattStatusFromCode(code));
}

void Characteristic::AwaitNotifying(const std::shared_ptr<BusOperation<GattCommunicationStatus>> &operation) {
  auto self = shared_from_this();
  AwaitReport(place_.connection->session(), *operation, Awaited::Notifying, place_.path,
              std::chrono::milliseconds(BusSession::kShortCallUsec / 1000), [self, operation](HRESULT code) {
                if (operation->Pending()) self->Subscribed(*operation, code);
              });
}

} // namespace

void ThrowIfClosed(const ClosedFlag &closed) {
  if (closed->load()) raise_platform_error(kRoEClosed);
}

std::shared_ptr<GattDeviceService> NewService(GattPlace place) {
  return std::make_shared<Service>(std::move(place));
}

} // namespace ble::bluez
