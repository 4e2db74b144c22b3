#pragma once

// Handler objects handed to the runtime: reference counted with an atomic,
// agile (IAgileObject, free-threaded marshaler), and each invocation runs
// behind the handler boundary so nothing unwinds into the platform.

#include <atomic>
#include <utility>

#include "ble/winrt/abi_generic.h"
#include "support/platform_error.h"

#include <objbase.h>

namespace winrt_abi {

// Handler objects alive in the process; tests watch it return to its start.
std::atomic<long> &LiveHandlerObjects() noexcept;

// Keeps the module that holds this code loaded until the process ends. The
// runtime may invoke or release a handler object long after the host has
// unloaded us (an abandoned wait completing, a delivery under way while its
// registration was revoked), and those calls run our code.
void PinModule() noexcept;

template <class Interface, class P1, class P2, class Fn> class Delegate final : public Interface {
public:
  explicit Delegate(Fn fn) : fn_(std::move(fn)) {
    LiveHandlerObjects().fetch_add(1);
    // Aggregated: the marshaler answers IMarshal for us and holds no reference.
    IUnknown *marshaler = nullptr;
    if (CoCreateFreeThreadedMarshaler(static_cast<IUnknown *>(this), &marshaler) >= 0) marshaler_ = marshaler;
  }
  Delegate(const Delegate &) = delete;
  Delegate &operator=(const Delegate &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
    if (!object) return E_POINTER;
    if (SameGuid(iid, kIidIUnknown) || SameGuid(iid, iid_of<Interface>) || SameGuid(iid, kIidIAgileObject)) {
      *object = static_cast<Interface *>(this);
      AddRef();
      return kSOk;
    }
    if (SameGuid(iid, kIidIMarshal) && marshaler_) return marshaler_->QueryInterface(iid, object);
    *object = nullptr;
    return kENoInterface;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Invoke(P1 first, P2 second) override {
    return handler_boundary([&] { fn_(first, second); });
  }

private:
  ~Delegate() {
    if (marshaler_) marshaler_->Release();
    LiveHandlerObjects().fetch_sub(1);
  }

  std::atomic<ULONG> refs_{1};
  IUnknown *marshaler_ = nullptr;
  Fn fn_;
};

// A new handler object of interface I (Invoke(P1, P2)) calling fn, with the
// caller holding its one reference.
template <class Interface, class P1, class P2, class Fn> com_ptr<Interface> MakeDelegate(Fn fn) {
  // A handler's identifier is declared with its area (abi_*.h); without it, it would be all zeros.
  static_assert(!SameGuid(iid_of<Interface>, GUID{}), "include the abi_*.h that declares the handler");
  PinModule();
  return com_ptr<Interface>::attach(new Delegate<Interface, P1, P2, Fn>(std::move(fn)));
}

} // namespace winrt_abi
