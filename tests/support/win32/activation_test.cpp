// Reaching runtime classes: the factory lookup with its module fallback and
// apartment retry (through recorded platform calls, and for real against the
// fake class module), and the process-wide factory cache.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ble/winrt/abi.h"
#include "support/win32/activation.h"
#include "tests/common/winrt_fake/fake_module.h"
#include "tests/support/win32/test_error_info.h"

namespace {

using namespace winrt_abi;

// ------------------------------------------------------------ a test factory

// A factory object whose agility and interfaces a test chooses.
class TestFactory final : public IActivationFactory {
public:
  static inline std::atomic<int> alive{0};

  explicit TestFactory(bool agile, GUID extra = kIidIActivationFactory) : agile_(agile), extra_(extra) { ++alive; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (SameGuid(iid, kIidIUnknown) || SameGuid(iid, kIidIInspectable) || SameGuid(iid, kIidIActivationFactory) ||
        SameGuid(iid, extra_) || (agile_ && SameGuid(iid, kIidIAgileObject))) {
      *out = static_cast<IActivationFactory *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      --alive;
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG *, IID **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }
  ULONG refs() const { return refs_; }

private:
  std::atomic<ULONG> refs_{1};
  bool agile_;
  GUID extra_;
};

// ------------------------------------------------------------ recorded platform calls

constexpr GUID kAskedIid{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

struct Recording {
  HRESULT roResults[2] = {kRegdbEClassNotReg, kRegdbEClassNotReg};
  int roCalls = 0;
  bool roMissing = false;
  bool incrementMissing = false;
  int incrementCalls = 0;
  std::vector<std::wstring> loaded;
  std::vector<std::wstring> unloaded;
  // Module file name → factory its DllGetActivationFactory gives (none if absent).
  std::wstring servingModule;
  bool servedFactoryHasAskedIid = true;
  std::wstring classAskedOfModule;
  IRestrictedErrorInfo *threadErrorInfo = nullptr;
  std::vector<IRestrictedErrorInfo *> restored;
};
Recording rec;

HRESULT WINAPI RecordedRo(HSTRING classId, REFIID, void **factory) {
  (void)classId;
  const HRESULT result = rec.roResults[rec.roCalls < 2 ? rec.roCalls : 1];
  ++rec.roCalls;
  if (result >= 0) *factory = static_cast<IActivationFactory *>(new TestFactory(true, kAskedIid));
  return result;
}
HRESULT WINAPI RecordedIncrement(CO_MTA_USAGE_COOKIE *) {
  ++rec.incrementCalls;
  return S_OK;
}
HRESULT WINAPI RecordedDllGetActivationFactory(HSTRING classId, IActivationFactory **factory) {
  UINT32 length = 0;
  const wchar_t *text = WindowsGetStringRawBuffer(classId, &length);
  rec.classAskedOfModule.assign(text, length);
  *factory = new TestFactory(true, rec.servedFactoryHasAskedIid ? kAskedIid : kIidIActivationFactory);
  return S_OK;
}
// Module handles are indices into `loaded`, plus one.
HMODULE RecordedLoad(const wchar_t *name) {
  rec.loaded.emplace_back(name);
  return rec.loaded.back() == rec.servingModule ? reinterpret_cast<HMODULE>(rec.loaded.size()) : nullptr;
}
FARPROC RecordedFind(HMODULE, const char *name) {
  return std::string(name) == "DllGetActivationFactory"
             ? reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&RecordedDllGetActivationFactory))
             : nullptr;
}
void RecordedUnload(HMODULE module) {
  rec.unloaded.push_back(rec.loaded[reinterpret_cast<std::size_t>(module) - 1]);
}
HRESULT WINAPI RecordedGetRestricted(IRestrictedErrorInfo **info) {
  *info = std::exchange(rec.threadErrorInfo, nullptr);
  return *info ? S_OK : S_FALSE;
}
HRESULT WINAPI RecordedSetRestricted(IRestrictedErrorInfo *info) {
  // The thread holds a reference of its own, as the platform's does.
  info->AddRef();
  rec.restored.push_back(info);
  return S_OK;
}
const ErrorInfoFunctions &RecordedErrorInfo() {
  static const ErrorInfoFunctions functions{&RecordedGetRestricted, &RecordedSetRestricted, nullptr, nullptr};
  return functions;
}
const ActivationFunctions kRecorded{[] { return rec.roMissing ? GetActivationFactoryFn{} : &RecordedRo; },
                                    [] { return rec.incrementMissing ? IncrementMtaUsageFn{} : &RecordedIncrement; },
                                    &RecordedLoad,
                                    &RecordedFind,
                                    &RecordedUnload,
                                    &RecordedErrorInfo};

class FindActivationFactory : public ::testing::Test {
protected:
  void SetUp() override { rec = Recording{}; }
  HRESULT Find(std::wstring_view className) {
    factory_.reset();
    return find_activation_factory(className, kAskedIid, factory_.put_void(), kRecorded);
  }
  com_ptr<IUnknown> factory_;
};

TEST_F(FindActivationFactory, ModulesTriedAreTheClassNameCutAtEachDot) {
  EXPECT_EQ(Find(L"Windows.Storage.Streams.DataReader"), kRegdbEClassNotReg);
  EXPECT_EQ(rec.loaded,
            (std::vector<std::wstring>{L"Windows.Storage.Streams.dll", L"Windows.Storage.dll", L"Windows.dll"}));
  EXPECT_FALSE(factory_);
}

TEST_F(FindActivationFactory, AClassNameWithoutADotTriesNoModule) {
  EXPECT_EQ(Find(L"DataReader"), kRegdbEClassNotReg);
  EXPECT_TRUE(rec.loaded.empty());
}

TEST_F(FindActivationFactory, ARegisteredClassNeedsNoModule) {
  rec.roResults[0] = S_OK;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), S_OK);
  EXPECT_TRUE(factory_);
  EXPECT_TRUE(rec.loaded.empty());
  EXPECT_EQ(rec.roCalls, 1);
}

