#include "ble/link_release.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "ble/link_worker.h"

namespace {

// The platform's Close may block for a long time; waited for closeWait at
// most, then left to end on its own thread, which keeps the device alive. Only
// a Windows Close blocks, and the Windows backend pins the module with its
// first handler, so such a thread outlives an unload safely.
void CloseWithinBound(std::shared_ptr<ble::BluetoothLEDevice> device) {
  struct Closing {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::exception_ptr failure;
  };
  auto closing = std::make_shared<Closing>();
  std::thread closer;
  try {
    closer = std::thread([device, closing] {
      std::exception_ptr failure;
      try {
        device->Close();
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard lock(closing->mutex);
      closing->done = true;
      closing->failure = failure;
      closing->ended.notify_all();
    });
  } catch (const std::system_error &) {
    return device->Close(); // no thread to spare: close here, unbounded
  }
  std::unique_lock lock(closing->mutex);
  if (!closing->ended.wait_for(lock, linkTimings.closeWait, [&] { return closing->done; })) {
    closer.detach();
    return;
  }
  lock.unlock();
  // Joined, not left: the thread still drops its device, code of this module
  // that must not run after an unload.
  closer.join();
  if (closing->failure) std::rethrow_exception(closing->failure);
}

} // namespace

void ReleaseDevice(LinkState &s) {
  for (auto &registration : s.valueChangedTokens)
    RevokeQuietly([&] { registration.first->ValueChanged(registration.second); });
  s.valueChangedTokens.clear();
  std::shared_ptr<ble::BluetoothLEDevice> device = std::move(s.device);
  s.device.reset();
  if (!device) return;
  RevokeQuietly([&] { device->ConnectionStatusChanged(s.connectionStatusToken); });
  CloseWithinBound(std::move(device));
}

void ResetLink(LinkState &state) {
  std::exception_ptr closeFailure;
  try {
    ReleaseDevice(state);
  } catch (...) {
    closeFailure = std::current_exception();
  }
  state.targetAddress.store(0);
  state.characteristic.reset();
  state.phase.store(StartScan);
  if (closeFailure) std::rethrow_exception(closeFailure);
}
