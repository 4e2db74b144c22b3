#include "ble/bluez/bluez_adapter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <vector>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_text.h"
#include "ble/bluez/bus_session.h"
#include "ble/bluez/event_list.h"
#include "ble/link_worker.h"
#include "support/blocking_wait.h"

namespace ble::bluez {
namespace {

constexpr const char *kAdapter1 = "org.bluez.Adapter1";
constexpr const char *kDevice1 = "org.bluez.Device1";
constexpr const char *kCharacteristic1 = "org.bluez.GattCharacteristic1";
// How long a connected device may take to export its services.
constexpr std::chrono::milliseconds kResolveTimeout{10'000};

// An operation finished on the loop thread; cancelling it also undoes the
// step in progress there (drops the pending call, so its reply is ignored).
template <class T>
class BusOperation final : public PendingOperation<T>, public std::enable_shared_from_this<BusOperation<T>> {
public:
  explicit BusOperation(std::weak_ptr<BusSession> session) : session_(std::move(session)) {}

  void Cancel() override {
    if (!this->FinishCanceled()) return;
    if (auto session = session_.lock()) {
      session->Post([self = this->shared_from_this()] {
        auto hook = std::move(self->cancelHook_);
        self->cancelHook_ = nullptr;
        if (hook) hook();
      });
    }
  }

  // Loop thread from here on.
  bool Pending() { return this->Status() == AsyncStatus::Started; }
  void OnCancel(std::function<void()> hook) {
    if (Pending()) cancelHook_ = std::move(hook);
  }
  void Succeed(T value) {
    cancelHook_ = nullptr;
    this->Complete(std::move(value));
  }
  void Failed(HRESULT code) {
    cancelHook_ = nullptr;
    this->Fail(code);
  }

private:
  std::weak_ptr<BusSession> session_;
  std::function<void()> cancelHook_;
};

template <class T> std::shared_ptr<BusOperation<T>> NewOperation(const BusConnection &connection) {
  return std::make_shared<BusOperation<T>>(connection.weak());
}

// Runs task on the loop thread: at once when already there.
void OnLoop(const BusConnection &connection, std::function<void()> task) {
  if (connection.session().OnLoopThread()) {
    task();
  } else if (!connection.session().Post(std::move(task))) {
    raise_platform_error(kErrorNoBus);
  }
}

void IgnoreReply(const CallOutcome &) {}

// Waits on the link's own terms: bounded, and given up as soon as the link is
// told to stop, so a bluetoothd that never answers cannot hold a Deactivate.
template <class T> T AwaitOnLink(AsyncOperation<T> &operation) {
  return blocking_get(operation, linkRunning, linkTimings.operationTimeout);
}

// Why a scan ended that nobody stopped: the radio or the service went, or
// BlueZ ended the discovery itself.
BluetoothError StopReason(HRESULT code) {
  if (code == kErrorNoAdapter || code == kErrorNotReady || code == kErrorServiceNotActive) {
    return BluetoothError::RadioNotAvailable;
  }
  return BluetoothError::OtherError;
}

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

class NamedAdvertisement final : public BluetoothLEAdvertisement {
public:
  explicit NamedAdvertisement(std::u16string name) : name_(std::move(name)) {}
  std::u16string LocalName() override { return name_; }

private:
  std::u16string name_;
};

class ReceivedArgs final : public BluetoothLEAdvertisementReceivedEventArgs {
public:
  ReceivedArgs(const std::string &name, std::uint64_t address)
      : advertisement_(std::make_shared<NamedAdvertisement>(Utf8ToUtf16(name))), address_(address) {}
  std::shared_ptr<BluetoothLEAdvertisement> Advertisement() override { return advertisement_; }
  std::uint64_t BluetoothAddress() override { return address_; }

private:
  std::shared_ptr<BluetoothLEAdvertisement> advertisement_;
  std::uint64_t address_;
};

class StoppedArgs final : public BluetoothLEAdvertisementWatcherStoppedEventArgs {
public:
  explicit StoppedArgs(BluetoothError error) : error_(error) {}
  BluetoothError Error() override { return error_; }

private:
  BluetoothError error_;
};

class Watcher final : public BluetoothLEAdvertisementWatcher,
                      public DiscoveryListener,
                      public std::enable_shared_from_this<Watcher> {
public:
  explicit Watcher(std::shared_ptr<BusConnection> connection) : connection_(std::move(connection)) {}

  // BlueZ discovers LE devices by active scanning; there is nothing to set.
  void ScanningMode(BluetoothLEScanningMode) override {}
  EventToken Received(ReceivedHandler handler) override { return received_.Add(std::move(handler)); }
  void Received(EventToken token) override { received_.Remove(token); }
  EventToken Stopped(StoppedHandler handler) override { return stopped_.Add(std::move(handler)); }
  void Stopped(EventToken token) override { stopped_.Remove(token); }

  void Start() override {
    // On the loop thread nothing may wait for BlueZ: a failure then shows as Stopped.
    if (connection_->session().OnLoopThread()) {
      BeginStart(nullptr);
      return;
    }
    auto operation = NewOperation<bool>(*connection_);
    OnLoop(*connection_, [self = shared_from_this(), operation] { self->BeginStart(operation); });
    AwaitOnLink(*operation);
  }

  void Stop() override {
    OnLoop(*connection_, [self = shared_from_this()] { self->BeginStop(); });
  }

  void OnAdvertisement(const std::string &name, std::uint64_t address) override {
    if (!started_) return;
    ReceivedArgs args(name, address);
    received_.ForEach([&](const auto &handler) { (void)handler_boundary([&] { handler(*this, args); }); });
  }

  void OnAdapterState(bool present, bool powered, bool discovering) override {
    if (!started_) return;
    if (present && powered && discovering) {
      discoveringSeen_ = true;
      return;
    }
    // Before BlueZ has reported our discovery running, "not discovering" is stale news.
    if (present && powered && !discoveringSeen_) return;
    started_ = false;
    // Not our Stop: the scan ended under us, and the link has to start over.
    if (session().Lost()) {
      RaiseStopped(BluetoothError::OtherError);
    } else {
      RaiseStopped(present && powered ? BluetoothError::OtherError : BluetoothError::RadioNotAvailable);
    }
  }

private:
  BusSession &session() { return connection_->session(); }

  void BeginStart(std::shared_ptr<BusOperation<bool>> operation) {
    if (started_) {
      if (operation) operation->Succeed(true);
      return;
    }
    auto self = shared_from_this();
    // A caller that gave up (stop or time limit) ends the sequence at the next answer.
    auto abandoned = [operation] { return operation && !operation->Pending(); };
    session().Refresh([self, operation, abandoned](HRESULT code) {
      if (abandoned()) return;
      if (code < 0) return self->StartFailed(operation, code);
      const std::string adapter = self->session().AdapterPath();
      if (adapter.empty()) return self->StartFailed(operation, kErrorNoAdapter);
      self->session().Call(adapter, kAdapter1, "SetDiscoveryFilter", AppendFilter, BusSession::kShortCallUsec,
                           [self, operation, adapter, abandoned](const CallOutcome &filtered) {
                             if (abandoned()) return;
                             // A BlueZ too old for a key refuses the whole filter; discovery still works without it.
                             if (filtered.code < 0 && filtered.code != kEInvalidArg)
                               return self->StartFailed(operation, filtered.code);
                             self->session().Call(
                                 adapter, kAdapter1, "StartDiscovery", nullptr, BusSession::kShortCallUsec,
                                 [self, operation, adapter, abandoned](const CallOutcome &started) {
                                   // InProgress: this connection's discovery already runs.
                                   const bool running = started.code >= 0 || started.code == kErrorBusy;
                                   if (abandoned()) {
                                     // Nobody waits for this scan any more: leave no session behind in BlueZ.
                                     if (running) {
                                       self->session().Call(adapter, kAdapter1, "StopDiscovery", nullptr,
                                                            BusSession::kShortCallUsec, IgnoreReply);
                                     }
                                     return;
                                   }
                                   if (!running) return self->StartFailed(operation, started.code);
                                   self->Started(operation, adapter);
                                 });
                           });
    });
  }

  static int AppendFilter(sd_bus_message *m) {
    return sd_bus_message_append(m, "a{sv}", 2, "Transport", "s", "le", "DuplicateData", "b", 1);
  }

  void Started(const std::shared_ptr<BusOperation<bool>> &operation, const std::string &adapter) {
    started_ = true;
    discoveringSeen_ = false;
    adapterPath_ = adapter;
    if (operation) operation->Succeed(true);
    // Devices another client's discovery already sees will not announce themselves again.
    for (const auto &[name, address] : session().SeenDevices()) OnAdvertisement(name, address);
  }

  void StartFailed(const std::shared_ptr<BusOperation<bool>> &operation, HRESULT code) {
    if (operation) {
      operation->Failed(code);
    } else {
      RaiseStopped(StopReason(code));
    }
  }

  void BeginStop() {
    if (!started_) return;
    started_ = false;
    // Stopped follows BlueZ's answer, whatever it is: "No discovery started" also means stopped.
    session().Call(adapterPath_, kAdapter1, "StopDiscovery", nullptr, BusSession::kShortCallUsec,
                   [self = shared_from_this()](const CallOutcome &) { self->RaiseStopped(); });
  }

  void RaiseStopped(BluetoothError error = BluetoothError::Success) {
    StoppedArgs args(error);
    stopped_.ForEach([&](const auto &handler) { (void)handler_boundary([&] { handler(*this, args); }); });
  }

  std::shared_ptr<BusConnection> connection_;
  EventList<ReceivedHandler> received_;
  EventList<StoppedHandler> stopped_;
  // Loop thread only.
  bool started_ = false;
  bool discoveringSeen_ = false;
  std::string adapterPath_;
};

class Device;

using ClosedFlag = std::shared_ptr<std::atomic<bool>>;

void ThrowIfClosed(const ClosedFlag &closed) {
  if (closed->load()) raise_platform_error(kRoEClosed);
}

class Characteristic final : public GattCharacteristic,
                             public ValueListener,
                             public std::enable_shared_from_this<Characteristic> {
public:
  Characteristic(std::shared_ptr<BusConnection> connection, std::string path, Guid uuid, std::weak_ptr<Device> device,
                 ClosedFlag closed)
      : connection_(std::move(connection)), path_(std::move(path)), uuid_(uuid), device_(std::move(device)),
        closed_(std::move(closed)) {}

  Guid Uuid() override { return uuid_; }
  EventToken ValueChanged(ValueChangedHandler handler) override { return valueChanged_.Add(std::move(handler)); }
  void ValueChanged(EventToken token) override { valueChanged_.Remove(token); }

  AsyncOperationPtr<GattCommunicationStatus> WriteClientCharacteristicConfigurationDescriptorAsync(
      GattClientCharacteristicConfigurationDescriptorValue value) override;

  // Loop thread.
  void Subscribed(BusOperation<GattCommunicationStatus> &operation, bool subscribe, HRESULT code);
  void AwaitNotifying(const std::shared_ptr<BusOperation<GattCommunicationStatus>> &operation);

  void OnValue(const std::vector<std::uint8_t> &bytes) override {
    if (closed_->load()) return;
    ValueChangedArgs args(std::make_shared<ByteBuffer>(bytes));
    valueChanged_.ForEach([&](const auto &handler) { (void)handler_boundary([&] { handler(*this, args); }); });
  }

private:
  std::shared_ptr<BusConnection> connection_;
  std::string path_;
  Guid uuid_;
  std::weak_ptr<Device> device_;
  ClosedFlag closed_;
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
  Service(std::shared_ptr<BusConnection> connection, std::string path, Guid uuid, std::weak_ptr<Device> device,
          ClosedFlag closed)
      : connection_(std::move(connection)), path_(std::move(path)), uuid_(uuid), device_(std::move(device)),
        closed_(std::move(closed)) {}

  Guid Uuid() override { return uuid_; }

  // BlueZ has exported the characteristics by the time the services are
  // resolved, so this only reads the object map.
  AsyncOperationPtr<std::shared_ptr<GattCharacteristicsResult>> GetCharacteristicsAsync() override {
    ThrowIfClosed(closed_);
    auto operation = NewOperation<std::shared_ptr<GattCharacteristicsResult>>(*connection_);
    OnLoop(*connection_, [self = shared_from_this(), operation] {
      if (!operation->Pending()) return;
      if (self->closed_->load()) return operation->Failed(kRoEClosed);
      BusSession &session = self->connection_->session();
      std::vector<std::shared_ptr<GattCharacteristic>> items;
      for (const std::string &path : session.Children(self->path_, false)) {
        const auto uuid = ParseUuid(session.Find(path)->uuid);
        if (!uuid) continue;
        auto characteristic =
            std::make_shared<Characteristic>(self->connection_, path, *uuid, self->device_, self->closed_);
        session.AddListener(path, std::weak_ptr<ValueListener>(characteristic));
        items.push_back(std::move(characteristic));
      }
      operation->Succeed(std::make_shared<CharacteristicsResult>(std::move(items)));
    });
    return operation;
  }

private:
  std::shared_ptr<BusConnection> connection_;
  std::string path_;
  Guid uuid_;
  std::weak_ptr<Device> device_;
  ClosedFlag closed_;
};

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

class Device final : public BluetoothLEDevice, public DeviceListener, public std::enable_shared_from_this<Device> {
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
      session.ReleaseDevicePath(path_);
    } else {
      session.Post([weak = connection_->weak(), path = path_] {
        if (auto live = weak.lock()) live->ReleaseDevicePath(path);
      });
    }
  }

