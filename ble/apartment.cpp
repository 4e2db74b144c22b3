#include "ble/apartment.h"

#include "support/platform_error.h"

#ifdef _WIN32
#include <objbase.h>

void JoinMultithreadedApartment() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (result < 0) raise_platform_error(result);
}
#else
void JoinMultithreadedApartment() {}
#endif
