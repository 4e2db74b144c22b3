#pragma once

#include <cstring>

#include "support/guid.h"
#include "support/win32/system_headers.h"

// The portable UUID and the system's GUID share their layout; only the type of
// Data1 differs (unsigned long, 32 bits here).
static_assert(sizeof(Guid) == sizeof(GUID));

inline GUID ToSystemGuid(const Guid &uuid) noexcept {
  GUID out;
  std::memcpy(&out, &uuid, sizeof out);
  return out;
}

inline Guid FromSystemGuid(const GUID &uuid) noexcept {
  Guid out;
  std::memcpy(&out, &uuid, sizeof out);
  return out;
}
