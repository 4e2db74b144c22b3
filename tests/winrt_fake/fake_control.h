#pragma once

// The control functions the fake runtime-class module exports, for tests that
// load it (by name, from the same folder the driver's lookup finds it in).

#include <cstdint>
#include <type_traits>

#include <windows.h>

extern "C" {
// Forgets every pistol and every scripted behaviour.
using FakeBleResetFn = void (*)();
// A pistol advertising `name` at `address` whenever it is not connected.
using FakeBleAddPistolFn = void (*)(std::uint64_t address, const wchar_t *name);
// The named call fails with `code` (0 clears it): "ActivateInstance", "Start",
// "FromBluetoothAddressAsync", "GetGattServicesAsync", ...
using FakeBleRefuseFn = void (*)(const char *operation, HRESULT code);
// The named asynchronous operation never completes unless canceled.
using FakeBleNeverCompleteFn = void (*)(const char *operation, bool never);
// Sends a notification from every subscribed characteristic of the pistol;
// answers how many were subscribed.
using FakeBleNotifyFn = int (*)(std::uint64_t address, const std::uint8_t *bytes, std::uint32_t count);
// The pistol's link drops: its devices report Disconnected and it advertises again.
using FakeBleDropFn = void (*)(std::uint64_t address);
// "objects" (fake objects alive), "handlers" (handler references the fake
// holds), "canceled" (operations canceled), "subscribed", "activations".
using FakeBleCountFn = long (*)(const char *what);
}

struct FakeBle {
  FakeBleResetFn Reset = nullptr;
  FakeBleAddPistolFn AddPistol = nullptr;
  FakeBleRefuseFn Refuse = nullptr;
  FakeBleNeverCompleteFn NeverComplete = nullptr;
  FakeBleNotifyFn Notify = nullptr;
  FakeBleDropFn Drop = nullptr;
  FakeBleCountFn Count = nullptr;

  // The instance loaded from the given module handle.
  static FakeBle From(HMODULE module) {
    FakeBle fake;
    auto find = [&](auto &slot, const char *name) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
          reinterpret_cast<void *>(GetProcAddress(module, name)));
    };
    find(fake.Reset, "FakeBleReset");
    find(fake.AddPistol, "FakeBleAddPistol");
    find(fake.Refuse, "FakeBleRefuse");
    find(fake.NeverComplete, "FakeBleNeverComplete");
    find(fake.Notify, "FakeBleNotify");
    find(fake.Drop, "FakeBleDrop");
    find(fake.Count, "FakeBleCount");
    return fake;
  }
  bool complete() const { return Reset && AddPistol && Refuse && NeverComplete && Notify && Drop && Count; }
};
