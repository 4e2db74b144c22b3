#pragma once

// The text forms BlueZ uses for addresses, object paths, UUIDs and names,
// converted to and from the values the adapter interface carries.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/guid.h"

namespace ble::bluez {

// "AA:BB:CC:DD:EE:FF" (any case) to 0xAABBCCDDEEFF; nothing for any other shape.
std::optional<std::uint64_t> ParseAddress(std::string_view text);

// The low 48 bits as upper-case pairs joined with ':'.
std::string FormatAddress(std::uint64_t address);

// BlueZ's object path of the device with this address under the adapter.
std::string DevicePath(std::string_view adapterPath, std::uint64_t address);

// "0000fff0-0000-1000-8000-00805f9b34fb" (any case) to a Guid; nothing when malformed.
std::optional<Guid> ParseUuid(std::string_view text);

// Names arrive as UTF-8 from the peer and may be malformed: each bad sequence
// becomes U+FFFD rather than failing the event that carries it.
std::u16string Utf8ToUtf16(std::string_view text);

} // namespace ble::bluez
