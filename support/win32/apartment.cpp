#include "support/apartment.h"

#include "support/platform_error.h"
#include "support/win32/system_headers.h"

#include <objbase.h>

void JoinMultithreadedApartment() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (result < 0) raise_platform_error(result);
}
