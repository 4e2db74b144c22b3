#pragma once

// Event handlers of one event, shared between the link worker that adds and
// revokes them and the loop thread that delivers. Neither is a host thread,
// so a plain lock guards the list. A delivery copies the list under the lock
// and calls outside it, so the handlers themselves run lock-free (no lock on a
// host thread or inside a platform event handler; the frame path and the
// handlers stay lock-free). A handler may add or revoke handlers meanwhile,
// and one revoked during a delivery stays alive until that delivery ends.

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ble/adapter.h"
#include "support/platform_error.h"

namespace ble::bluez {

template <class Handler> class EventList {
public:
  using Entry = std::pair<std::int64_t, std::shared_ptr<const Handler>>;
  using Entries = std::vector<Entry>;

  EventToken Add(Handler handler) {
    if (!handler) throw hresult_invalid_argument();
    auto shared = std::make_shared<const Handler>(std::move(handler));
    std::lock_guard lock(mutex_);
    const EventToken token{++last_};
    entries_.emplace_back(token.value, std::move(shared));
    return token;
  }

  void Remove(EventToken token) {
    // Declared first, so a removed handler is destroyed after the lock is let go.
    std::shared_ptr<const Handler> removed;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first != token.value) continue;
      removed = std::move(it->second);
      entries_.erase(it);
      return;
    }
  }

  // What a delivery starting now must call.
  Entries Snapshot() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

  // Calls each handler of one snapshot, held for the whole delivery.
  template <class Call> void ForEach(Call call) const {
    const Entries entries = Snapshot();
    for (const auto &entry : entries) call(*entry.second);
  }

private:
  mutable std::mutex mutex_;
  std::int64_t last_ = 0;
  Entries entries_;
};

} // namespace ble::bluez