TEST_F(FindActivationFactory, WithoutTheLookupFunctionModulesAreStillTriedAndClassNotAvailableIsTheAnswer) {
  rec.roMissing = true;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), kClassENotAvailable);
  EXPECT_EQ(rec.loaded.size(), 3u);
}

TEST_F(FindActivationFactory, AThreadInNoApartmentJoinsTheMultithreadedOneAndAsksOnceMore) {
  rec.roResults[0] = kCoENotInitialized;
  rec.roResults[1] = S_OK;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), S_OK);
  EXPECT_EQ(rec.incrementCalls, 1);
  EXPECT_EQ(rec.roCalls, 2);
}

TEST_F(FindActivationFactory, TheApartmentRetryHappensOnlyOnce) {
  rec.roResults[0] = rec.roResults[1] = kCoENotInitialized;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), kCoENotInitialized);
  EXPECT_EQ(rec.incrementCalls, 1);
  EXPECT_EQ(rec.roCalls, 2);
  // The fallback runs with the code of the retry.
  EXPECT_EQ(rec.loaded.size(), 3u);
}

TEST_F(FindActivationFactory, WithoutTheApartmentUsageFunctionTheNoApartmentCodeIsReturnedAtOnce) {
  rec.roResults[0] = kCoENotInitialized;
  rec.incrementMissing = true;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), kCoENotInitialized);
  EXPECT_EQ(rec.roCalls, 1);
  EXPECT_TRUE(rec.loaded.empty());
}

