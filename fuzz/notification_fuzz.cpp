// Arbitrary notification values: no crash, a latch only for the three exact
// packets, and the log line always the exact decimal rendering.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "ble/packet_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::span<const std::uint8_t> value(data, size);
  const PistolButton button = DecodeNotification(value);
  const bool trigger = size == 6 && data[0] == 0x5B && data[5] == 0x5D;
  const bool eject = size == 4 && data[0] == 0x5C && data[1] == 0x00 && data[2] == 0x5C && data[3] == 0x5D;
  const bool load = size == 4 && data[0] == 0x5C && data[1] == 0x01 && data[2] == 0x5D && data[3] == 0x5D;
  const PistolButton expected = trigger ? PistolButton::Fire
                                : eject ? PistolButton::EjectMag
                                : load  ? PistolButton::LoadMag
                                        : PistolButton::None;
  if (button != expected) std::abort();

  std::string reference = "Received data: ";
  for (std::uint8_t byte : value) reference += std::to_string(byte) + " ";
  reference += "END";
  if (ReceivedDataLine(value) != reference) std::abort();
  return 0;
}
