#pragma once

// The system headers, included the same way everywhere: without the rarely
// used parts, and without the min/max macros that break std::min.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
