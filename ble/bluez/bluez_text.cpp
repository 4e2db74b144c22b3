#include "ble/bluez/bluez_text.h"

namespace ble::bluez {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly `digits` hex digits from text at pos.
std::optional<std::uint64_t> ReadHex(std::string_view text, std::size_t pos, std::size_t digits) {
  if (pos + digits > text.size()) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int d = HexDigit(text[pos + i]);
    if (d < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint64_t>(d);
  }
  return value;
}

std::string Pairs(std::uint64_t address, char separator) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 40; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned>(address >> shift) & 0xFFu;
    if (shift != 40) text += separator;
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}

} // namespace

std::optional<std::uint64_t> ParseAddress(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  std::uint64_t address = 0;
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0 && text[i * 3 - 1] != ':') return std::nullopt;
    const auto pair = ReadHex(text, i * 3, 2);
    if (!pair) return std::nullopt;
    address = address << 8 | *pair;
  }
  return address;
}

std::string FormatAddress(std::uint64_t address) {
  return Pairs(address, ':');
}

std::string DevicePath(std::string_view adapterPath, std::uint64_t address) {
  return std::string(adapterPath) + "/dev_" + Pairs(address, '_');
}

std::optional<Guid> ParseUuid(std::string_view text) {
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    return std::nullopt;
  }
  const auto d1 = ReadHex(text, 0, 8);
  const auto d2 = ReadHex(text, 9, 4);
  const auto d3 = ReadHex(text, 14, 4);
  if (!d1 || !d2 || !d3) return std::nullopt;
  Guid guid{static_cast<std::uint32_t>(*d1), static_cast<std::uint16_t>(*d2), static_cast<std::uint16_t>(*d3), {}};
  static constexpr std::size_t kByteAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (std::size_t i = 0; i < 8; ++i) {
    const auto byte = ReadHex(text, kByteAt[i], 2);
    if (!byte) return std::nullopt;
    guid.Data4[i] = static_cast<std::uint8_t>(*byte);
  }
  return guid;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0;
    std::size_t extra = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1Fu, extra = 1, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0Fu, extra = 2, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07u, extra = 3, minimum = 0x10000;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    std::size_t taken = 1;
    bool ok = true;
    for (; taken <= extra; ++taken) {
      if (i + taken >= text.size() || (static_cast<unsigned char>(text[i + taken]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = cp << 6 | (static_cast<unsigned char>(text[i + taken]) & 0x3Fu);
    }
    if (!ok || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\uFFFD';
      i += taken;
      continue;
    }
    i += taken;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

} // namespace ble::bluez
