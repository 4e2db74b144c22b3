#pragma once

// What every object of the fake class module shares: its reference count,
// one QueryInterface over the interfaces it implements, and the registered
// handlers of its events.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/common/winrt_fake/fake_script.h"

namespace fake {

// Reference counting, and the count of fake objects alive.
class Object {
public:
  Object() { ++liveObjects; }
  virtual ~Object() { --liveObjects; }
  ULONG AddRefImpl() { return ++refs_; }
  // A reference on an object found in a list, unless it is already on its way out.
  bool TryAddRef() {
    ULONG refs = refs_.load();
    while (refs != 0)
      if (refs_.compare_exchange_weak(refs, refs + 1)) return true;
    return false;
  }
  ULONG ReleaseImpl() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

private:
  std::atomic<ULONG> refs_{1};
};

// The identifier QueryInterface matches for interface I.
template <class I> constexpr const GUID &IidOf() {
  if constexpr (std::is_same_v<I, IActivationFactory>)
    return kIidIActivationFactory;
  else {
    static_assert(!SameGuid(iid_of<I>, GUID{}), "include the abi_*.h that declares the interface");
    return iid_of<I>;
  }
}

// A fake object implementing First and Rest: IUnknown, IInspectable and
// IAgileObject answered through First, then each interface in turn.
template <class First, class... Rest> class Implements : public Object, public First, public Rest... {
public:
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (SameGuid(iid, kIidIUnknown) || SameGuid(iid, kIidIInspectable) || SameGuid(iid, kIidIAgileObject)) {
      *out = static_cast<First *>(this);
    } else if (!Match<First>(iid, out) && !(Match<Rest>(iid, out) || ...)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRefImpl();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG *count, IID **iids) override {
    *count = 0;
    *iids = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING *name) override {
    *name = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel *level) override {
    *level = BaseTrust;
    return S_OK;
  }

private:
  template <class I> bool Match(REFIID iid, void **out) {
    if (!SameGuid(iid, IidOf<I>())) return false;
    *out = static_cast<I *>(this);
    return true;
  }
};

template <class T> T *AddRefed(T *p) {
  if (p) p->AddRef();
  return p;
}

inline HSTRING MakeString(const std::wstring &text) {
  HSTRING s = nullptr;
  WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), &s);
  return s;
}

// Registered handlers of one event, each held with a reference.
template <class Handler> class EventSource {
public:
  HRESULT Add(Handler *handler, EventRegistrationToken *token) {
    if (!handler || !token) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    handler->AddRef();
    token->value = ++next_;
    handlers_[token->value] = handler;
    return S_OK;
  }
  // While the script asks for them, the handler's reference becomes a late
  // delivery: deliver(handler) runs it, with a reference on owner meanwhile.
  template <class Deliver> HRESULT Remove(EventRegistrationToken token, Object *owner, Deliver deliver) {
    Handler *handler = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto found = handlers_.find(token.value);
      if (found == handlers_.end()) return S_OK;
      handler = found->second;
      handlers_.erase(found);
    }
    if (keepLateDeliveries) {
      owner->AddRefImpl();
      std::function<void(bool)> late = [owner, handler, deliver](bool run) {
        if (run) deliver(handler);
        handler->Release();
        owner->ReleaseImpl();
      };
      std::lock_guard lock(scriptMutex);
      lateDeliveries.push_back(std::move(late));
    } else {
      handler->Release();
    }
    return S_OK;
  }
  template <class Sender, class Args> void Raise(Sender *sender, Args *args) {
    std::vector<Handler *> current;
    {
      std::lock_guard lock(mutex_);
      for (auto &entry : handlers_) current.push_back(AddRefed(entry.second));
    }
    for (Handler *handler : current) {
      handler->Invoke(sender, args);
      handler->Release();
    }
  }
  bool Empty() {
    std::lock_guard lock(mutex_);
    return handlers_.empty();
  }
  long Size() {
    std::lock_guard lock(mutex_);
    return static_cast<long>(handlers_.size());
  }
  ~EventSource() {
    for (auto &entry : handlers_) entry.second->Release();
  }

private:
  std::mutex mutex_;
  std::map<INT64, Handler *> handlers_;
  INT64 next_ = 0;
};

} // namespace fake
