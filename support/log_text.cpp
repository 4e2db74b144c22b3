#include "support/log_text.h"

#include <charconv>

namespace {

constexpr bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Calls visit(code point) for each character; an unpaired surrogate is U+FFFD.
template <class Visit> void ForEachCodePoint(const char16_t *text, std::size_t length, Visit &&visit) {
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      visit(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      visit(char32_t{0xFFFD});
    } else {
      visit(static_cast<char32_t>(unit));
    }
  }
}

constexpr std::size_t Utf8Length(char32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// The same bytes the platform's own converter gives, on every platform and
// for texts of any length (the converter's lengths are ints).
std::string Utf8(const char16_t *text, std::size_t length) {
  std::size_t size = 0;
  ForEachCodePoint(text, length, [&](char32_t cp) { size += Utf8Length(cp); });
  std::string out(size, '\0');
  std::size_t at = 0;
  auto put = [&](char32_t bits) { out[at++] = static_cast<char>(bits); };
  ForEachCodePoint(text, length, [&](char32_t cp) {
    switch (Utf8Length(cp)) {
    case 1:
      put(cp);
      break;
    case 2:
      put(0xC0 | (cp >> 6));
      put(0x80 | (cp & 0x3F));
      break;
    case 3:
      put(0xE0 | (cp >> 12));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
      break;
    default:
      put(0xF0 | (cp >> 18));
      put(0x80 | ((cp >> 12) & 0x3F));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
      break;
    }
  });
  return out;
}

} // namespace

std::string utf8_from_platform_text(const char16_t *text, std::size_t length) {
  if (!text || length == 0) return {};
  return Utf8(text, length);
}

std::string uuid_text(const Guid &uuid) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(38);
  auto hex = [&](std::uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
  };
  out += '{';
  hex(uuid.Data1, 8);
  out += '-';
  hex(uuid.Data2, 4);
  out += '-';
  hex(uuid.Data3, 4);
  out += '-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) out += '-';
    hex(uuid.Data4[i], 2);
  }
  out += '}';
  return out;
}

std::string decimal_text(std::uint64_t value) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}
