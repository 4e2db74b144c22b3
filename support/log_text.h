#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/guid.h"

// Platform text (UTF-16, explicit length, NUL units included) as UTF-8. An
// unpaired surrogate becomes U+FFFD; nothing is trimmed or cut. A NUL unit
// stays in the result, so a log line built from it ends there.
std::string utf8_from_platform_text(const char16_t *text, std::size_t length);
inline std::string utf8_from_platform_text(std::u16string_view text) {
  return utf8_from_platform_text(text.data(), text.size());
}

// Registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case, 38 characters.
std::string uuid_text(const Guid &uuid);

// Base 10, no sign, no leading zeros, no separators.
std::string decimal_text(std::uint64_t value);
