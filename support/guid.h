#pragma once

#include <cstdint>

// A UUID with the platform GUID's layout (Data4 bytes in stored order), so the
// Windows backend passes it to and from the system by a byte copy.
struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend bool operator==(const Guid &, const Guid &) = default;
};
static_assert(sizeof(Guid) == 16);

// A 16-bit assigned number on the Bluetooth base UUID (xxxx-0000-1000-8000-00805F9B34FB).
constexpr Guid BluetoothUuid(std::uint16_t shortUuid) {
  return Guid{shortUuid, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
}
