#pragma once

// The simulated advertisement watcher and what its events carry.

#include "ble/sim/radio_core.h"

namespace ble::sim {

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
      aborted_ = false;
    });
  }
  void Stop() override {
    core->Perform(Op::Stop, [&](const OpScript &) { EndScan(); });
  }

  BluetoothLEAdvertisementWatcherStatus Status() override {
    return core->Perform(Op::WatcherStatus, [&](const OpScript &) {
      std::lock_guard lock(core->mutex);
      if (started_) return BluetoothLEAdvertisementWatcherStatus::Started;
      return aborted_ ? BluetoothLEAdvertisementWatcherStatus::Aborted : BluetoothLEAdvertisementWatcherStatus::Stopped;
    });
  }

  // Ends a running scan as some systems do when the radio goes: no event.
  void Abort() {
    std::lock_guard lock(core->mutex);
    if (!started_) return;
    started_ = false;
    aborted_ = true;
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

  void Hear(std::uint64_t address, const std::u16string &name, bool evenIfStopped = false) {
    {
      std::lock_guard lock(core->mutex);
      if (!started_ && !evenIfStopped) return;
    }
    ReceivedArgsObject args(core, address, name);
    for (const auto &handler : received_.Snapshot()) core->Deliver([&] { handler(*this, args); });
  }

  bool started_ = false; // under the core's mutex
  bool aborted_ = false; // under the core's mutex
  BluetoothLEScanningMode mode_ = BluetoothLEScanningMode::Passive;

private:
  HandlerList<ReceivedHandler> received_;
  HandlerList<StoppedHandler> stopped_;
};

} // namespace ble::sim
