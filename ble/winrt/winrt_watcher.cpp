#include "ble/winrt/winrt_watcher.h"

#include <memory>
#include <string>
#include <utility>

#include "ble/winrt/winrt_operations.h"

namespace ble::winrt {
namespace {

using namespace winrt_abi;

std::u16string Text(HRESULT (STDMETHODCALLTYPE IBluetoothLEAdvertisement::*get)(HSTRING *),
                    IBluetoothLEAdvertisement *object) {
  hstring text;
  check((object->*get)(text.put()));
  return text.u16();
}

class WinrtAdvertisement final : public BluetoothLEAdvertisement {
public:
  explicit WinrtAdvertisement(com_ptr<IBluetoothLEAdvertisement> advertisement)
      : advertisement_(std::move(advertisement)) {}
  std::u16string LocalName() override { return Text(&IBluetoothLEAdvertisement::get_LocalName, advertisement_.get()); }

private:
  com_ptr<IBluetoothLEAdvertisement> advertisement_;
};

class WinrtReceivedArgs final : public BluetoothLEAdvertisementReceivedEventArgs {
public:
  explicit WinrtReceivedArgs(IBluetoothLEAdvertisementReceivedEventArgs *args) : args_(args) {}
  std::shared_ptr<BluetoothLEAdvertisement> Advertisement() override {
    com_ptr<IBluetoothLEAdvertisement> advertisement;
    check(args_->get_Advertisement(advertisement.put()));
    if (!advertisement) raise_platform_error(kEFail);
    return std::make_shared<WinrtAdvertisement>(std::move(advertisement));
  }
  std::uint64_t BluetoothAddress() override {
    UINT64 address = 0;
    check(args_->get_BluetoothAddress(&address));
    return address;
  }

private:
  IBluetoothLEAdvertisementReceivedEventArgs *args_; // valid for the invocation
};

class WinrtStoppedArgs final : public BluetoothLEAdvertisementWatcherStoppedEventArgs {
public:
  explicit WinrtStoppedArgs(IBluetoothLEAdvertisementWatcherStoppedEventArgs *args) : args_(args) {}
  BluetoothError Error() override {
    INT32 error = 0;
    check(args_->get_Error(&error));
    return static_cast<BluetoothError>(error);
  }

private:
  IBluetoothLEAdvertisementWatcherStoppedEventArgs *args_; // valid for the invocation
};

class WinrtWatcher final : public BluetoothLEAdvertisementWatcher {
public:
  explicit WinrtWatcher(com_ptr<IBluetoothLEAdvertisementWatcher> watcher) : watcher_(std::move(watcher)) {}

  void ScanningMode(BluetoothLEScanningMode mode) override {
    check(watcher_->put_ScanningMode(static_cast<INT32>(mode)));
  }

  EventToken Received(ReceivedHandler handler) override {
    auto delegate = MakeDelegate<WatcherReceivedHandler, IBluetoothLEAdvertisementWatcher *,
                                 IBluetoothLEAdvertisementReceivedEventArgs *>(
        [handler = std::move(handler)](IBluetoothLEAdvertisementWatcher *sender,
                                       IBluetoothLEAdvertisementReceivedEventArgs *args) {
          WinrtWatcher senderView(com_ptr<IBluetoothLEAdvertisementWatcher>::borrow(sender));
          WinrtReceivedArgs argsView(args);
          handler(senderView, argsView);
        });
    EventRegistrationToken token{};
    check(watcher_->add_Received(delegate.get(), &token));
    return ToToken(token);
  }
  void Received(EventToken token) override { check(watcher_->remove_Received(ToAbi(token))); }

  EventToken Stopped(StoppedHandler handler) override {
    auto delegate = MakeDelegate<WatcherStoppedHandler, IBluetoothLEAdvertisementWatcher *,
                                 IBluetoothLEAdvertisementWatcherStoppedEventArgs *>(
        [handler = std::move(handler)](IBluetoothLEAdvertisementWatcher *sender,
                                       IBluetoothLEAdvertisementWatcherStoppedEventArgs *args) {
          WinrtWatcher senderView(com_ptr<IBluetoothLEAdvertisementWatcher>::borrow(sender));
          WinrtStoppedArgs argsView(args);
          handler(senderView, argsView);
        });
    EventRegistrationToken token{};
    check(watcher_->add_Stopped(delegate.get(), &token));
    return ToToken(token);
  }
  void Stopped(EventToken token) override { check(watcher_->remove_Stopped(ToAbi(token))); }

  void Start() override { check(watcher_->Start()); }
  void Stop() override { check(watcher_->Stop()); }
  BluetoothLEAdvertisementWatcherStatus Status() override {
    INT32 status = 0;
    check(watcher_->get_Status(&status));
    return static_cast<BluetoothLEAdvertisementWatcherStatus>(status);
  }

private:
  com_ptr<IBluetoothLEAdvertisementWatcher> watcher_;
};

} // namespace

std::shared_ptr<BluetoothLEAdvertisementWatcher> WrapWatcher(com_ptr<IBluetoothLEAdvertisementWatcher> watcher) {
  return std::make_shared<WinrtWatcher>(std::move(watcher));
}

} // namespace ble::winrt
