#include "ble/packet_decoder.h"

#include <vector>

#include "ble/input_latches.h"
#include "support/host_log.h"

PistolButton DecodeNotification(std::span<const std::uint8_t> v) {
  if (v.size() == 6 && v[0] == 0x5B && v[5] == 0x5D) return PistolButton::Fire;
  if (v.size() == 4 && v[0] == 0x5C) {
    if (v[1] == 0x00 && v[2] == 0x5C && v[3] == 0x5D) return PistolButton::EjectMag;
    if (v[1] == 0x01 && v[2] == 0x5D && v[3] == 0x5D) return PistolButton::LoadMag;
  }
  return PistolButton::None;
}

std::string ReceivedDataLine(std::span<const std::uint8_t> value) {
  std::string line;
  line.reserve(15 + value.size() * 4 + 3);
  line += "Received data: ";
  for (std::uint8_t byte : value) {
    if (byte >= 100) line += static_cast<char>('0' + byte / 100);
    if (byte >= 10) line += static_cast<char>('0' + byte / 10 % 10);
    line += static_cast<char>('0' + byte % 10);
    line += ' ';
  }
  line += "END";
  return line;
}

void HandleNotification(std::span<const std::uint8_t> value, InputLatches &latches) {
  // Set before logging: the frame may take the latch while the line is written.
  switch (DecodeNotification(value)) {
  case PistolButton::Fire:
    latches.fire.exchange(true);
    break;
  case PistolButton::EjectMag:
    latches.eject_mag.exchange(true);
    break;
  case PistolButton::LoadMag:
    latches.load_mag.exchange(true);
    break;
  case PistolButton::None:
    break;
  }
  LogLine(ReceivedDataLine(value));
}

void OnCharacteristicValueChanged(ble::GattCharacteristic &, ble::GattValueChangedEventArgs &args) {
  std::shared_ptr<ble::IBuffer> buffer = args.CharacteristicValue();
  std::shared_ptr<ble::DataReader> reader = ble::DataReader::FromBuffer(*buffer);
  std::vector<std::uint8_t> bytes(reader->UnconsumedBufferLength());
  reader->ReadBytes(bytes);
  HandleNotification(bytes, inputLatches);
}
