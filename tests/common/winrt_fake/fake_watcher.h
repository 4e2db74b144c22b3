#pragma once

// The advertisement watcher class: what it hears from pistols not connected,
// how it stops, and its factory.

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

class WatcherFactory final : public Implements<IActivationFactory> {
public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **instance) override {
    if (HRESULT refused = Refusal("ActivateInstance")) return refused;
    *instance = new Watcher;
    return S_OK;
  }
};

} // namespace fake