TEST_F(FindActivationFactory, AModuleServingTheClassStaysLoadedAndTheOthersAreUnloaded) {
  rec.servingModule = L"Windows.Devices.Bluetooth.dll";
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher"), S_OK);
  EXPECT_EQ(rec.loaded, (std::vector<std::wstring>{L"Windows.Devices.Bluetooth.Advertisement.dll",
                                                   L"Windows.Devices.Bluetooth.dll"}));
  EXPECT_TRUE(rec.unloaded.empty());
  // The module is asked for the full class name.
  EXPECT_EQ(rec.classAskedOfModule, L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher");
  ASSERT_TRUE(factory_);
}

TEST_F(FindActivationFactory, AFactoryWithoutTheAskedInterfaceIsAMissAndItsModuleIsUnloaded) {
  rec.servingModule = L"Windows.Devices.dll";
  rec.servedFactoryHasAskedIid = false;
  const int before = TestFactory::alive;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), kRegdbEClassNotReg);
  EXPECT_EQ(rec.unloaded, std::vector<std::wstring>{L"Windows.Devices.dll"});
  EXPECT_EQ(TestFactory::alive, before);
}

TEST_F(FindActivationFactory, TheThreadsErrorInformationIsPutBackWhenNothingIsFound) {
  TestErrorInfo info;
  rec.threadErrorInfo = &info;
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), kRegdbEClassNotReg);
  EXPECT_EQ(rec.restored, std::vector<IRestrictedErrorInfo *>{&info});
  EXPECT_EQ(info.refs, 1u);
}

TEST_F(FindActivationFactory, NothingIsPutBackWhenTheThreadHadNoErrorInformation) {
  EXPECT_EQ(Find(L"Windows.Devices.Bluetooth.BluetoothLEDevice"), kRegdbEClassNotReg);
  EXPECT_TRUE(rec.restored.empty());
}

// ------------------------------------------------------------ the real platform, with the fake module

TEST(FindActivationFactoryOnThisRuntime, TheFakeModuleServesAllThreeClasses) {
  if (!RunningUnderWine()) GTEST_SKIP() << "the runtime has its own Bluetooth classes";
  Fake();
  com_ptr<IUnknown> statics, watcherFactory, readerStatics;
  EXPECT_EQ(find_activation_factory(kBluetoothLEDeviceClass, iid_of<IBluetoothLEDeviceStatics>, statics.put_void()),
            S_OK);
  EXPECT_EQ(find_activation_factory(kAdvertisementWatcherClass, kIidIActivationFactory, watcherFactory.put_void()),
            S_OK);
  EXPECT_EQ(find_activation_factory(kDataReaderClass, iid_of<IDataReaderStatics>, readerStatics.put_void()), S_OK);
  EXPECT_TRUE(statics && watcherFactory && readerStatics);
}

TEST(FindActivationFactoryOnThisRuntime, AClassNoModuleServesKeepsTheRegistrationCode) {
  if (!RunningUnderWine()) GTEST_SKIP() << "the runtime's own answer may differ";
  Fake();
  com_ptr<IUnknown> factory;
  EXPECT_EQ(
      find_activation_factory(L"Windows.Devices.Bluetooth.NoSuchClass", kIidIActivationFactory, factory.put_void()),
      kRegdbEClassNotReg);
  EXPECT_FALSE(factory);
}

TEST(FindActivationFactoryOnThisRuntime, AThreadThatNeverJoinedAnApartmentFindsTheFactory) {
  if (!RunningUnderWine()) GTEST_SKIP();
  Fake();
  HRESULT result = E_FAIL;
  std::thread([&] {
    com_ptr<IUnknown> factory;
    result = find_activation_factory(kBluetoothLEDeviceClass, iid_of<IBluetoothLEDeviceStatics>, factory.put_void());
  }).join();
  EXPECT_EQ(result, S_OK);
}

// ------------------------------------------------------------ factory cache

std::atomic<int> finds{0};
std::atomic<bool> nextAgile{true};
std::atomic<HRESULT> nextFailure{S_OK};

