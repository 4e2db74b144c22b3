#include "ble/bluez/bluez_events.h"

#include <algorithm>
#include <utility>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_properties.h"
#include "ble/bluez/bluez_text.h"

namespace ble::bluez {
namespace {

// The listeners still alive; expired ones are dropped from the list.
template <class Listener> std::vector<std::shared_ptr<Listener>> Live(std::vector<std::weak_ptr<Listener>> &list) {
  std::erase_if(list, [](const std::weak_ptr<Listener> &weak) { return weak.expired(); });
  std::vector<std::shared_ptr<Listener>> live;
  for (const auto &weak : list) {
    if (auto strong = weak.lock()) live.push_back(std::move(strong));
  }
  return live;
}

template <class Listener>
std::vector<std::shared_ptr<Listener>> Live(std::multimap<std::string, std::weak_ptr<Listener>> &map,
                                            const std::string &path) {
  std::vector<std::shared_ptr<Listener>> live;
  auto [first, last] = map.equal_range(path);
  for (auto it = first; it != last;) {
    if (auto strong = it->second.lock()) {
      live.push_back(std::move(strong));
      ++it;
    } else {
      it = map.erase(it);
    }
  }
  return live;
}

} // namespace

void BluezEvents::AddListener(std::weak_ptr<DiscoveryListener> listener) {
  discoveryListeners_.push_back(std::move(listener));
}

void BluezEvents::AddListener(const std::string &devicePath, std::weak_ptr<DeviceListener> listener) {
  deviceListeners_.emplace(devicePath, std::move(listener));
}

void BluezEvents::AddListener(const std::string &characteristicPath, std::weak_ptr<ValueListener> listener) {
  valueListeners_.emplace(characteristicPath, std::move(listener));
}

HRESULT BluezEvents::GoneCode() const {
  return lost_.load() ? kErrorNoBus : kErrorNotFound;
}

std::uint64_t BluezEvents::When(Awaited what, const std::string &path, std::function<void(HRESULT)> fn) {
  const std::uint64_t id = ++nextId_;
  if (what == Awaited::ServicesResolved) {
    resolveWaiters_.emplace(id, Waiter{path, std::move(fn)});
    SettleResolved(path);
  } else if (what == Awaited::Disconnected) {
    disconnectWaiters_.emplace(id, Waiter{path, std::move(fn)});
    SettleDisconnected(path);
  } else {
    notifyWaiters_.emplace(id, Waiter{path, std::move(fn)});
    NotifyingChanged();
  }
  return id;
}

void BluezEvents::CancelWhen(std::uint64_t id) {
  resolveWaiters_.erase(id);
  notifyWaiters_.erase(id);
  disconnectWaiters_.erase(id);
}

void BluezEvents::CancelWaiters(HRESULT code) {
  auto resolveWaiters = std::move(resolveWaiters_);
  for (auto &[id, waiter] : resolveWaiters) waiter.fn(code);
  auto notifyWaiters = std::move(notifyWaiters_);
  for (auto &[id, waiter] : notifyWaiters) waiter.fn(code);
  auto disconnectWaiters = std::move(disconnectWaiters_);
  for (auto &[id, waiter] : disconnectWaiters) waiter.fn(code);
}

void BluezEvents::Advertise(const std::string &devicePath) {
  const BluezObject *object = map_.Find(devicePath);
  if (!object || !object->isDevice || !IsUnder(devicePath, map_.AdapterPath())) return;
  const auto address = ParseAddress(object->address);
  if (!address) return;
  const std::string name = object->name.value_or("");
  for (const auto &listener : Live(discoveryListeners_)) listener->OnAdvertisement(name, *address);
}

void BluezEvents::AdapterChanged() {
  const BluezObject *adapter = map_.Find(map_.AdapterPath());
  const bool present = adapter && adapter->isAdapter;
  const AdapterState state{present, present && adapter->powered, present && adapter->discovering};
  for (const auto &listener : Live(discoveryListeners_)) listener->OnAdapterState(state);
}

void BluezEvents::DeviceChanged(const std::string &devicePath) {
  for (const auto &listener : Live(deviceListeners_, devicePath)) {
    const BluezObject *object = map_.Find(devicePath);
    listener->OnDeviceState(object && object->isDevice ? object : nullptr);
  }
  SettleResolved(devicePath);
  SettleDisconnected(devicePath);
}

void BluezEvents::DisconnectAnswered(const std::string &devicePath) {
  map_.DisconnectAnswered(devicePath);
  SettleDisconnected(devicePath);
}

void BluezEvents::SettleDisconnected(const std::string &devicePath) {
  if (map_.Disconnecting(devicePath)) return;
  map_.ForgetDisconnect(devicePath);
  Settle(disconnectWaiters_, devicePath, kSOk);
}

void BluezEvents::Settle(std::map<std::uint64_t, Waiter> &waiters, const std::string &path, HRESULT code) {
  std::vector<std::function<void(HRESULT)>> settled;
  std::erase_if(waiters, [&](auto &entry) {
    if (entry.second.path != path) return false;
    settled.push_back(std::move(entry.second.fn));
    return true;
  });
  for (auto &fn : settled) fn(code);
}

void BluezEvents::SettleResolved(const std::string &devicePath) {
  const BluezObject *object = map_.Find(devicePath);
  HRESULT code = kSOk;
  if (!object || !object->isDevice) {
    code = GoneCode();
  } else if (!object->connected) {
    code = kErrorDeviceNotConnected;
  } else if (!object->servicesResolved) {
    return;
  }
  Settle(resolveWaiters_, devicePath, code);
}

void BluezEvents::NotifyingChanged() {
  std::vector<std::pair<std::function<void(HRESULT)>, HRESULT>> settled;
  std::erase_if(notifyWaiters_, [&](auto &entry) {
    const BluezObject *object = map_.Find(entry.second.path);
    HRESULT code = kSOk;
    if (!object || !object->isCharacteristic) {
      code = GoneCode();
    } else if (!object->notifying) {
      return false;
    }
    settled.emplace_back(std::move(entry.second.fn), code);
    return true;
  });
  for (auto &[fn, code] : settled) fn(code);
}

void BluezEvents::Value(const std::string &characteristicPath, const std::vector<std::uint8_t> &bytes) {
  for (const auto &listener : Live(valueListeners_, characteristicPath)) listener->OnValue(bytes);
}

} // namespace ble::bluez
