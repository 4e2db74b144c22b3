#pragma once

#include <cstdint>

#ifdef _WIN32
#include <guiddef.h>
// The platform's own GUID, so values pass to and from its calls unchanged.
using Guid = ::GUID;
#else
// Same layout as the platform GUID: Data4 bytes in stored order.
struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend bool operator==(const Guid &, const Guid &) = default;
};
#endif

// A 16-bit assigned number on the Bluetooth base UUID (xxxx-0000-1000-8000-00805F9B34FB).
constexpr Guid BluetoothUuid(std::uint16_t shortUuid) {
  return Guid{shortUuid, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
}
