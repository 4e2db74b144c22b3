#pragma once

// Who hears of changes in the object map: listeners, held weakly so a dropped
// object simply stops receiving, and one-shot waiters for a state BlueZ is to
// report. Loop thread only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ble/bluez/bluez_objects.h"
#include "support/platform_error.h"

namespace ble::bluez {

// The adapter in use as BlueZ reports it.
struct AdapterState {
  // False: the adapter, BlueZ or the bus is gone.
  bool present = false;
  bool powered = false;
  bool discovering = false;
};

class DiscoveryListener {
public:
  virtual ~DiscoveryListener() = default;
  virtual void OnAdvertisement(const std::string &name, std::uint64_t address) = 0;
  virtual void OnAdapterState(const AdapterState &state) = 0;
};

class DeviceListener {
public:
  virtual ~DeviceListener() = default;
  // object is null when the device, BlueZ or the bus is gone.
  virtual void OnDeviceState(const BluezObject *object) = 0;
};

class ValueListener {
public:
  virtual ~ValueListener() = default;
  virtual void OnValue(const std::vector<std::uint8_t> &bytes) = 0;
};

// What a waiter waits for: a device's ServicesResolved (it fails if the device
// disconnects or vanishes), a characteristic's Notifying (it fails if the
// characteristic vanishes), or the end of our Disconnect of a device.
enum class Awaited { ServicesResolved, Notifying, Disconnected };

class BluezEvents {
public:
  // lost tells a vanished object from a lost bus in what waiters are given.
  BluezEvents(ObjectMap &map, const std::atomic<bool> &lost) : map_(map), lost_(lost) {}
  BluezEvents(const BluezEvents &) = delete;
  BluezEvents &operator=(const BluezEvents &) = delete;

  void AddListener(std::weak_ptr<DiscoveryListener> listener);
  void AddListener(const std::string &devicePath, std::weak_ptr<DeviceListener> listener);
  void AddListener(const std::string &characteristicPath, std::weak_ptr<ValueListener> listener);

  // fn(0) once the object at path is in the awaited state, fn(code) if it
  // fails first or the session ends. Returns the id for CancelWhen.
  std::uint64_t When(Awaited what, const std::string &path, std::function<void(HRESULT)> fn);
  void CancelWhen(std::uint64_t id);
  // The session ends: every waiter gets code.
  void CancelWaiters(HRESULT code);

  // The tracker's side: what changed in the map.
  void Advertise(const std::string &devicePath);
  void AdapterChanged();
  void DeviceChanged(const std::string &devicePath);
  void NotifyingChanged();
  // Our Disconnect of the device was answered.
  void DisconnectAnswered(const std::string &devicePath);
  void Value(const std::string &characteristicPath, const std::vector<std::uint8_t> &bytes);

private:
  struct Waiter {
    std::string path;
    std::function<void(HRESULT)> fn;
  };

  HRESULT GoneCode() const;
  void SettleResolved(const std::string &devicePath);
  void SettleDisconnected(const std::string &devicePath);
  static void Settle(std::map<std::uint64_t, Waiter> &waiters, const std::string &path, HRESULT code);

  ObjectMap &map_;
  const std::atomic<bool> &lost_;
  std::uint64_t nextId_ = 0;
  std::map<std::uint64_t, Waiter> resolveWaiters_;
  std::map<std::uint64_t, Waiter> notifyWaiters_;
  std::map<std::uint64_t, Waiter> disconnectWaiters_;
  std::vector<std::weak_ptr<DiscoveryListener>> discoveryListeners_;
  std::multimap<std::string, std::weak_ptr<DeviceListener>> deviceListeners_;
  std::multimap<std::string, std::weak_ptr<ValueListener>> valueListeners_;
};

} // namespace ble::bluez
