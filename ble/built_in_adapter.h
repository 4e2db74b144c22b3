#pragma once

#include "ble/adapter.h"

namespace ble {

// The adapter of the backend this build chose (ble/bluez, ble/winrt or
// ble/none); each backend folder defines it.
Adapter &BuiltInAdapter();

} // namespace ble
