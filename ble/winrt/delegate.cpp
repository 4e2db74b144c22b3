#include "ble/winrt/delegate.h"

#include <windows.h>

namespace winrt_abi {
std::atomic<long> &LiveHandlerObjects() noexcept {
  static constinit std::atomic<long> live{0};
  return live;
}

void PinModule() noexcept {
  static constinit std::atomic<bool> pinned{false};
  if (pinned.load(std::memory_order_acquire)) return;
  // Once is enough: a pinned module ignores every later unload. A failed pin
  // is tried again with the next handler object.
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&PinModule), &module))
    pinned.store(true, std::memory_order_release);
}
} // namespace winrt_abi
