#include "ble/bluez/bluez_watcher.h"

#include <string>
#include <utility>

#include "ble/bluez/bluez_text.h"
#include "ble/bluez/bus_operation.h"
#include "ble/bluez/event_list.h"

namespace ble::bluez {
namespace {

// Why a scan ended that nobody stopped: the radio or the service went, or
// BlueZ ended the discovery itself.
BluetoothError StopReason(HRESULT code) {
  if (code == kErrorNoAdapter || code == kErrorNotReady || code == kErrorServiceNotActive) {
    return BluetoothError::RadioNotAvailable;
  }
  return BluetoothError::OtherError;
}

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

  void OnAdapterState(const AdapterState &state) override {
    if (!started_ || LeftBehind()) return;
    const bool usable = state.present && state.powered;
    if (usable && state.discovering) {
      discoveringSeen_ = true;
      return;
    }
    // Before BlueZ has reported our discovery running, "not discovering" is stale news.
    if (usable && !discoveringSeen_) return;
    started_ = false;
    // Not our Stop: the scan ended under us, and the link has to start over.
    if (session().Lost()) {
      RaiseStopped(BluetoothError::OtherError);
    } else {
      RaiseStopped(usable ? BluetoothError::OtherError : BluetoothError::RadioNotAvailable);
    }
  }

private:
  BusSession &session() { return connection_->session(); }

  // The backend moved to another adapter (one powered up that comes first):
  // the scan on the old one ends, and the next Start uses the new one.
  bool LeftBehind() {
    const std::string &chosen = session().objects().AdapterPath();
    if (chosen.empty() || chosen == adapterPath_) return false;
    started_ = false;
    session().Call(adapterPath_, kAdapter1, "StopDiscovery", nullptr, BusSession::kShortCallUsec, IgnoreReply);
    RaiseStopped(BluetoothError::OtherError);
    return true;
  }

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
      const std::string adapter = self->session().objects().AdapterPath();
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
    // The choice may have moved while StartDiscovery was on its way.
    if (LeftBehind()) return;
    // Devices another client's discovery already sees will not announce themselves again.
    for (const auto &[name, address] : session().objects().SeenDevices()) OnAdvertisement(name, address);
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

} // namespace

std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcherOn(std::shared_ptr<BusConnection> connection) {
  if (connection->session().OnLoopThread()) raise_platform_error(kRpcEWrongThread);
  auto watcher = std::make_shared<Watcher>(connection);
  auto operation = NewOperation<bool>(*connection);
  OnLoop(*connection, [connection, watcher, operation] {
    connection->session().Refresh([connection, watcher, operation](HRESULT code) {
      if (code < 0) return operation->Failed(code);
      if (connection->session().objects().AdapterPath().empty()) return operation->Failed(kErrorNoAdapter);
      connection->session().events().AddListener(std::weak_ptr<DiscoveryListener>(watcher));
      operation->Succeed(true);
    });
  });
  AwaitOnLink(*operation);
  return watcher;
}

} // namespace ble::bluez
