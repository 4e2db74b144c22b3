#include "ble/advertisement_discovery.h"

#include "ble/link_state.h"
#include "support/host_log.h"
#include "support/log_text.h"

bool IsPistolName(std::u16string_view localName) {
  for (std::u16string_view accepted : {std::u16string_view(u"Pistol"), std::u16string_view(u"Pistol K12")})
    if (localName == accepted) return true;
  return false;
}

void OnAdvertisementReceived(std::atomic<std::uint64_t> &targetAddress, ble::BluetoothLEAdvertisementWatcher &watcher,
                             std::atomic<std::int32_t> &phase, ble::BluetoothLEAdvertisementReceivedEventArgs &args) {
  const std::u16string name = args.Advertisement()->LocalName();
  if (name.empty()) return;
  const std::uint64_t address = args.BluetoothAddress();
  LogLine("Found device: " + utf8_from_platform_text(name) + " (Address: " + decimal_text(address) + ")");
  // Advertisements keep arriving for a moment after Stop; one that lands
  // while the worker connects or is linked must not start a second connection.
  if (!IsPistolName(name) || phase.load() != Scanning) return;

  LogLine("Target device found.");
  targetAddress.store(address);
  watcher.Stop();
  std::int32_t expected = Scanning;
  phase.compare_exchange_strong(expected, TargetFound);
}

void OnWatcherStopped(std::atomic<bool> &scanInterrupted, ble::BluetoothLEAdvertisementWatcherStoppedEventArgs &args) {
  LogLine("Watcher stopped.");
  if (args.Error() != ble::BluetoothError::Success) scanInterrupted.store(true);
}
