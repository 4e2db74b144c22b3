// A stand-in for the runtime's Bluetooth LE and DataReader class modules, for
// tests on a runtime that has neither (Wine). Found by the driver's fallback
// lookup under the names Windows.Devices.Bluetooth.dll (both Bluetooth
// classes) and Windows.Storage.Streams.dll (DataReader). Scripted through the
// exported FakeBle* functions; raises its events on a thread of its own.
// Test code: it locks freely.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ble/winrt/abi.h"
#include "tests/common/winrt_fake/fake_control.h"

using namespace winrt_abi;
using namespace std::chrono_literals;

namespace {

constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);
constexpr HRESULT kIllegalDelegateAssignment = static_cast<HRESULT>(0x80000018);
constexpr HRESULT kBounds = static_cast<HRESULT>(0x8000000B);
constexpr HRESULT kClosed = static_cast<HRESULT>(0x80000013);
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);
constexpr HRESULT kCanceled = static_cast<HRESULT>(0x800704C7);
constexpr INT32 kRadioNotAvailable = 1;
constexpr GUID kService{0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kCharacteristic{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

std::atomic<long> liveObjects{0};
std::atomic<long> canceledOperations{0};
std::atomic<long> activations{0};

// ------------------------------------------------------------ event thread

class EventThread {
public:
  void Post(std::function<void()> task, std::chrono::milliseconds delay = 0ms) {
    std::lock_guard lock(mutex_);
    if (!started_) {
      started_ = true;
      std::thread([this] { Run(); }).detach();
    }
    tasks_.emplace(std::chrono::steady_clock::now() + delay, std::move(task));
    changed_.notify_all();
  }

private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (tasks_.empty()) {
        changed_.wait(lock);
        continue;
      }
      auto first = tasks_.begin();
      if (first->first > std::chrono::steady_clock::now()) {
        changed_.wait_until(lock, first->first);
        continue;
      }
      std::function<void()> task = std::move(first->second);
      tasks_.erase(first);
      lock.unlock();
      task();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> tasks_;
  bool started_ = false;
};

EventThread &Events() {
  static auto *events = new EventThread; // lives as long as the process: its thread never ends
  return *events;
}

// ------------------------------------------------------------ script

std::mutex scriptMutex;
std::map<std::string, HRESULT> refusals;
std::set<std::string> neverComplete;
std::set<std::string> held;
// Operations held pending, each finished once by FakeBleFinishHeld (status 1
// completes, anything else cancels) or dropped unfinished by a reset.
std::vector<std::function<void(INT32 status)>> heldOperations;
// Registrations revoked while a delivery was already under way: each runs
// once with deliver true, or is dropped (deliver false) by a reset.
std::atomic<bool> keepLateDeliveries{false};
std::vector<std::function<void(bool deliver)>> lateDeliveries;
std::atomic<bool> radioOn{true};

HRESULT Refusal(const char *operation) {
  std::lock_guard lock(scriptMutex);
  auto found = refusals.find(operation);
  return found == refusals.end() ? S_OK : found->second;
}
bool NeverCompletes(const char *operation) {
  std::lock_guard lock(scriptMutex);
  return neverComplete.count(operation) != 0;
}
bool Holds(const char *operation) {
  std::lock_guard lock(scriptMutex);
  return held.count(operation) != 0;
}

template <class Entry> std::vector<Entry> TakeAll(std::vector<Entry> &list) {
  std::lock_guard lock(scriptMutex);
  return std::exchange(list, {});
}

// ------------------------------------------------------------ object base

// Reference counting and the interfaces every fake object answers.
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

#define FAKE_IUNKNOWN                                                                                                  \
  ULONG STDMETHODCALLTYPE AddRef() override {                                                                          \
    return AddRefImpl();                                                                                               \
  }                                                                                                                    \
  ULONG STDMETHODCALLTYPE Release() override {                                                                         \
    return ReleaseImpl();                                                                                              \
  }                                                                                                                    \
  HRESULT STDMETHODCALLTYPE GetIids(ULONG *count, IID **iids) override {                                               \
    *count = 0;                                                                                                        \
    *iids = nullptr;                                                                                                   \
    return S_OK;                                                                                                       \
  }                                                                                                                    \
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING *name) override {                                              \
    *name = nullptr;                                                                                                   \
    return E_NOTIMPL;                                                                                                  \
  }                                                                                                                    \
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel *level) override {                                                \
    *level = BaseTrust;                                                                                                \
    return S_OK;                                                                                                       \
  }

