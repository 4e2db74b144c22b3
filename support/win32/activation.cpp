#include "support/win32/activation.h"

#include <string>

namespace winrt_abi {
namespace {

// Marks a combase lookup that found nothing, so it is not repeated.
void *const kMissing = reinterpret_cast<void *>(std::uintptr_t{1});

template <class Fn> Fn CombaseFunction(std::atomic<void *> &cache, const char *name) {
  void *found = cache.load(std::memory_order_acquire);
  if (!found) {
    // Loading again is harmless: the module stays loaded for the process.
    const HMODULE combase = LoadLibraryW(L"combase.dll");
    void *looked = combase ? reinterpret_cast<void *>(GetProcAddress(combase, name)) : nullptr;
    found = looked ? looked : kMissing;
    cache.store(found, std::memory_order_release);
  }
  return found == kMissing ? nullptr : reinterpret_cast<Fn>(found);
}

std::atomic<void *> getActivationFactoryCache{nullptr};
std::atomic<void *> incrementMtaUsageCache{nullptr};

GetActivationFactoryFn PlatformGetActivationFactory() {
  return CombaseFunction<GetActivationFactoryFn>(getActivationFactoryCache, "RoGetActivationFactory");
}

IncrementMtaUsageFn PlatformIncrementMtaUsage() {
  return CombaseFunction<IncrementMtaUsageFn>(incrementMtaUsageCache, "CoIncrementMTAUsage");
}

HMODULE PlatformLoadModule(const wchar_t *fileName) {
  // The application's folder, the system folder and folders added for the
  // process; never the current directory.
  return LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

FARPROC PlatformFindExport(HMODULE module, const char *name) {
  return GetProcAddress(module, name);
}

void PlatformUnloadModule(HMODULE module) {
  FreeLibrary(module);
}

constexpr ActivationFunctions kPlatformFunctions{&PlatformGetActivationFactory, &PlatformIncrementMtaUsage,
                                                 &PlatformLoadModule,           &PlatformFindExport,
                                                 &PlatformUnloadModule,         &PlatformErrorInfoFunctions};

HRESULT find_platform_factory(std::wstring_view className, const GUID &iid, void **factory) {
  return find_activation_factory(className, iid, factory);
}

// The factory a class module's DllGetActivationFactory gives, as interface
// `iid`; empty on any miss.
com_ptr<IUnknown> FactoryFromModule(const ActivationFunctions &functions, HMODULE module, HSTRING classId,
                                    const GUID &iid) {
  const auto entry = reinterpret_cast<DllGetActivationFactoryFn>(
      reinterpret_cast<void *>(functions.findExport(module, "DllGetActivationFactory")));
  if (!entry) return {};
  com_ptr<IActivationFactory> factory;
  if (entry(classId, factory.put()) < 0 || !factory) return {};
  if (SameGuid(iid, kIidIActivationFactory)) return com_ptr<IUnknown>::attach(factory.detach());
  return factory.try_as<IUnknown>(iid);
}

} // namespace

const ActivationFunctions &PlatformActivationFunctions() {
  return kPlatformFunctions;
}

HRESULT find_activation_factory(std::wstring_view className, const GUID &iid, void **factory,
                                const ActivationFunctions &functions) {
  *factory = nullptr;
  HSTRING classId = nullptr;
  if (const HRESULT made = WindowsCreateString(className.data(), static_cast<UINT32>(className.size()), &classId);
      made < 0)
    return made;
  struct Release {
    HSTRING s;
    ~Release() { WindowsDeleteString(s); }
  } releaseClassId{classId};

  HRESULT result = kClassENotAvailable;
  if (const GetActivationFactoryFn get = functions.getActivationFactory()) {
    result = get(classId, iid, factory);
    if (result == kCoENotInitialized) {
      // A thread in no apartment: join the process's multithreaded one for
      // good (the usage is never given back) and ask once more.
      const IncrementMtaUsageFn increment = functions.incrementMtaUsage();
      if (!increment) return result;
      CO_MTA_USAGE_COOKIE cookie{};
      increment(&cookie);
      result = get(classId, iid, factory);
    }
    if (result >= 0 && *factory) return kSOk;
    if (*factory) static_cast<IUnknown *>(*factory)->Release();
    *factory = nullptr;
    if (result >= 0) result = kENoInterface;
  }

  // Not registered (or no lookup at all): the module named after the class,
  // then after each enclosing namespace. The lookups must not leave their
  // own failures as the thread's error information.
  com_ptr<IRestrictedErrorInfo> saved = TakeRestrictedErrorInfo(functions.errorInfo());
  std::wstring prefix(className);
  for (auto dot = prefix.rfind(L'.'); dot != std::wstring::npos; dot = prefix.rfind(L'.')) {
    prefix.resize(dot);
    const HMODULE module = functions.loadModule((prefix + L".dll").c_str());
    if (!module) continue;
    if (com_ptr<IUnknown> found = FactoryFromModule(functions, module, classId, iid)) {
      // The module stays loaded: the factory and its objects run in it.
      *factory = found.detach();
      return kSOk;
    }
    functions.unloadModule(module);
  }
  if (saved && functions.errorInfo().setRestricted) functions.errorInfo().setRestricted(saved.get());
  return result;
}

com_ptr<IUnknown> FactorySlot::Find() {
  void *raw = nullptr;
  const HRESULT result = (find_ ? find_ : &find_platform_factory)(className_, iid_, &raw);
  if (result < 0) raise_platform_error(result);
  if (!raw) raise_platform_error(kENoInterface);
  return com_ptr<IUnknown>::attach(static_cast<IUnknown *>(raw));
}

bool FactorySlot::IsAgile(IUnknown *factory) noexcept {
  IUnknown *agile = nullptr;
  if (factory->QueryInterface(kIidIAgileObject, reinterpret_cast<void **>(&agile)) < 0 || !agile) return false;
  agile->Release();
  return true;
}

} // namespace winrt_abi
