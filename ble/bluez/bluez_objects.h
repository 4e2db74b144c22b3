#pragma once

// The session's picture of BlueZ: what it keeps of each exported object, the
// adapter in use, and the lookups the backend's objects make in it. The
// tracker (bluez_tracker.h) keeps it current. Loop thread only.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ble::bluez {

// What the backend keeps of one BlueZ object.
struct BluezObject {
  bool isAdapter = false;
  bool powered = false;
  bool discovering = false;

  bool isDevice = false;
  std::string address;
  std::optional<std::string> name;
  bool connected = false;
  bool servicesResolved = false;
  // RSSI is present only while the device is seen in a running discovery.
  bool seen = false;

  bool isService = false;
  bool isCharacteristic = false;
  bool notifying = false;
  std::string uuid;
  // The owning device (of a service) or service (of a characteristic).
  std::string owner;

  bool Empty() const { return !isAdapter && !isDevice && !isService && !isCharacteristic; }
};

class ObjectMap {
public:
  using Objects = std::map<std::string, BluezObject>;

  // The adapter in use (empty: none).
  const std::string &AdapterPath() const { return adapterPath_; }
  const BluezObject *Find(const std::string &path) const;
  // The services of a device and the characteristics of a service, in path order.
  std::vector<std::string> ServicesOf(const std::string &devicePath) const;
  std::vector<std::string> CharacteristicsOf(const std::string &servicePath) const;
  // Name and address of each device under the adapter that a running
  // discovery currently sees.
  std::vector<std::pair<std::string, std::uint64_t>> SeenDevices() const;
  // The device object for an address: under the adapter in use if there, else
  // under any adapter; empty when BlueZ knows none.
  std::string DevicePathFor(std::uint64_t address) const;

  // Device objects handed out for one BlueZ device share its link: each
  // holds the path while open, and only the last to let go may end the link.
  // ReleaseDevicePath is true for that last one.
  void HoldDevicePath(const std::string &devicePath);
  bool ReleaseDevicePath(const std::string &devicePath);

  // Our Disconnect of a device, from the call until BlueZ has answered it and
  // no longer reports the device connected: bluetoothd takes seconds over it,
  // and a device in that state accepts Connect without a fresh link.
  void DisconnectSent(const std::string &devicePath);
  void DisconnectAnswered(const std::string &devicePath);
  bool Disconnecting(const std::string &devicePath) const;
  // Stops treating the device as disconnecting (it has settled, or the wait
  // for it gave up).
  void ForgetDisconnect(const std::string &devicePath) { disconnects_.erase(devicePath); }

  // The tracker's side: the objects as BlueZ reports them.
  Objects &objects() { return objects_; }
  const Objects &objects() const { return objects_; }
  // The first adapter, preferring a powered one, unless the current one is still there.
  void ChooseAdapter();
  // Paths of the devices known now.
  std::vector<std::string> DevicePaths() const;
  // Drops everything: BlueZ or the bus is gone. Gives the devices that went.
  std::vector<std::string> Clear();
  // Drops what lies below the adapter. Gives the devices that went.
  std::vector<std::string> ForgetUnder(const std::string &adapterPath);

private:
  std::vector<std::string> OwnedBy(const std::string &owner, bool BluezObject::*kind) const;

  Objects objects_;
  std::string adapterPath_;
  std::map<std::string, int> deviceHolders_;
  // Device path to "the Disconnect call is still unanswered".
  std::map<std::string, bool> disconnects_;
};

} // namespace ble::bluez
