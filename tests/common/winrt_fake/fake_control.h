#pragma once

// The control functions the fake runtime-class module exports, for tests that
// load it (by name, from the same folder the driver's lookup finds it in).

#include <cstdint>
#include <type_traits>

#include <windows.h>

extern "C" {
// Forgets every pistol and every scripted behaviour; the behaviours go back to their defaults (FakeBleSet).
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
// holds), "canceled" (operations canceled, or asked to while Cancel is
// ignored), "subscribed", "activations", "uncached" (discoveries asked of
// the device rather than the cache), "late" (advertisements after a Stop).
using FakeBleCountFn = long (*)(const char *what);
// Sets one behaviour (a reset brings back the defaults, marked *); false for
// a name it does not know:
//   "windows"            1*: the defaults below; 0: every call answered at once
//                        with success, links made and ended on the spot
//   "timing_percent"     Windows' pace scaled: 10*; 100 is Windows' own
//                        (discovery 0.5-3 s, Unreachable from a pistol that is
//                        gone after 7 s, a drop reported after 5 s); 0: 10 ms
//   "first_discoveries_unreachable"  1*: a device object that has to connect
//                        answers its first N service discoveries Unreachable
//   "lazy_connection"    1*: a looked-up device starts Disconnected; its first
//                        GATT call connects, raising Connected before it completes
//   "blip"               0*: 1 drops the new link for a moment (Disconnected,
//                        Connected) before the services are listed
//   "close_disconnect_ms"  3000*: after the last Close the pistol stays linked
//                        (and silent) this long; -1: until it is dropped
//   "close_block_ms"     0*: Close blocks this long; -1: until the next reset
//   "paired"             0*: 1 has the system link the pistol on its first
//                        advertisement, which no watcher hears
//   "radio_off_style"    0*: with the radio off, started watchers stop with
//                        RadioNotAvailable; 1: Start also raises 0x800710DF;
//                        2: watchers go Aborted without a Stopped event
//   "late_advertisement" 0*: 1 delivers the last round once more after Stop
//   "scan_response"      0*: 1 raises each advertisement without its name,
//                        then the scan response with it
//   "lookup_needs_advertisement"  0*: 1 finds no device for an address no
//                        watcher has heard
//   "cancel_ignored"     0*: 1 counts a Cancel and lets the operation run on
using FakeBleSetFn = bool (*)(const char *what, long value);
// The next `count` answers of "GetGattServicesAsync" (either cache mode),
// "GetCharacteristicsAsync" or
// "WriteClientCharacteristicConfigurationDescriptorAsync" carry `status`
// (1 Unreachable, 2 ProtocolError, 3 AccessDenied).
using FakeBleAnswerFn = void (*)(const char *operation, std::int32_t status, int count);
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
  FakeBleSetFn Set = nullptr;
  FakeBleAnswerFn Answer = nullptr;

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
    find(fake.Set, "FakeBleSet");
    find(fake.Answer, "FakeBleAnswer");
    return fake;
  }
  bool complete() const {
    return Reset && AddPistol && Refuse && NeverComplete && Notify && Drop && Count && Hold && FinishHeld &&
           KeepLateDeliveries && DeliverLate && Radio && Set && Answer;
  }
};
