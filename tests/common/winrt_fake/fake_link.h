#pragma once

// What the GATT calls of one device object share, as Windows behaves: the
// link is made by the first GATT call (not by the lookup), raising Connected
// before that call completes; a fresh device's first discoveries answer
// Unreachable; a pistol that is gone answers Unreachable, late.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "tests/common/winrt_fake/fake_object.h"

namespace fake {

// The device object, told when its link comes up or drops for a moment.
class LinkOwner {
public:
  virtual void LinkChanged(bool connected) = 0;
  virtual Object &AsObject() = 0;

protected:
  ~LinkOwner() = default;
};

class DeviceLink {
public:
  struct Answer {
    INT32 status;
    std::chrono::milliseconds delay;
  };

  DeviceLink(UINT64 pistol, LinkOwner *owner, const Behaviour &behaviour, bool linkUp)
      : address(pistol), connected(linkUp || !behaviour.lazyConnection),
        unreachableLeft_(linkUp ? 0 : behaviour.firstDiscoveriesUnreachable), blip_(behaviour.blip), owner_(owner) {}

  // The owner is going away: nothing reaches it after this returns.
  void Orphan() {
    std::lock_guard lock(mutex_);
    owner_ = nullptr;
  }

  // One GATT call: its status and when it completes. A discovery is the
  // services' listing (the call that connects first).
  Answer Reach(const std::string &operation, bool discovery) {
    const auto pace = discovery ? Pace(500ms, 3000ms) : Pace(100ms, 400ms);
    bool present = false;
    {
      std::lock_guard lock(pistolsMutex);
      present = radioOn && !pistols[address].name.empty();
    }
    if (!present) return {kUnreachable, Pace(7000ms, 7000ms)};
    if (const INT32 scripted = TakeAnswer(operation)) return {scripted, pace};
    if (!connected) {
      if (discovery && unreachableLeft_.load() > 0) {
        --unreachableLeft_;
        return {kUnreachable, pace};
      }
      if (!connecting_.exchange(true)) ConnectWithin(pace / 2);
    }
    return {0, pace};
  }

  const UINT64 address;
  std::atomic<bool> connected;

private:
  // The link comes up on the event thread, before the call that made it completes.
  void ConnectWithin(std::chrono::milliseconds delay) {
    Events().Post(
        [this, keep = Keep()] {
          if (!keep) return;
          {
            std::lock_guard lock(pistolsMutex);
            pistols[address].connected = true;
          }
          connected = true;
          Tell(true);
          if (blip_) {
            // Some devices drop once before their services are listed.
            connected = false;
            Tell(false);
            connected = true;
            Tell(true);
          }
        },
        delay);
  }

  // A reference on the owner for a posted task (null if it is going away).
  std::shared_ptr<Object> Keep() {
    std::lock_guard lock(mutex_);
    if (!owner_ || !owner_->AsObject().TryAddRef()) return nullptr;
    return std::shared_ptr<Object>(&owner_->AsObject(), [](Object *object) { object->ReleaseImpl(); });
  }

  void Tell(bool up) {
    std::lock_guard lock(mutex_);
    if (owner_) owner_->LinkChanged(up);
  }

  std::atomic<long> unreachableLeft_;
  std::atomic<bool> connecting_{false};
  const bool blip_;
  std::mutex mutex_;
  LinkOwner *owner_; // under mutex_
};

} // namespace fake
