#include "ble/sim/radio.h"

#include "ble/sim/radio_core.h"
#include "ble/sim/sim_device.h"
#include "ble/sim/sim_watcher.h"

namespace ble::sim {

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

void Radio::Advertise(std::uint64_t address, std::u16string localName, Heard heard) {
  core_->events.Post([core = core_, address, name = std::move(localName), heard] {
    std::vector<std::shared_ptr<WatcherObject>> watchers;
    {
      std::lock_guard lock(core->mutex);
      watchers = Alive(core->watchers);
    }
    for (const auto &watcher : watchers) watcher->Hear(address, name, heard == Heard::EvenAfterStop);
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

void Radio::AbortScanning() {
  std::vector<std::shared_ptr<WatcherObject>> watchers;
  {
    std::lock_guard lock(core_->mutex);
    watchers = Alive(core_->watchers);
  }
  for (const auto &watcher : watchers) watcher->Abort();
}

void Radio::AnswerUnreachable(std::uint64_t address, Op op, int times) {
  std::lock_guard lock(core_->mutex);
  core_->unreachable[{address, op}] = times;
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