  // Loop thread, once, when the device is handed out.
  void Hold() { session().HoldDevicePath(path_); }

  void Close() override {
    if (closed_->exchange(true)) return;
    OnLoop(*connection_, [self = shared_from_this()] {
      // A later lookup of the same device shares its link and its notify
      // sessions (BlueZ keeps one per bus connection): only the last holder ends them.
      const bool last = self->session().ReleaseDevicePath(self->path_);
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
    statusChanged_.ForEach([&](const auto &handler) { (void)handler_boundary([&] { handler(*this); }); });
  }

  // Loop thread: remembered so Close can end the subscription.
  void NoteSubscribed(const std::string &characteristicPath) { subscribed_.insert(characteristicPath); }

private:
  using ServicesOperation = BusOperation<std::shared_ptr<GattDeviceServicesResult>>;

  BusSession &session() { return connection_->session(); }

  void Disconnect() { session().Call(path_, kDevice1, "Disconnect", nullptr, BusSession::kShortCallUsec, IgnoreReply); }

  static std::shared_ptr<GattDeviceServicesResult> Failure(HRESULT code) {
    return std::make_shared<ServicesResult>(GattStatusFromCode(code),
                                            std::vector<std::shared_ptr<GattDeviceService>>{});
  }

  void BeginServices(const std::shared_ptr<ServicesOperation> &operation) {
    if (!operation->Pending()) return;
    if (closed_->load()) return operation->Failed(kRoEClosed);
    const BluezObject *object = session().Find(path_);
    if (!object || !object->isDevice) return operation->Succeed(Failure(kErrorNotFound));
    if (object->connected) return AwaitResolved(operation);
    auto self = shared_from_this();
    const std::uint64_t call = session().Call(path_, kDevice1, "Connect", nullptr, BusSession::kConnectCallUsec,
                                              [self, operation](const CallOutcome &outcome) {
                                                if (!operation->Pending()) return;
                                                if (outcome.code < 0) return operation->Succeed(Failure(outcome.code));
                                                self->AwaitResolved(operation);
                                              });
    // A cancelled connect must not go on in BlueZ: Disconnect also ends a pending Connect.
    if (call != 0) {
      operation->OnCancel([self, call] {
        self->session().CancelCall(call);
        self->Disconnect();
      });
    }
  }

  void AwaitResolved(const std::shared_ptr<ServicesOperation> &operation) {
    struct Wait {
      std::uint64_t waiter = 0;
      std::uint64_t timer = 0;
      bool done = false;
    };
    auto wait = std::make_shared<Wait>();
    auto self = shared_from_this();
    auto finish = [self, operation, wait](HRESULT code) {
      if (wait->done) return;
      wait->done = true;
      self->session().CancelTimer(wait->timer);
      self->session().CancelWhenServicesResolved(wait->waiter);
      if (!operation->Pending()) return;
      operation->Succeed(code < 0 ? Failure(code) : self->ResolvedServices());
    };
    wait->waiter = session().WhenServicesResolved(path_, finish);
    if (wait->done) return;
    wait->timer = session().AddTimer(kResolveTimeout, [finish] { finish(kErrorTimeout); });
    operation->OnCancel([self, wait] {
      wait->done = true;
      self->session().CancelTimer(wait->timer);
      self->session().CancelWhenServicesResolved(wait->waiter);
      self->Disconnect();
    });
  }

  std::shared_ptr<GattDeviceServicesResult> ResolvedServices() {
    std::vector<std::shared_ptr<GattDeviceService>> items;
    for (const std::string &path : session().Children(path_, true)) {
      const auto uuid = ParseUuid(session().Find(path)->uuid);
      if (!uuid) continue;
      items.push_back(std::make_shared<Service>(connection_, path, *uuid, weak_from_this(), closed_));
    }
    return std::make_shared<ServicesResult>(GattCommunicationStatus::Success, std::move(items));
  }

  std::shared_ptr<BusConnection> connection_;
  std::string path_;
  ClosedFlag closed_ = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> connected_;
  // Replaced whole by the loop thread, read whole by any.
  AtomicPointer<std::shared_ptr<const std::u16string>> name_;
  EventList<ConnectionStatusChangedHandler> statusChanged_;
  // Loop thread only.
  std::set<std::string> subscribed_;
};

AsyncOperationPtr<GattCommunicationStatus> Characteristic::WriteClientCharacteristicConfigurationDescriptorAsync(
    GattClientCharacteristicConfigurationDescriptorValue value) {
  ThrowIfClosed(closed_);
  auto operation = NewOperation<GattCommunicationStatus>(*connection_);
  OnLoop(*connection_, [self = shared_from_this(), operation, value] {
    if (!operation->Pending()) return;
    if (self->closed_->load()) return operation->Failed(kRoEClosed);
    const bool subscribe = value != GattClientCharacteristicConfigurationDescriptorValue::None;
    // BlueZ writes the descriptor itself: StartNotify is the only way to subscribe.
    const std::uint64_t call = self->connection_->session().Call(
        self->path_, kCharacteristic1, subscribe ? "StartNotify" : "StopNotify", nullptr, BusSession::kShortCallUsec,
        [self, operation, subscribe](const CallOutcome &outcome) {
          if (!operation->Pending()) return;
          // InProgress: an earlier subscription of this connection is still
          // being set up, and may yet fail; only Notifying tells.
          if (subscribe && outcome.code == kErrorBusy) return self->AwaitNotifying(operation);
          self->Subscribed(*operation, subscribe, outcome.code);
        });
    if (call != 0) operation->OnCancel([self, call] { self->connection_->session().CancelCall(call); });
  });
  return operation;
}

void Characteristic::Subscribed(BusOperation<GattCommunicationStatus> &operation, bool subscribe, HRESULT code) {
  if (code >= 0 && subscribe) {
    if (auto device = device_.lock()) device->NoteSubscribed(path_);
  }
  operation.Succeed(GattStatusFromCode(code));
}

void Characteristic::AwaitNotifying(const std::shared_ptr<BusOperation<GattCommunicationStatus>> &operation) {
  struct Wait {
    std::uint64_t waiter = 0;
    std::uint64_t timer = 0;
    bool done = false;
  };
  auto wait = std::make_shared<Wait>();
  auto self = shared_from_this();
  auto finish = [self, operation, wait](HRESULT code) {
    if (wait->done) return;
    wait->done = true;
    BusSession &session = self->connection_->session();
    session.CancelTimer(wait->timer);
    session.CancelWhenNotifying(wait->waiter);
    if (!operation->Pending()) return;
    self->Subscribed(*operation, true, code);
  };
  BusSession &session = connection_->session();
  wait->waiter = session.WhenNotifying(path_, finish);
  if (wait->done) return;
  wait->timer = session.AddTimer(std::chrono::milliseconds(BusSession::kShortCallUsec / 1000),
                                 [finish] { finish(kErrorTimeout); });
  operation->OnCancel([self, wait] {
    wait->done = true;
    self->connection_->session().CancelTimer(wait->timer);
    self->connection_->session().CancelWhenNotifying(wait->waiter);
  });
}

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
  auto connection = Connection();
  if (connection->session().OnLoopThread()) raise_platform_error(kRpcEWrongThread);
  auto watcher = std::make_shared<Watcher>(connection);
  auto operation = NewOperation<bool>(*connection);
  OnLoop(*connection, [connection, watcher, operation] {
    connection->session().Refresh([connection, watcher, operation](HRESULT code) {
      if (code < 0) return operation->Failed(code);
      if (connection->session().AdapterPath().empty()) return operation->Failed(kErrorNoAdapter);
      connection->session().AddListener(std::weak_ptr<DiscoveryListener>(watcher));
      operation->Succeed(true);
    });
  });
  AwaitOnLink(*operation);
  return watcher;
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
      const std::string path = session.DevicePathFor(address);
      if (path.empty()) return operation->Succeed(nullptr);
      auto device = std::make_shared<Device>(connection, path, *session.Find(path));
      device->Hold();
      session.AddListener(path, std::weak_ptr<DeviceListener>(device));
      operation->Succeed(device);
    });
  });
  return operation;
}

} // namespace ble::bluez
