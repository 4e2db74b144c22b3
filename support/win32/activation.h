#pragma once

// How the runtime classes are reached: the factory lookup with its fallback to
// the class's own module, and the process-wide cache of factories.

#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>

#include "support/platform_error.h"
#include "support/win32/com_ptr.h"
#include "support/win32/error_info.h"

#include <activation.h>
#include <objbase.h>

namespace winrt_abi {

using GetActivationFactoryFn = HRESULT(WINAPI *)(HSTRING classId, REFIID iid, void **factory);
using IncrementMtaUsageFn = HRESULT(WINAPI *)(CO_MTA_USAGE_COOKIE *cookie);
using DllGetActivationFactoryFn = HRESULT(WINAPI *)(HSTRING classId, IActivationFactory **factory);

// The platform calls the lookup makes, replaceable so that every branch can be
// reached on any machine.
struct ActivationFunctions {
  // "RoGetActivationFactory" and "CoIncrementMTAUsage" of combase; null when missing.
  GetActivationFactoryFn (*getActivationFactory)();
  IncrementMtaUsageFn (*incrementMtaUsage)();
  HMODULE (*loadModule)(const wchar_t *fileName);
  FARPROC (*findExport)(HMODULE module, const char *name);
  void (*unloadModule)(HMODULE module);
  const ErrorInfoFunctions &(*errorInfo)();
};

const ActivationFunctions &PlatformActivationFunctions();

// The factory of a runtime class, asked for interface `iid`: S_OK with the
// factory in *factory, or the failure code with *factory null.
HRESULT find_activation_factory(std::wstring_view className, const GUID &iid, void **factory,
                                const ActivationFunctions &functions = PlatformActivationFunctions());

using FactoryFinder = HRESULT (*)(std::wstring_view className, const GUID &iid, void **factory);

// One runtime class reached through its factory. An agile factory is kept for
// the rest of the process (the slot is filled once, by compare-and-swap); one
// that is not agile serves a single call and is released.
class FactorySlot {
public:
  constexpr FactorySlot(const wchar_t *className, const GUID &iid, FactoryFinder find = nullptr) noexcept
      : className_(className), iid_(iid), find_(find) {}
  FactorySlot(const FactorySlot &) = delete;
  FactorySlot &operator=(const FactorySlot &) = delete;

  // Runs call(factory), factory being the interface the slot asks for (I*);
  // a failed lookup is raised.
  template <class I, class Call> decltype(auto) Use(Call &&call) {
    uses_.fetch_add(1, std::memory_order_relaxed);
    struct Done {
      std::atomic<std::uint64_t> &uses;
      ~Done() { uses.fetch_sub(1, std::memory_order_relaxed); }
    } done{uses_};
    if (IUnknown *cached = factory_.load(std::memory_order_acquire))
      return std::forward<Call>(call)(static_cast<I *>(cached));
    com_ptr<IUnknown> fresh = Find();
    if (IsAgile(fresh.get())) {
      IUnknown *expected = nullptr;
      if (factory_.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
        IUnknown *stored = fresh.detach();
        return std::forward<Call>(call)(static_cast<I *>(stored));
      }
      // Another thread filled the slot first; the new factory goes.
      return std::forward<Call>(call)(static_cast<I *>(expected));
    }
    return std::forward<Call>(call)(static_cast<I *>(fresh.get()));
  }

  std::uint64_t uses() const noexcept { return uses_.load(); }
  IUnknown *cached() const noexcept { return factory_.load(); }

private:
  com_ptr<IUnknown> Find();
  static bool IsAgile(IUnknown *factory) noexcept;

  const wchar_t *className_;
  const GUID &iid_;
  FactoryFinder find_;
  std::atomic<IUnknown *> factory_{nullptr};
  std::atomic<std::uint64_t> uses_{0};
};

} // namespace winrt_abi
