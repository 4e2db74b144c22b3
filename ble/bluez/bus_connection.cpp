#include "ble/bluez/bus_connection.h"

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/loop_threads.h"
#include "ble/bluez/sdbus_library.h"

namespace ble::bluez {

std::shared_ptr<BusConnection> BusConnection::Open(const std::string &address) {
  LoopThreads::Instance().JoinEnded();
  // Without sd-bus there is no radio here, as on a platform without a backend.
  if (!sdbus::Load()) raise_platform_error(kErrorDeviceNotAvailable);
  sdbus::Bus bus;
  const int r = sdbus::Bus::Open(address, bus);
  if (r < 0) raise_platform_error(HresultFromErrno(r) == kEFail ? kErrorNoBus : HresultFromErrno(r));
  std::shared_ptr<BusConnection> connection(new BusConnection());
  connection->session_ = std::make_shared<BusSession>(std::move(bus));
  LoopThreads::Instance().Start(connection->session_);
  return connection;
}

BusConnection::~BusConnection() {
  session_->RequestStop();
  LoopThreads::Instance().Finish(session_.get());
}

} // namespace ble::bluez
