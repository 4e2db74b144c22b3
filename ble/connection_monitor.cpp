#include "ble/connection_monitor.h"

#include "ble/link_state.h"
#include "support/host_log.h"
#include "support/log_text.h"

void OnConnectionStatusChanged(std::atomic<std::int32_t> &phase, ble::BluetoothLEDevice &sender) {
  const ble::BluetoothConnectionStatus status = sender.ConnectionStatus();
  const std::string name = utf8_from_platform_text(sender.Name());
  if (status == ble::BluetoothConnectionStatus::Connected) {
    LogLine("Connected to device: " + name);
    return;
  }
  LogLine("Disconnected from device: " + name);
  phase.store(ConnectionLost);
}
