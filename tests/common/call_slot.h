#pragma once

// Calls vtable entry `slot` of `object` the way a program compiled elsewhere
// does: through the raw table, with `this` as the first argument. The ABI
// tests pin every interface's slot order with it.
template <typename R, typename... Args> R CallSlot(void *object, int slot, Args... args) {
  using Fn = R (*)(void *, Args...);
  void **vtable = *static_cast<void ***>(object);
  return reinterpret_cast<Fn>(vtable[slot])(object, args...);
}
