#pragma once

// The advertisement watcher class: what it hears from pistols not linked,
// how it stops (or aborts without a word, as some systems do), the
// advertisement that still arrives after Stop, and its factory.

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/winrt_fake/fake_object.h"

namespace fake {

class Advertisement final : public Implements<IBluetoothLEAdvertisement> {
public:
  explicit Advertisement(std::wstring name) : name_(std::move(name)) {}
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

class ReceivedArgs final : public Implements<IBluetoothLEAdvertisementReceivedEventArgs> {
public:
  ReceivedArgs(UINT64 address, std::wstring name) : address_(address), name_(std::move(name)) {}
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

class StoppedArgs final : public Implements<IBluetoothLEAdvertisementWatcherStoppedEventArgs> {
public:
  explicit StoppedArgs(INT32 error) : error_(error) {}
  HRESULT STDMETHODCALLTYPE get_Error(INT32 *value) override {
    *value = error_;
    return S_OK;
  }

private:
  INT32 error_;
};

class Watcher;
inline std::mutex watchersMutex;
inline std::set<Watcher *> &Watchers() {
  static auto *watchers = new std::set<Watcher *>;
  return *watchers;
}

class Watcher final : public Implements<IBluetoothLEAdvertisementWatcher> {
public:
  Watcher() {
    std::lock_guard lock(watchersMutex);
    Watchers().insert(this);
  }
  ~Watcher() override {
    std::lock_guard lock(watchersMutex);
    Watchers().erase(this);
  }
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
      const long style = Current().radioOffStyle;
      if (style == 1) return kDeviceNotAvailable;
      // As most systems do: Start itself succeeds, the watcher aborts at once.
      aborted_ = true;
      if (style == 0) RaiseStopped(kRadioNotAvailable);
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
    if (!started_.exchange(false)) return S_OK;
    if (Current().lateAdvertisement) RaiseLate();
    RaiseStopped(0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_Received(WatcherReceivedHandler *handler, EventRegistrationToken *token) override {
    return received_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_Received(EventRegistrationToken token) override {
    return received_.Remove(token, this, [this](WatcherReceivedHandler *handler) {
      auto *args = new ReceivedArgs(0xAABBCCDDEEFF, L"Pistol");
      handler->Invoke(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                      static_cast<IBluetoothLEAdvertisementReceivedEventArgs *>(args));
      args->Release();
    });
  }
  HRESULT STDMETHODCALLTYPE add_Stopped(WatcherStoppedHandler *handler, EventRegistrationToken *token) override {
    return stopped_.Add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_Stopped(EventRegistrationToken token) override {
    return stopped_.Remove(token, this, [this](WatcherStoppedHandler *handler) {
      auto *args = new StoppedArgs(0);
      handler->Invoke(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                      static_cast<IBluetoothLEAdvertisementWatcherStoppedEventArgs *>(args));
      args->Release();
    });
  }

  long Handlers() { return received_.Size() + stopped_.Size(); }

  // The radio went away: a started watcher aborts, with or without a word.
  void RadioLost(long style) {
    if (!started_.exchange(false)) return;
    aborted_ = true;
    if (style != 2) RaiseStopped(kRadioNotAvailable);
  }

private:
  void Raise(UINT64 address, const std::wstring &name) {
    auto *args = new ReceivedArgs(address, name);
    received_.Raise(static_cast<IBluetoothLEAdvertisementWatcher *>(this),
                    static_cast<IBluetoothLEAdvertisementReceivedEventArgs *>(args));
    args->Release();
  }

  // The last round heard, once more: it was on its way when Stop was called.
  void RaiseLate() {
    std::vector<std::pair<UINT64, std::wstring>> late;
    {
      std::lock_guard lock(lastHeardMutex_);
      late = lastHeard_;
    }
    if (late.empty()) return;
    AddRef();
    Events().Post([this, late] {
      for (auto &[address, name] : late) Raise(address, name);
      ++lateAdvertisements;
      Release();
    });
  }

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
    const Behaviour behaviour = Current();
    std::vector<std::pair<UINT64, std::wstring>> heard;
    {
      std::lock_guard lock(pistolsMutex);
      for (auto &[address, pistol] : pistols) {
        if (pistol.LinkUp() || pistol.name.empty()) continue;
        pistol.heard = true;
        // A paired pistol is linked by the system on its first advertisement,
        // which no watcher sees.
        if (behaviour.paired)
          pistol.heldBySystem = true;
        else
          heard.emplace_back(address, pistol.name);
      }
    }
    if (!heard.empty()) {
      std::lock_guard lock(lastHeardMutex_);
      lastHeard_ = heard;
    }
    for (auto &[address, name] : heard) {
      if (!started_) break;
      // Active scanning: the advertisement (no name) and the scan response come apart.
      if (behaviour.scanResponse) Raise(address, L"");
      Raise(address, name);
    }
    Events().Post([this, generation] { Pump(generation); }, 50ms);
  }

  std::atomic<bool> started_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<long> generation_{0};
  INT32 mode_ = 0;
  std::mutex lastHeardMutex_;
  std::vector<std::pair<UINT64, std::wstring>> lastHeard_;
  EventSource<WatcherReceivedHandler> received_;
  EventSource<WatcherStoppedHandler> stopped_;
};

class WatcherFactory final : public Implements<IActivationFactory> {
public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **instance) override {
    if (HRESULT refused = Refusal("ActivateInstance")) return refused;
    *instance = new Watcher;
    return S_OK;
  }
};

} // namespace fake
