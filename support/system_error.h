#pragma once

#include <cstdint>

#include "support/platform_error.h"

// The platform half of the error rules; support/posix and support/win32 each
// implement these.

// The calling thread's error information for a failed call (empty off Windows).
error_info ThreadErrorInfo(HRESULT code);
// Hands a failure that is no platform error back with its text, where the
// platform keeps one; answers the code.
HRESULT OriginateFailure(HRESULT code, const char *text) noexcept;
// Makes the error's information current on the calling thread again.
void RestoreThreadErrorInfo(const error_info &info);
// The calling thread's last system error number (errno off Windows).
std::uint32_t LastSystemError() noexcept;
