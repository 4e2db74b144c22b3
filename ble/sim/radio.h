#pragma once

// A scriptable radio in the process: pistols that advertise, connect, expose
// GATT services and notify, with faults injectable on every operation. For
// tests and tools only; it locks freely.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ble/adapter.h"

namespace ble::sim {

// Every operation of the adapter, as named for scripting and counting.
enum class Op {
  CreateWatcher,
  ScanningMode,
  AddReceived,
  AddStopped,
  Start,
  Stop,
  Advertisement,
  LocalName,
  BluetoothAddress,
  FromBluetoothAddressAsync,
  AddConnectionStatusChanged,
  ConnectionStatus,
  Name,
  GetGattServicesAsync,
  Close,
  ServicesStatus,
  Services,
  ServiceUuid,
  GetCharacteristicsAsync,
  CharacteristicsStatus,
  Characteristics,
  VectorSize,
  VectorGetAt,
  CharacteristicUuid,
  AddValueChanged,
  WriteClientCharacteristicConfigurationDescriptorAsync,
  CharacteristicValue,
  FromBuffer,
  UnconsumedBufferLength,
  ReadBytes,
  RemoveHandler,
  GetGattServicesWithCacheModeAsync,
  GetCharacteristicsWithCacheModeAsync,
  WatcherStatus,
  Count
};

// When an asynchronous operation ends.
enum class Completion {
  Now,                 // before the call returns
  Later,               // on an event thread, after delay
  Never,               // only when canceled
  NeverEvenIfCanceled, // not even then: a platform that ignores Cancel
};

// How one call of an operation behaves.
struct OpScript {
  HRESULT raise = kSOk; // a failure code: the call raises it
  Completion completion = Completion::Now;
  std::chrono::milliseconds delay{0};
  AsyncStatus endAs = AsyncStatus::Completed; // Completed, Canceled or Error
  HRESULT errorCode = kEFail;                 // the code of an Error ending
  bool emptyResult = false;                   // completes with no object (no device)
  // Runs on the caller's thread inside the call, after its effect and before
  // it returns or raises: the place to provoke a race.
  std::function<void()> inside;
};

// Ready-made scripts; combine by editing the fields of one.
inline OpScript Raises(HRESULT code) {
  OpScript script;
  script.raise = code;
  return script;
}
inline OpScript EndsLater(std::chrono::milliseconds delay = {}) {
  OpScript script;
  script.completion = Completion::Later;
  script.delay = delay;
  return script;
}
inline OpScript NeverEnds() {
  OpScript script;
  script.completion = Completion::Never;
  return script;
}
inline OpScript IgnoresCancel() {
  OpScript script;
  script.completion = Completion::NeverEvenIfCanceled;
  return script;
}
inline OpScript EndsInError(HRESULT code) {
  OpScript script;
  script.endAs = AsyncStatus::Error;
  script.errorCode = code;
  return script;
}
inline OpScript EndsCanceled() {
  OpScript script;
  script.endAs = AsyncStatus::Canceled;
  return script;
}
inline OpScript GivesNothing() {
  OpScript script;
  script.emptyResult = true;
  return script;
}
inline OpScript RunsInside(std::function<void()> hook) {
  OpScript script;
  script.inside = std::move(hook);
  return script;
}

struct SimCharacteristic {
  Guid uuid;
  GattCommunicationStatus subscribeStatus = GattCommunicationStatus::Success;
};

struct SimService {
  Guid uuid;
  GattCommunicationStatus characteristicsStatus = GattCommunicationStatus::Success;
  std::vector<SimCharacteristic> characteristics;
};

struct Pistol {
  std::uint64_t address = 0;
  std::u16string name; // the device's Name
  bool acceptsConnections = true;
  GattCommunicationStatus servicesStatus = GattCommunicationStatus::Success;
  std::vector<SimService> services;
};

// A pistol with the one service 0xFFF0 holding the notifying characteristic 0xFFF1.
Pistol StandardPistol(std::uint64_t address, std::u16string name = u"Pistol");

class Radio final : public Adapter {
public:
  // Events and later completions run on this many threads of the radio's own;
  // with more than one they may overlap. A handler that waits for a later
  // completion needs a second thread to deliver it.
  explicit Radio(unsigned eventThreads = 1);
  ~Radio() override;
  Radio(const Radio &) = delete;
  Radio &operator=(const Radio &) = delete;

  std::shared_ptr<BluetoothLEAdvertisementWatcher> CreateWatcher() override;
  AsyncOperationPtr<std::shared_ptr<BluetoothLEDevice>> FromBluetoothAddressAsync(std::uint64_t address) override;

  // The peripheral side. Events are queued to the event threads.
  void AddPistol(Pistol pistol); // replaces one at the same address
  void RemovePistol(std::uint64_t address);
  // Whom an advertisement reaches: started watchers, or stopped ones too (one
  // the platform had already queued when Stop was called).
  enum class Heard { WhileStarted, EvenAfterStop };
  void Advertise(std::uint64_t address, std::u16string localName, Heard heard = Heard::WhileStarted);
  void Notify(std::uint64_t address, const Guid &characteristic, std::vector<std::uint8_t> value);
  void Disconnect(std::uint64_t address); // the link drops: ConnectionStatusChanged, subscriptions end
  void StopScanning();                    // started watchers stop on the radio's own account
  void AbortScanning();                   // started watchers go Aborted, without a Stopped event
  // The pistol's next `times` answers to op (GetGattServicesAsync,
  // GetCharacteristicsAsync or the descriptor write, whatever the cache mode)
  // are Unreachable, though it is there.
  void AnswerUnreachable(std::uint64_t address, Op op, int times);
  void Post(std::function<void()> work, std::chrono::milliseconds delay = {});

  // Scripts: Script applies to the next call of the operation (queued one per
  // call), ScriptAlways to every call after the queued ones are used up.
  void Script(Op op, OpScript script);
  void ScriptAlways(Op op, OpScript script);
  void ClearScripts();

  // Until every queued event and later completion has been delivered.
  void WaitIdle();

  int Calls(Op op) const;
  int LiveObjects() const;
  int RegisteredHandlers() const;
  int CancelRequests() const;
  int Subscriptions(std::uint64_t address) const; // subscribed characteristic objects
  bool Connected(std::uint64_t address) const;
  // What each handler invocation returned through the handler boundary, in order.
  std::vector<HRESULT> HandlerResults() const;

  struct Core;

private:
  std::shared_ptr<Core> core_;
};

} // namespace ble::sim