HRESULT CountingFinder(std::wstring_view, const GUID &, void **factory) {
  ++finds;
  if (nextFailure.load() < 0) return nextFailure.load();
  *factory = static_cast<IActivationFactory *>(new TestFactory(nextAgile));
  return S_OK;
}

class FactoryCache : public ::testing::Test {
protected:
  void SetUp() override {
    finds = 0;
    nextAgile = true;
    nextFailure = S_OK;
  }
};

TEST_F(FactoryCache, AnAgileFactoryIsFoundOnceAndKept) {
  FactorySlot slot(L"Test.Class", kIidIActivationFactory, &CountingFinder);
  IActivationFactory *first = nullptr, *second = nullptr;
  slot.Use<IActivationFactory>([&](IActivationFactory *f) { first = f; });
  slot.Use<IActivationFactory>([&](IActivationFactory *f) { second = f; });
  EXPECT_EQ(finds, 1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(slot.cached(), first);
  // The slot's own reference, for the rest of the process.
  EXPECT_EQ(static_cast<TestFactory *>(first)->refs(), 1u);
}

TEST_F(FactoryCache, AFactoryThatIsNotAgileServesOneCallAndIsReleased) {
  FactorySlot slot(L"Test.Class", kIidIActivationFactory, &CountingFinder);
  nextAgile = false;
  const int before = TestFactory::alive;
  int calls = 0;
  slot.Use<IActivationFactory>([&](IActivationFactory *) {
    ++calls;
    EXPECT_EQ(TestFactory::alive, before + 1);
  });
  slot.Use<IActivationFactory>([&](IActivationFactory *) { ++calls; });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(finds, 2);
  EXPECT_EQ(slot.cached(), nullptr);
  EXPECT_EQ(TestFactory::alive, before);
}

TEST_F(FactoryCache, UsesAreCountedWhileTheyRunEvenWhenTheyRaise) {
  FactorySlot slot(L"Test.Class", kIidIActivationFactory, &CountingFinder);
  slot.Use<IActivationFactory>([&](IActivationFactory *) { EXPECT_EQ(slot.uses(), 1u); });
  EXPECT_EQ(slot.uses(), 0u);
  EXPECT_THROW(slot.Use<IActivationFactory>([](IActivationFactory *) { throw hresult_access_denied(); }),
               hresult_access_denied);
  EXPECT_EQ(slot.uses(), 0u);
}

TEST_F(FactoryCache, AFailedLookupRaisesItsClassAndLeavesTheSlotEmpty) {
  FactorySlot slot(L"Test.Class", kIidIActivationFactory, &CountingFinder);
  nextFailure = kRegdbEClassNotReg;
  bool called = false;
  EXPECT_THROW(slot.Use<IActivationFactory>([&](IActivationFactory *) { called = true; }),
               hresult_class_not_registered);
  EXPECT_FALSE(called);
  EXPECT_EQ(slot.uses(), 0u);
  nextFailure = S_OK;
  slot.Use<IActivationFactory>([&](IActivationFactory *) { called = true; });
  EXPECT_TRUE(called);
}

TEST_F(FactoryCache, ThreadsRacingToFillTheSlotKeepOneFactoryAndReleaseTheRest) {
  FactorySlot slot(L"Test.Class", kIidIActivationFactory, &CountingFinder);
  const int before = TestFactory::alive;
  std::atomic<int> go{0};
  std::vector<std::thread> threads;
  std::atomic<int> calls{0};
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] {
      ++go;
      while (go < 8) std::this_thread::yield();
      slot.Use<IActivationFactory>([&](IActivationFactory *f) {
        EXPECT_NE(f, nullptr);
        ++calls;
      });
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(calls, 8);
  EXPECT_NE(slot.cached(), nullptr);
  EXPECT_EQ(TestFactory::alive, before + 1);
  EXPECT_EQ(slot.uses(), 0u);
}

} // namespace
