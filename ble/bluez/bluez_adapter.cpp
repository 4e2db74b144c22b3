#include "ble/bluez/bluez_adapter.h"

#include <atomic>
#include <set>
#include <vector>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_gatt.h"
#include "ble/bluez/bluez_text.h"
#include "ble/bluez/bluez_watcher.h"
#include "ble/bluez/bus_operation.h"
#include "ble/bluez/event_list.h"

namespace ble::bluez {
namespace {

// How long a connected device may take to export its services.
constexpr std::chrono::milliseconds kResolveTimeout{10'000};
// How long a lookup or connect waits for our earlier Disconnect of the same
// device (bluetoothd answers it after 2 to 3 s); then it goes on regardless.
constexpr std::chrono::milliseconds kDisconnectWait{5'000};

class ServicesResult final : public GattDeviceServicesResult {
public:
  ServicesResult(GattCommunicationStatus status, std::vector<std::shared_ptr<GattDeviceService>> items)
      : status_(status), items_(std::make_shared<VectorOf<std::shared_ptr<GattDeviceService>>>(std::move(items))) {}
  GattCommunicationStatus Status() override { return status_; }
  std::shared_ptr<VectorView<std::shared_ptr<GattDeviceService>>> Services() override { return items_; }

private:
  GattCommunicationStatus status_;
  std::shared_ptr<VectorView<std::shared_ptr<GattDeviceService>>> items_;
};

class Device final : public BluetoothLEDevice,
                     public DeviceListener,
                     public SubscriptionNotes,
                     public std::enable_shared_from_this<Device> {
public:
  Device(std::shared_ptr<BusConnection> connection, std::string path, const BluezObject &object)
      : connection_(std::move(connection)), path_(std::move(path)), connected_(object.connected),
        name_(std::make_shared<const std::u16string>(Utf8ToUtf16(object.name.value_or("")))) {}

  EventToken ConnectionStatusChanged(ConnectionStatusChangedHandler handler) override {
    return statusChanged_.Add(std::move(handler));
  }
  void ConnectionStatusChanged(EventToken token) override { statusChanged_.Remove(token); }

  BluetoothConnectionStatus ConnectionStatus() override {
    ThrowIfClosed(closed_);
    return connected_.load() ? BluetoothConnectionStatus::Connected : BluetoothConnectionStatus::Disconnected;
  }

  std::u16string Name() override {
    ThrowIfClosed(closed_);
    return *name_.Load();
  }

  AsyncOperationPtr<std::shared_ptr<GattDeviceServicesResult>> GetGattServicesAsync() override {
    ThrowIfClosed(closed_);
    auto operation = NewOperation<std::shared_ptr<GattDeviceServicesResult>>(*connection_);
    OnLoop(*connection_, [self = shared_from_this(), operation] { self->BeginServices(operation); });
    return operation;
  }

  ~Device() override {
    if (closed_->load()) return;
    // Dropped without Close: it no longer holds the link, but leaves it up.
    // The task holds the session, not the connection, so the connection
    // still ends here when this was its last user.
    BusSession &session = connection_->session();
    if (session.OnLoopThread()) {
      session.objects().ReleaseDevicePath(path_);
    } else {
      session.Post([weak = connection_->weak(), path = path_] {
        if (auto live = weak.lock()) live->objects().ReleaseDevicePath(path);
      });
    }
  }

  // Loop thread, once, when the device is handed out.
  void Hold() { session().objects().HoldDevicePath(path_); }

  void Close() override {
    if (closed_->exchange(true)) return;
    OnLoop(*connection_, [self = shared_from_this()] {
      // A later lookup of the same device shares its link and its notify
      // sessions (BlueZ keeps one per bus connection): only the last holder ends them.
      const bool last = self->session().objects().ReleaseDevicePath(self->path_);
      if (last) {
        for (const std::string &path : self->subscribed_) {
          self->session().Call(path, kCharacteristic1, "StopNotify", nullptr, BusSession::kShortCallUsec, IgnoreReply);
        }
        // BlueZ keeps the link up after a client lets go, so closing takes it down.
        self->Disconnect();
      }
      self->subscribed_.clear();
    });
  }

  void OnDeviceState(const BluezObject *object) override {
    if (closed_->load()) return;
    if (object && object->name) {
      name_.Store(std::make_shared<const std::u16string>(Utf8ToUtf16(*object->name)));
    }
    const bool connected = object && object->connected;
    if (connected_.exchange(connected) == connected) return;
    RaiseStatusChanged(connected);
  }

  // Loop thread: remembered so Close can end the subscription.
  void NoteSubscribed(const std::string &characteristicPath) override { subscribed_.insert(characteristicPath); }

private:
  using ServicesOperation = BusOperation<std::shared_ptr<GattDeviceServicesResult>>;

  BusSession &session() { return connection_->session(); }

  void Disconnect() { session().Disconnect(path_); }

  // Loop thread. The handlers hear of every link once, however BlueZ made it
  // known: a signal, a Connect reply, or a device already linked when asked.
  void RaiseStatusChanged(bool connected) {
    linkAnnounced_ = connected;
    statusChanged_.ForEach([&](const auto &handler) { (void)handler_boundary([&] { handler(*this); }); });
  }
  void AnnounceLink() {
    connected_.store(true);
    if (!linkAnnounced_) RaiseStatusChanged(true);
  }

  static std::shared_ptr<GattDeviceServicesResult> Failure(HRESULT code) {
    return std::make_shared<ServicesResult>(GattStatusFromCode(code),
                                            std::vector<std::shared_ptr<GattDeviceService>>{});
  }

  void BeginServices(const std::shared_ptr<ServicesOperation> &operation) {
    if (!operation->Pending()) return;
    if (closed_->load()) return operation->Failed(kRoEClosed);
    auto self = shared_from_this();
    // Connect on a device still going down answers at once without a fresh link.
    if (session().objects().Disconnecting(path_)) {
      return AwaitReport(session(), *operation, Awaited::Disconnected, path_, kDisconnectWait,
                         [self, operation](HRESULT code) {
                           // Past the bound it goes on: a stuck disconnect must not block every attempt.
                           if (code < 0 && code != kErrorTimeout) return operation->Failed(code);
                           self->session().objects().ForgetDisconnect(self->path_);
                           self->BeginServices(operation);
                         });
    }
    const BluezObject *object = session().objects().Find(path_);
    if (!object || !object->isDevice) return operation->Succeed(Failure(kErrorNotFound));
    if (object->connected) {
      AnnounceLink();
      return AwaitResolved(operation);
    }
    const std::uint64_t call = session().Call(path_, kDevice1, "Connect", nullptr, BusSession::kConnectCallUsec,
                                              [self, operation](const CallOutcome &outcome) {
                                                if (!operation->Pending()) return;
                                                if (outcome.code < 0) return operation->Succeed(Failure(outcome.code));
                                                self->Linked(operation);
                                              });
    // A cancelled connect must not go on in BlueZ: Disconnect also ends a pending Connect.
    if (call != 0) {
      operation->OnCancel([self, call] {
        self->session().CancelCall(call);
        self->Disconnect();
      });
    }
  }

  // Connect answered: the link is up. bluetoothd often answers before it
  // signals Connected, or never signals it; then the map is behind, and
  // BlueZ's own properties say how the device stands.
  void Linked(const std::shared_ptr<ServicesOperation> &operation) {
    const BluezObject *object = session().objects().Find(path_);
    if (object && object->isDevice && object->connected) {
      AnnounceLink();
      return AwaitResolved(operation);
    }
    auto self = shared_from_this();
    session().ReadBackDevice(path_, [self, operation](HRESULT code) {
      if (!operation->Pending()) return;
      if (code < 0) return operation->Succeed(Failure(code));
      const BluezObject *now = self->session().objects().Find(self->path_);
      if (now && now->isDevice && now->connected) self->AnnounceLink();
      self->AwaitResolved(operation);
    });
  }

  void AwaitResolved(const std::shared_ptr<ServicesOperation> &operation) {
    auto self = shared_from_this();
    AwaitReport(
        session(), *operation, Awaited::ServicesResolved, path_, kResolveTimeout,
        [self, operation](HRESULT code) {
          if (!operation->Pending()) return;
          operation->Succeed(code < 0 ? Failure(code) : self->ResolvedServices());
        },
        [self] { self->Disconnect(); });
  }

  std::shared_ptr<GattDeviceServicesResult> ResolvedServices() {
    std::vector<std::shared_ptr<GattDeviceService>> items;
    for (const std::string &path : session().objects().ServicesOf(path_)) {
      const auto uuid = ParseUuid(session().objects().Find(path)->uuid);
      if (!uuid) continue;
      items.push_back(NewService(GattPlace{connection_, path, *uuid, weak_from_this(), closed_}));
    }
    return std::make_shared<ServicesResult>(GattCommunicationStatus::Success, std::move(items));
  }

  std::shared_ptr<BusConnection> connection_;
  std::string path_;
  ClosedFlag closed_ = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> connected_;
  // Replaced whole by the loop thread, read whole by any, also inside the
  // status handler: no lock there, so it is swapped as one pointer.
  AtomicPointer<std::shared_ptr<const std::u16string>> name_;
  EventList<ConnectionStatusChangedHandler> statusChanged_;
  // Loop thread only.
  std::set<std::string> subscribed_;
  bool linkAnnounced_ = false;
};

} // namespace

std::shared_ptr<BusConnection> BluezAdapter::Connection() {
  std::weak_ptr<BusConnection> seen = connection_.Load();
  for (;;) {
    if (auto live = seen.lock(); live && !live->session().Lost()) return live;
    auto fresh = BusConnection::Open(busAddress_);
    // Replaces only what was judged dead; seen holds its control block, so an
    // equal one is the same connection, not a reused address (no ABA).
    if (connection_.CompareExchange(seen, fresh)) {
      return fresh;
    }
    // Another caller published first: use theirs if it is alive. Dropping
    // fresh stops its loop thread and joins it, as for any last handle.
  }
}

std::shared_ptr<BluetoothLEAdvertisementWatcher> BluezAdapter::CreateWatcher() {
  return CreateWatcherOn(Connection());
}

AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> BluezAdapter::FromBluetoothAddressAsync(std::uint64_t address) {
  auto connection = Connection();
  auto operation = NewOperation<std::shared_ptr<BluetoothLEDevice>>(*connection);
  OnLoop(*connection, [connection, operation, address] {
    if (!operation->Pending()) return;
    // A fresh look each time: BlueZ may have dropped or re-created the device since the advertisement.
    connection->session().Refresh([connection, operation, address](HRESULT code) {
      if (!operation->Pending()) return;
      if (code < 0) return operation->Failed(code);
      BusSession &session = connection->session();
      const std::string path = session.objects().DevicePathFor(address);
      if (path.empty()) return operation->Succeed(nullptr);
      auto handOut = [connection, operation, path] {
        BusSession &live = connection->session();
        const BluezObject *object = live.objects().Find(path);
        if (!object || !object->isDevice) return operation->Succeed(nullptr);
        auto device = std::make_shared<Device>(connection, path, *object);
        device->Hold();
        live.events().AddListener(path, std::weak_ptr<DeviceListener>(device));
        operation->Succeed(device);
      };
      // A device our last Close is still taking down would look connected
      // and resolved, and refuse subscriptions: wait until it is down.
      if (!session.objects().Disconnecting(path)) return handOut();
      AwaitReport(session, *operation, Awaited::Disconnected, path, kDisconnectWait,
                  [connection, operation, path, handOut](HRESULT waited) {
                    if (!operation->Pending()) return;
                    if (waited < 0 && waited != kErrorTimeout) return operation->Failed(waited);
                    // Past the bound it goes on: a stuck disconnect must not block every attempt.
                    connection->session().objects().ForgetDisconnect(path);
                    handOut();
                  });
    });
  });
  return operation;
}

} // namespace ble::bluez
