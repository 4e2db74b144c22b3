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
// The named asynchronous operation stays pending, and a Cancel is only noted
// (counted as canceled), until FakeBleFinishHeld ends it.
using FakeBleHoldFn = void (*)(const char *operation, bool hold);
// Ends every held operation: status 1 completes it, any other cancels it.
// Answers how many there were.
using FakeBleFinishHeldFn = int (*)(std::int32_t status);
// While on, a revoked registration is kept as a delivery already under way
// when it was revoked (a Received, Stopped, ValueChanged with a trigger
// packet, or ConnectionStatusChanged), with its handler's reference.
using FakeBleKeepLateDeliveriesFn = void (*)(bool keep);
// Runs every kept delivery once on the calling thread and releases it;
// answers how many ran.
using FakeBleDeliverLateFn = int (*)();
// The radio switched off: started watchers stop with RadioNotAvailable,
// devices report Disconnected, a Start aborts at once the same way and a
// lookup by address finds nothing. Switched on: all works again.
using FakeBleRadioFn = void (*)(bool on);
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
  FakeBleHoldFn Hold = nullptr;
  FakeBleFinishHeldFn FinishHeld = nullptr;
  FakeBleKeepLateDeliveriesFn KeepLateDeliveries = nullptr;
  FakeBleDeliverLateFn DeliverLate = nullptr;
  FakeBleRadioFn Radio = nullptr;

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
    find(fake.Hold, "FakeBleHold");
    find(fake.FinishHeld, "FakeBleFinishHeld");
    find(fake.KeepLateDeliveries, "FakeBleKeepLateDeliveries");
    find(fake.DeliverLate, "FakeBleDeliverLate");
    find(fake.Radio, "FakeBleRadio");
    return fake;
  }
  bool complete() const {
    return Reset && AddPistol && Refuse && NeverComplete && Notify && Drop && Count && Hold && FinishHeld &&
           KeepLateDeliveries && DeliverLate && Radio;
  }
};
