#include <atomic>

#include "ble/adapter.h"
#include "ble/built_in_adapter.h"

namespace ble {
namespace {
std::atomic<Adapter *> injectedAdapter{nullptr};
} // namespace

Adapter &PlatformAdapter() {
  Adapter *adapter = injectedAdapter.load();
  return adapter ? *adapter : BuiltInAdapter();
}

void SetPlatformAdapter(Adapter *adapter) {
  injectedAdapter.store(adapter);
}

} // namespace ble
