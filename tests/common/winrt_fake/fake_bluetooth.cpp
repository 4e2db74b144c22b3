// A stand-in for the runtime's Bluetooth LE and DataReader class modules, for
// tests on a runtime that has neither (Wine). Found by the driver's fallback
// lookup under the names Windows.Devices.Bluetooth.dll (both Bluetooth
// classes) and Windows.Storage.Streams.dll (DataReader). Scripted through the
// exported FakeBle* functions; raises its events on a thread of its own.
// Test code: it locks freely.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tests/common/winrt_fake/fake_control.h"
#include "tests/common/winrt_fake/fake_device.h"
#include "tests/common/winrt_fake/fake_gatt.h"
#include "tests/common/winrt_fake/fake_script.h"
#include "tests/common/winrt_fake/fake_streams.h"
#include "tests/common/winrt_fake/fake_watcher.h"

using namespace fake;

namespace {

// A reference on each listed object that is not already on its way out.
template <class List, class T> void TakeLive(const List &list, std::vector<T *> &into) {
  for (T *object : list)
    if (object->TryAddRef()) into.push_back(object);
}

// Each device reports Disconnected, on the event thread, once the runtime
// would have noticed (its supervision timeout).
void DropLater(const std::vector<Device *> &devices) {
  const auto noticed = Pace(5000ms, 5000ms);
  for (Device *d : devices)
    Events().Post(
        [d] {
          d->Drop();
          d->Release();
        },
        noticed);
}

} // namespace

// ------------------------------------------------------------ exports

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory **factory) {
  if (!factory) return E_INVALIDARG;
  *factory = nullptr;
  UINT32 length = 0;
  const wchar_t *text = WindowsGetStringRawBuffer(classId, &length);
  const std::wstring name(text, length);
  if (HRESULT refused = Refusal("DllGetActivationFactory")) return refused;
  if (name == kBluetoothLEDeviceClass)
    *factory = new DeviceStatics;
  else if (name == kAdvertisementWatcherClass)
    *factory = new WatcherFactory;
  else if (name == kDataReaderClass)
    *factory = new DataReaderStatics;
  else
    return kClassNotAvailable;
  ++activations;
  return S_OK;
}

extern "C" __declspec(dllexport) void FakeBleReset() {
  {
    std::lock_guard lock(scriptMutex);
    refusals.clear();
    neverComplete.clear();
    held.clear();
  }
  keepLateDeliveries = false;
  radioOn = true;
  ResetBehaviour();
  // Outside the lock: finishing and dropping call into whoever registered.
  for (auto &finish : TakeAll(heldOperations)) finish(2);
  for (auto &late : TakeAll(lateDeliveries)) late(false);
  std::lock_guard lock(pistolsMutex);
  for (auto &[address, pistol] : pistols) {
    pistol.name.clear();
    pistol.LoseLink();
    pistol.heard = false;
  }
}

extern "C" __declspec(dllexport) bool FakeBleSet(const char *what, long value) {
  return SetBehaviour(what, value);
}

extern "C" __declspec(dllexport) void FakeBleAnswer(const char *operation, INT32 status, int count) {
  ScriptAnswers(operation, status, count);
}

extern "C" __declspec(dllexport) void FakeBleHold(const char *operation, bool hold) {
  Mark(held, operation, hold);
}

extern "C" __declspec(dllexport) int FakeBleFinishHeld(INT32 status) {
  auto operations = TakeAll(heldOperations);
  for (auto &finish : operations) finish(status);
  return static_cast<int>(operations.size());
}

extern "C" __declspec(dllexport) void FakeBleKeepLateDeliveries(bool keep) {
  keepLateDeliveries = keep;
}

extern "C" __declspec(dllexport) int FakeBleDeliverLate() {
  auto deliveries = TakeAll(lateDeliveries);
  for (auto &late : deliveries) late(true);
  return static_cast<int>(deliveries.size());
}

extern "C" __declspec(dllexport) void FakeBleRadio(bool on) {
  radioOn = on;
  if (on) return;
  std::vector<Watcher *> watchers;
  {
    std::lock_guard lock(watchersMutex);
    TakeLive(Watchers(), watchers);
  }
  const long style = Current().radioOffStyle;
  for (Watcher *w : watchers) {
    w->RadioLost(style);
    w->Release();
  }
  std::vector<Device *> devices;
  {
    std::lock_guard lock(pistolsMutex);
    for (auto &[address, pistol] : pistols) {
      pistol.LoseLink();
      TakeLive(pistol.devices, devices);
    }
  }
  DropLater(devices);
}

extern "C" __declspec(dllexport) void FakeBleAddPistol(std::uint64_t address, const wchar_t *name) {
  std::lock_guard lock(pistolsMutex);
  pistols[address].name = name;
}

extern "C" __declspec(dllexport) void FakeBleRefuse(const char *operation, HRESULT code) {
  std::lock_guard lock(scriptMutex);
  if (code == S_OK)
    refusals.erase(operation);
  else
    refusals[operation] = code;
}

extern "C" __declspec(dllexport) void FakeBleNeverComplete(const char *operation, bool never) {
  Mark(neverComplete, operation, never);
}

extern "C" __declspec(dllexport) int FakeBleNotify(std::uint64_t address, const std::uint8_t *bytes,
                                                   std::uint32_t count) {
  std::vector<Characteristic *> targets;
  {
    std::lock_guard lock(pistolsMutex);
    for (Characteristic *c : pistols[address].characteristics)
      if (c->Subscribed()) targets.push_back(AddRefed(c));
  }
  std::vector<BYTE> value(bytes, bytes + count);
  for (Characteristic *c : targets)
    Events().Post([c, value] {
      c->Notify(value);
      c->Release();
    });
  return static_cast<int>(targets.size());
}

extern "C" __declspec(dllexport) void FakeBleDrop(std::uint64_t address) {
  std::vector<Device *> devices;
  {
    std::lock_guard lock(pistolsMutex);
    pistols[address].LoseLink(); // it advertises again at once
    TakeLive(pistols[address].devices, devices);
  }
  DropLater(devices);
}

extern "C" __declspec(dllexport) long FakeBleCount(const char *what) {
  const std::string name(what);
  if (name == "objects") return liveObjects.load();
  if (name == "canceled") return canceledOperations.load();
  if (name == "activations") return activations.load();
  if (name == "uncached") return uncachedCalls.load();
  if (name == "late") return lateAdvertisements.load();
  long total = 0;
  if (name == "handlers") {
    std::lock_guard lock(watchersMutex);
    for (Watcher *w : Watchers()) total += w->Handlers();
  }
  std::lock_guard lock(pistolsMutex);
  for (auto &[address, pistol] : pistols) {
    for (Characteristic *c : pistol.characteristics) {
      if (name == "subscribed" && c->Subscribed()) ++total;
      if (name == "handlers") total += c->Handlers();
    }
    for (Device *d : pistol.devices)
      if (name == "handlers") total += d->Handlers();
  }
  return total;
}
