#include "ble/built_in_adapter.h"

#include "ble/winrt/winrt_adapter.h"

namespace ble {

Adapter &BuiltInAdapter() {
  return winrt::WinrtAdapter();
}

} // namespace ble
