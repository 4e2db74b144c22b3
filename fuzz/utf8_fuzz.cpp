// Arbitrary UTF-16 through utf8_from_platform_text, checked against a naive
// converter written from the Unicode tables, unit by unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/log_text.h"

namespace {

std::string Encode(std::uint32_t cp) {
  std::string out;
  if (cp <= 0x7F) {
    out += static_cast<char>(cp);
  } else if (cp <= 0x7FF) {
    out += static_cast<char>(0xC0 + cp / 64);
    out += static_cast<char>(0x80 + cp % 64);
  } else if (cp <= 0xFFFF) {
    out += static_cast<char>(0xE0 + cp / 4096);
    out += static_cast<char>(0x80 + cp / 64 % 64);
    out += static_cast<char>(0x80 + cp % 64);
  } else {
    out += static_cast<char>(0xF0 + cp / 262144);
    out += static_cast<char>(0x80 + cp / 4096 % 64);
    out += static_cast<char>(0x80 + cp / 64 % 64);
    out += static_cast<char>(0x80 + cp % 64);
  }
  return out;
}

std::string Reference(const std::vector<char16_t> &units) {
  std::string out;
  std::size_t i = 0;
  while (i < units.size()) {
    const std::uint32_t unit = units[i];
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const bool low = unit >= 0xDC00 && unit < 0xE000;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      out += Encode(0x10000 + (unit - 0xD800) * 1024 + (units[i + 1] - 0xDC00u));
      i += 2;
    } else {
      out += Encode(high || low ? 0xFFFD : unit);
      i += 1;
    }
  }
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<char16_t> units(size / 2);
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  if (utf8_from_platform_text(units.data(), units.size()) != Reference(units)) std::abort();
  return 0;
}