template <class I, class Self> bool Answer(Self *self, REFIID iid, void **out) {
  if (!SameGuid(iid, iid_of<I>)) return false;
  *out = static_cast<I *>(self);
  self->AddRefImpl();
  return true;
}

// Answers IUnknown, IInspectable and IAgileObject through the first interface.
template <class First, class Self> bool AnswerBase(Self *self, REFIID iid, void **out) {
  if (!SameGuid(iid, kIidIUnknown) && !SameGuid(iid, kIidIInspectable) && !SameGuid(iid, kIidIAgileObject))
    return false;
  *out = static_cast<First *>(self);
  self->AddRefImpl();
  return true;
}

#define FAKE_QI(First, ...)                                                                                            \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {                                          \
    if (AnswerBase<First>(this, iid, out) || Answer<First>(this, iid, out) __VA_ARGS__) return S_OK;                   \
    *out = nullptr;                                                                                                    \
    return E_NOINTERFACE;                                                                                              \
  }
#define ALSO(I) || Answer<I>(this, iid, out)

template <class T> T *AddRefed(T *p) {
  if (p) p->AddRef();
  return p;
}

HSTRING MakeString(const std::wstring &text) {
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
  // makeLate(handler) turns the handler's reference into a late delivery,
  // kept while the script asks for them.
  template <class MakeLate> HRESULT Remove(EventRegistrationToken token, MakeLate makeLate) {
    Handler *handler = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto found = handlers_.find(token.value);
      if (found == handlers_.end()) return S_OK;
      handler = found->second;
      handlers_.erase(found);
    }
    if (keepLateDeliveries) {
      std::function<void(bool)> late = makeLate(handler);
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

// ------------------------------------------------------------ async operations

template <class TAbi> class Operation final : public Object, public IAsyncOperation<TAbi>, public IAsyncInfo {
public:
  explicit Operation(const char *name) : name_(name) {}
  ~Operation() override {
    if constexpr (std::is_pointer_v<TAbi>)
      if (result_) result_->Release();
    if (handler_) handler_->Release();
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
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
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (AnswerBase<IAsyncOperation<TAbi>>(this, iid, out) || Answer<IAsyncOperation<TAbi>>(this, iid, out) ||
        Answer<IAsyncInfo>(this, iid, out))
      return S_OK;
    *out = nullptr;
    return E_NOINTERFACE;
  }

  // IAsyncOperation
  HRESULT STDMETHODCALLTYPE put_Completed(IAsyncOperationCompletedHandler<TAbi> *handler) override {
    if (!handler) return E_INVALIDARG;
    std::unique_lock lock(mutex_);
    if (handler_ || handlerRan_) return kIllegalDelegateAssignment;
    handler->AddRef();
    handler_ = handler;
    if (status_ != 0) {
      lock.unlock();
      RunHandler();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(IAsyncOperationCompletedHandler<TAbi> **handler) override {
    std::lock_guard lock(mutex_);
    *handler = AddRefed(handler_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResults(TAbi *results) override {
    std::lock_guard lock(mutex_);
    if (status_ == 0) return kIllegalMethodCall;
    if (status_ != 1) return error_;
    if constexpr (std::is_pointer_v<TAbi>)
      *results = AddRefed(result_);
    else
      *results = result_;
    return S_OK;
  }

  // IAsyncInfo
  HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) override {
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Status(INT32 *status) override {
    std::lock_guard lock(mutex_);
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *code) override {
    std::lock_guard lock(mutex_);
    *code = status_ >= 2 ? error_ : S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (held_) {
      // Acknowledged only when the test finishes the held operation.
      if (!cancelRequested_.exchange(true)) ++canceledOperations;
      return S_OK;
    }
    if (Finish(2, kCanceled, TAbi{})) ++canceledOperations;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

  // Ends the operation (first ending wins); the result's reference is taken over.
  bool Finish(INT32 status, HRESULT error, TAbi result) {
    {
      std::lock_guard lock(mutex_);
      if (status_ != 0) {
        if constexpr (std::is_pointer_v<TAbi>)
          if (result) result->Release();
        return false;
      }
      status_ = status;
      error_ = error;
      result_ = result;
    }
    RunHandler();
    return true;
  }

  // Completes on the event thread after a short delay, unless scripted not to.
  void CompleteLater(TAbi result) {
    if (Holds(name_)) {
      held_ = true;
      AddRef();
      std::lock_guard lock(scriptMutex);
      heldOperations.push_back([this, result](INT32 status) {
        if (status == 1) {
          Finish(1, S_OK, result);
        } else {
          if constexpr (std::is_pointer_v<TAbi>)
            if (result) result->Release();
          Finish(2, kCanceled, TAbi{});
        }
        Release();
      });
      return;
    }
    if (NeverCompletes(name_)) {
      if constexpr (std::is_pointer_v<TAbi>)
        if (result) result->Release();
      return;
    }
    AddRef();
    Events().Post(
        [this, result] {
          Finish(1, S_OK, result);
          Release();
        },
        10ms);
  }

private:
  void RunHandler() {
    IAsyncOperationCompletedHandler<TAbi> *handler = nullptr;
    INT32 status = 0;
    {
      std::lock_guard lock(mutex_);
      if (!handler_ || handlerRan_) return;
      handlerRan_ = true;
      handler = handler_;
      handler_ = nullptr;
      status = status_;
    }
    handler->Invoke(this, status);
    handler->Release();
  }

  const char *name_;
  std::atomic<bool> held_{false};
  std::atomic<bool> cancelRequested_{false};
  std::mutex mutex_;
  INT32 status_ = 0;
  HRESULT error_ = S_OK;
  TAbi result_{};
  IAsyncOperationCompletedHandler<TAbi> *handler_ = nullptr;
  bool handlerRan_ = false;
};

// ------------------------------------------------------------ lists, buffers, readers

template <class T> class Vector final : public Object, public IVectorView<T *> {
public:
  explicit Vector(std::vector<T *> items) : items_(std::move(items)) {}
  ~Vector() override {
    for (T *item : items_) item->Release();
  }
  FAKE_IUNKNOWN
  FAKE_QI(IVectorView<T *>)
  HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, T **item) override {
    if (index >= items_.size()) return kBounds;
    *item = AddRefed(items_[index]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) override {
    *size = static_cast<UINT32>(items_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IndexOf(T *, UINT32 *, boolean *found) override {
    *found = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32, UINT32, T **, UINT32 *actual) override {
    *actual = 0;
    return E_NOTIMPL;
  }

private:
  std::vector<T *> items_;
};

class ByteBuffer final : public Object, public IBuffer, public IBufferByteAccess {
public:
  explicit ByteBuffer(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  FAKE_IUNKNOWN
  FAKE_QI(IBuffer, ALSO(IBufferByteAccess))
  HRESULT STDMETHODCALLTYPE get_Capacity(UINT32 *value) override {
    *value = static_cast<UINT32>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) override {
    *value = static_cast<UINT32>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Length(UINT32) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Buffer(BYTE **value) override {
    *value = bytes_.data();
    return S_OK;
  }

private:
  std::vector<BYTE> bytes_;
};

class DataReader final : public Object, public IDataReader, public IClosable {
public:
  explicit DataReader(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  FAKE_IUNKNOWN
  FAKE_QI(IDataReader, ALSO(IClosable))
  HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) override {
    *value = static_cast<UINT32>(bytes_.size() - read_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32 *value) override {
    *value = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReadByte(BYTE *value) override { return ReadBytes(1, value); }
  HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 count, BYTE *value) override {
    if (closed_) return kClosed;
    if (count > bytes_.size() - read_) return kBounds;
    if (count) std::memcpy(value, bytes_.data() + read_, count);
    read_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    closed_ = true;
    return S_OK;
  }

private:
  std::vector<BYTE> bytes_;
  size_t read_ = 0;
  bool closed_ = false;
};

// ------------------------------------------------------------ GATT

class ValueChangedArgs final : public Object, public IGattValueChangedEventArgs {
public:
  explicit ValueChangedArgs(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  FAKE_IUNKNOWN
  FAKE_QI(IGattValueChangedEventArgs)
  HRESULT STDMETHODCALLTYPE get_CharacteristicValue(IBuffer **value) override {
    *value = new ByteBuffer(bytes_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) override {
    value->UniversalTime = 0;
    return S_OK;
  }

private:
  std::vector<BYTE> bytes_;
};

class Characteristic;
std::mutex pistolsMutex;
struct Pistol {
  std::wstring name;
  bool connected = false;
  std::vector<Characteristic *> characteristics; // alive, not owned
  std::vector<class Device *> devices;           // open, not owned
};
std::map<UINT64, Pistol> pistols;

class Characteristic final : public Object, public IGattCharacteristic {
public:
  explicit Characteristic(UINT64 address) : address_(address) {
    std::lock_guard lock(pistolsMutex);
    pistols[address_].characteristics.push_back(this);
  }
  ~Characteristic() override {
    std::lock_guard lock(pistolsMutex);
    auto &list = pistols[address_].characteristics;
    std::erase(list, this);
  }
  FAKE_IUNKNOWN
  FAKE_QI(IGattCharacteristic)
  HRESULT STDMETHODCALLTYPE GetDescriptors(GUID, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CharacteristicProperties(UINT32 *value) override {
    *value = 0x10;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProtectionLevel(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ProtectionLevel(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_UserDescription(HSTRING *value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override {
    *value = kCharacteristic;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) override {
    *value = 0x21;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PresentationFormats(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadValueAsync(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(INT32, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE WriteValueAsync(IBuffer *, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE WriteValueWithOptionAsync(IBuffer *, INT32, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadClientCharacteristicConfigurationDescriptorAsync(IInspectable **) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(
      INT32 value, IAsyncOperation<GattCommunicationStatusAbi> **operation) override {
    if (HRESULT refused = Refusal("WriteClientCharacteristicConfigurationDescriptorAsync")) return refused;
    notifying_ = value == 1;
    auto *op = new Operation<GattCommunicationStatusAbi>("WriteClientCharacteristicConfigurationDescriptorAsync");
    op->CompleteLater(GattCommunicationStatusAbi{0});
    *operation = op;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_ValueChanged(ValueChangedHandler *handler, EventRegistrationToken *token) override {
    return valueChanged_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventRegistrationToken token) override {
    return valueChanged_.Remove(token, [this](ValueChangedHandler *handler) {
      AddRef();
      return [this, handler](bool deliver) {
        if (deliver) {
          auto *args = new ValueChangedArgs({0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}); // a trigger packet
          handler->Invoke(static_cast<IGattCharacteristic *>(this), static_cast<IGattValueChangedEventArgs *>(args));
          args->Release();
        }
        handler->Release();
        Release();
      };
    });
  }

  bool Subscribed() { return notifying_ && !valueChanged_.Empty(); }
  long Handlers() { return valueChanged_.Size(); }
  void Notify(std::vector<BYTE> bytes) {
    auto *args = new ValueChangedArgs(std::move(bytes));
    valueChanged_.Raise(static_cast<IGattCharacteristic *>(this), static_cast<IGattValueChangedEventArgs *>(args));
    args->Release();
  }

private:
  UINT64 address_;
  std::atomic<bool> notifying_{false};
  EventSource<ValueChangedHandler> valueChanged_;
};

class CharacteristicsResult final : public Object, public IGattCharacteristicsResult {
public:
  explicit CharacteristicsResult(UINT64 address) : address_(address) {}
  FAKE_IUNKNOWN
  FAKE_QI(IGattCharacteristicsResult)
  HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Characteristics(IVectorView<IGattCharacteristic *> **value) override {
    *value = new Vector<IGattCharacteristic>({new Characteristic(address_)});
    return S_OK;
  }

private:
  UINT64 address_;
};

class Service final : public Object, public IGattDeviceService, public IGattDeviceService3 {
public:
  explicit Service(UINT64 address) : address_(address) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
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
  FAKE_QI(IGattDeviceService, ALSO(IGattDeviceService3))
  HRESULT STDMETHODCALLTYPE GetCharacteristics(GUID, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIncludedServices(GUID, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override {
    *value = kService;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) override {
    *value = 0x20;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Session(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_SharingMode(INT32 *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenAsync(INT32, IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  GetCharacteristicsAsync(IAsyncOperation<IGattCharacteristicsResult *> **operation) override {
    if (HRESULT refused = Refusal("GetCharacteristicsAsync")) return refused;
    auto *op = new Operation<IGattCharacteristicsResult *>("GetCharacteristicsAsync");
    op->CompleteLater(new CharacteristicsResult(address_));
    *operation = op;
    return S_OK;
  }

private:
  UINT64 address_;
};

class ServicesResult final : public Object, public IGattDeviceServicesResult {
public:
  explicit ServicesResult(UINT64 address) : address_(address) {}
  FAKE_IUNKNOWN
  FAKE_QI(IGattDeviceServicesResult)
  HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Services(IVectorView<IGattDeviceService *> **value) override {
    *value = new Vector<IGattDeviceService>({new Service(address_)});
    return S_OK;
  }

private:
  UINT64 address_;
};

// ------------------------------------------------------------ device

class Device final : public Object, public IBluetoothLEDevice, public IBluetoothLEDevice3, public IClosable {
public:
  explicit Device(UINT64 address) : address_(address) {
    std::lock_guard lock(pistolsMutex);
    Pistol &pistol = pistols[address_];
    pistol.connected = true;
    pistol.devices.push_back(this);
  }
  ~Device() override { Unlist(); }

  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
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
  FAKE_QI(IBluetoothLEDevice, ALSO(IBluetoothLEDevice3) ALSO(IClosable))

  HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) override {
    std::lock_guard lock(pistolsMutex);
    *value = MakeString(pistols[address_].name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_GattServices(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ConnectionStatus(INT32 *value) override {
    if (closed_) return kClosed;
    *value = connected_ ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override {
    *value = address_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetGattService(GUID, IGattDeviceService **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NameChanged(DeviceEventHandler *, EventRegistrationToken *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_NameChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_GattServicesChanged(DeviceEventHandler *, EventRegistrationToken *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_GattServicesChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(DeviceEventHandler *handler,
                                                        EventRegistrationToken *token) override {
    return statusChanged_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventRegistrationToken token) override {
    return statusChanged_.Remove(token, [this](DeviceEventHandler *handler) {
      AddRef();
      return [this, handler](bool deliver) {
        if (deliver) handler->Invoke(static_cast<IBluetoothLEDevice *>(this), static_cast<IInspectable *>(nullptr));
        handler->Release();
        Release();
      };
    });
  }

  // IBluetoothLEDevice3
  HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGattServicesAsync(IAsyncOperation<IGattDeviceServicesResult *> **operation) override {
    if (closed_) return kClosed;
    if (HRESULT refused = Refusal("GetGattServicesAsync")) return refused;
    auto *op = new Operation<IGattDeviceServicesResult *>("GetGattServicesAsync");
    op->CompleteLater(new ServicesResult(address_));
    *operation = op;
    return S_OK;
  }

  // IClosable
  HRESULT STDMETHODCALLTYPE Close() override {
    closed_ = true;
    Unlist();
    return S_OK;
  }

  void Drop() {
    connected_ = false;
    statusChanged_.Raise(static_cast<IBluetoothLEDevice *>(this), static_cast<IInspectable *>(nullptr));
  }
  long Handlers() { return statusChanged_.Size(); }

private:
  void Unlist() {
    std::lock_guard lock(pistolsMutex);
    Pistol &pistol = pistols[address_];
    if (std::erase(pistol.devices, this) && pistol.devices.empty()) pistol.connected = false;
  }

  UINT64 address_;
  std::atomic<bool> connected_{true};
  std::atomic<bool> closed_{false};
  EventSource<DeviceEventHandler> statusChanged_;
};

// ------------------------------------------------------------ advertisement watcher

class Advertisement final : public Object, public IBluetoothLEAdvertisement {
public:
  explicit Advertisement(std::wstring name) : name_(std::move(name)) {}
  FAKE_IUNKNOWN
  FAKE_QI(IBluetoothLEAdvertisement)
  HRESULT STDMETHODCALLTYPE get_Flags(IInspectable **value) override {
    *value = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Flags(IInspectable *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING *value) override {
    *value = MakeString(name_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_LocalName(HSTRING) override { return E_NOTIMPL; }

private:
  std::wstring name_;
};

class ReceivedArgs final : public Object, public IBluetoothLEAdvertisementReceivedEventArgs {
public:
  ReceivedArgs(UINT64 address, std::wstring name) : address_(address), name_(std::move(name)) {}
  FAKE_IUNKNOWN
  FAKE_QI(IBluetoothLEAdvertisementReceivedEventArgs)
  HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(INT16 *value) override {
    *value = -50;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override {
    *value = address_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AdvertisementType(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) override {
    value->UniversalTime = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Advertisement(IBluetoothLEAdvertisement **value) override {
    *value = new Advertisement(name_);
    return S_OK;
  }

private:
  UINT64 address_;
  std::wstring name_;
};

class StoppedArgs final : public Object, public IBluetoothLEAdvertisementWatcherStoppedEventArgs {
public:
  explicit StoppedArgs(INT32 error) : error_(error) {}
  FAKE_IUNKNOWN
  FAKE_QI(IBluetoothLEAdvertisementWatcherStoppedEventArgs)
  HRESULT STDMETHODCALLTYPE get_Error(INT32 *value) override {
    *value = error_;
    return S_OK;
  }

private:
  INT32 error_;
};

class Watcher;
std::mutex watchersMutex;
std::set<Watcher *> &Watchers() {
  static auto *watchers = new std::set<Watcher *>;
  return *watchers;
}

class Watcher final : public Object, public IBluetoothLEAdvertisementWatcher {
public:
  Watcher() {
    std::lock_guard lock(watchersMutex);
    Watchers().insert(this);
  }
  ~Watcher() override {
    std::lock_guard lock(watchersMutex);
    Watchers().erase(this);
  }
  FAKE_IUNKNOWN
  FAKE_QI(IBluetoothLEAdvertisementWatcher)
  HRESULT STDMETHODCALLTYPE get_MinSamplingInterval(TimeSpan *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MaxSamplingInterval(TimeSpan *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MinOutOfRangeTimeout(TimeSpan *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MaxOutOfRangeTimeout(TimeSpan *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Status(INT32 *value) override {
    *value = started_ ? 1 : aborted_ ? 4 : 3;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ScanningMode(INT32 *value) override {
    *value = mode_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ScanningMode(INT32 value) override {
    if (HRESULT refused = Refusal("ScanningMode")) return refused;
    mode_ = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_SignalStrengthFilter(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_SignalStrengthFilter(IInspectable *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AdvertisementFilter(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AdvertisementFilter(IInspectable *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Start() override {
    if (HRESULT refused = Refusal("Start")) return refused;
    if (!radioOn) {
      // As the runtime does: Start itself succeeds, the watcher aborts at once.
      aborted_ = true;
      RaiseStopped(kRadioNotAvailable);
      return S_OK;
    }
    if (!started_.exchange(true)) {
      aborted_ = false;
      AddRef();
      Events().Post([this] { Pump(++generation_); });
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    if (started_.exchange(false)) RaiseStopped(0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_Received(WatcherReceivedHandler *handler, EventRegistrationToken *token) override {
    return received_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_Received(EventRegistrationToken token) override {
    return received_.Remove(token, [this](WatcherReceivedHandler *handler) {
      AddRef();
      return [this, handler](bool deliver) {
        if (deliver) {
          auto *args = new ReceivedArgs(0xAABBCCDDEEFF, L"Pistol");
          handler->Invoke(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                          static_cast<IBluetoothLEAdvertisementReceivedEventArgs *>(args));
          args->Release();
        }
        handler->Release();
        Release();
      };
    });
  }
  HRESULT STDMETHODCALLTYPE add_Stopped(WatcherStoppedHandler *handler, EventRegistrationToken *token) override {
    return stopped_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_Stopped(EventRegistrationToken token) override {
    return stopped_.Remove(token, [this](WatcherStoppedHandler *handler) {
      AddRef();
      return [this, handler](bool deliver) {
        if (deliver) {
          auto *args = new StoppedArgs(0);
          handler->Invoke(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                          static_cast<IBluetoothLEAdvertisementWatcherStoppedEventArgs *>(args));
          args->Release();
        }
        handler->Release();
        Release();
      };
    });
  }

  long Handlers() { return received_.Size() + stopped_.Size(); }

  // The radio went away: a started watcher aborts.
  void RadioLost() {
    if (!started_.exchange(false)) return;
    aborted_ = true;
    RaiseStopped(kRadioNotAvailable);
  }

private:
  void RaiseStopped(INT32 error) {
    AddRef();
    Events().Post([this, error] {
      auto *args = new StoppedArgs(error);
      stopped_.Raise(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                     static_cast<IBluetoothLEAdvertisementWatcherStoppedEventArgs *>(args));
      args->Release();
      Release();
    });
  }

  // One round of advertisements from every pistol not connected, every 50 ms
  // while started. Holds one reference while it runs.
  void Pump(long generation) {
    if (!started_ || generation != generation_) {
      Release();
      return;
    }
    std::vector<std::pair<UINT64, std::wstring>> heard;
    {
      std::lock_guard lock(pistolsMutex);
      for (auto &[address, pistol] : pistols)
        if (!pistol.connected && !pistol.name.empty()) heard.emplace_back(address, pistol.name);
    }
    for (auto &[address, name] : heard) {
      if (!started_) break;
      auto *args = new ReceivedArgs(address, name);
      received_.Raise(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                      static_cast<IBluetoothLEAdvertisementReceivedEventArgs *>(args));
      args->Release();
    }
    Events().Post([this, generation] { Pump(generation); }, 50ms);
  }

  std::atomic<bool> started_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<long> generation_{0};
  INT32 mode_ = 0;
  EventSource<WatcherReceivedHandler> received_;
  EventSource<WatcherStoppedHandler> stopped_;
};

// ------------------------------------------------------------ factories

class WatcherFactory final : public Object, public IActivationFactory {
public:
  FAKE_IUNKNOWN
  FAKE_QI(IActivationFactory)
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **instance) override {
    if (HRESULT refused = Refusal("ActivateInstance")) return refused;
    *instance = new Watcher;
    return S_OK;
  }
};

class DeviceStatics final : public Object, public IActivationFactory, public IBluetoothLEDeviceStatics {
public:
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
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
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (SameGuid(iid, kIidIUnknown) || SameGuid(iid, kIidIInspectable) || SameGuid(iid, kIidIAgileObject) ||
        SameGuid(iid, kIidIActivationFactory)) {
      *out = static_cast<IActivationFactory *>(this);
      AddRefImpl();
      return S_OK;
    }
    if (Answer<IBluetoothLEDeviceStatics>(this, iid, out)) return S_OK;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING, IAsyncOperation<IBluetoothLEDevice *> **) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 address,
                                                      IAsyncOperation<IBluetoothLEDevice *> **operation) override {
    if (HRESULT refused = Refusal("FromBluetoothAddressAsync")) return refused;
    bool known = false;
    {
      std::lock_guard lock(pistolsMutex);
      // With the radio off the runtime knows no device by address.
      known = radioOn && pistols.count(address) && !pistols[address].name.empty();
    }
    auto *op = new Operation<IBluetoothLEDevice *>("FromBluetoothAddressAsync");
    if (NeverCompletes("FromBluetoothAddressAsync"))
      op->CompleteLater(nullptr);
    else
      op->CompleteLater(known ? static_cast<IBluetoothLEDevice *>(new Device(address)) : nullptr);
    *operation = op;
    return S_OK;
  }
};

class DataReaderStatics final : public Object, public IActivationFactory, public IDataReaderStatics {
public:
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
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
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (SameGuid(iid, kIidIUnknown) || SameGuid(iid, kIidIInspectable) || SameGuid(iid, kIidIAgileObject) ||
        SameGuid(iid, kIidIActivationFactory)) {
      *out = static_cast<IActivationFactory *>(this);
      AddRefImpl();
      return S_OK;
    }
    if (Answer<IDataReaderStatics>(this, iid, out)) return S_OK;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }
  // Reads the buffer through its byte access: the buffer may come from
  // another module (the Bluetooth fake is a separate copy of this one).
  HRESULT STDMETHODCALLTYPE FromBuffer(IBuffer *buffer, IDataReader **reader) override {
    if (!buffer || !reader) return E_INVALIDARG;
    UINT32 length = 0;
    HRESULT result = buffer->get_Length(&length);
    if (result < 0) return result;
    IBufferByteAccess *access = nullptr;
    result = buffer->QueryInterface(iid_of<IBufferByteAccess>, reinterpret_cast<void **>(&access));
    if (result < 0) return result;
    BYTE *bytes = nullptr;
    result = access->Buffer(&bytes);
    access->Release();
    if (result < 0) return result;
    *reader = new DataReader(std::vector<BYTE>(bytes, bytes + length));
    return S_OK;
  }
};

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
  // Outside the lock: finishing and dropping call into whoever registered.
  for (auto &finish : TakeAll(heldOperations)) finish(2);
  for (auto &late : TakeAll(lateDeliveries)) late(false);
  std::lock_guard lock(pistolsMutex);
  for (auto &[address, pistol] : pistols) pistol.name.clear();
}

extern "C" __declspec(dllexport) void FakeBleHold(const char *operation, bool hold) {
  std::lock_guard lock(scriptMutex);
  if (hold)
    held.insert(operation);
  else
    held.erase(operation);
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
    for (Watcher *w : Watchers())
      if (w->TryAddRef()) watchers.push_back(w);
  }
  for (Watcher *w : watchers) {
    w->RadioLost();
    w->Release();
  }
  std::vector<Device *> devices;
  {
    std::lock_guard lock(pistolsMutex);
    for (auto &[address, pistol] : pistols)
      for (Device *d : pistol.devices)
        if (d->TryAddRef()) devices.push_back(d);
  }
  for (Device *d : devices)
    Events().Post([d] {
      d->Drop();
      d->Release();
    });
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
  std::lock_guard lock(scriptMutex);
  if (never)
    neverComplete.insert(operation);
  else
    neverComplete.erase(operation);
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
    for (Device *d : pistols[address].devices)
      if (d->TryAddRef()) devices.push_back(d);
  }
  for (Device *d : devices)
    Events().Post([d] {
      d->Drop();
      d->Release();
    });
}

extern "C" __declspec(dllexport) long FakeBleCount(const char *what) {
  const std::string name(what);
  if (name == "objects") return liveObjects.load();
  if (name == "canceled") return canceledOperations.load();
  if (name == "activations") return activations.load();
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
