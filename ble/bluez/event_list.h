#pragma once

// Event handlers of one event, shared between the threads that add and revoke
// them and the loop thread that delivers. The list is never changed in place:
// Add and Remove publish a new copy, so a delivery iterates a snapshot that
// keeps its handlers alive even when they are revoked meanwhile.

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "ble/adapter.h"
#include "ble/bluez/atomic_pointer.h"
#include "support/platform_error.h"

namespace ble::bluez {

template <class Handler> class EventList {
public:
  using Entry = std::pair<std::int64_t, std::shared_ptr<const Handler>>;
  using Entries = std::vector<Entry>;

  EventToken Add(Handler handler) {
    if (!handler) throw hresult_invalid_argument();
    // Only uniqueness matters, so no ordering with the list.
    const EventToken token{last_.fetch_add(1, std::memory_order_relaxed) + 1};
    auto shared = std::make_shared<const Handler>(std::move(handler));
    Replace([&](Entries &entries) {
      entries.emplace_back(token.value, shared);
      return true;
    });
    return token;
  }

  void Remove(EventToken token) {
    Replace([&](Entries &entries) {
      return std::erase_if(entries, [&](const Entry &e) { return e.first == token.value; }) > 0;
    });
  }

  // One load: what a delivery starting now must call.
  std::shared_ptr<const Entries> Snapshot() const { return entries_.Load(); }

  // Calls each handler of one snapshot, held for the whole delivery.
  template <class Call> void ForEach(Call call) const {
    const auto entries = Snapshot();
    for (const auto &entry : *entries) call(*entry.second);
  }

private:
  // Copy, change, publish; retried when another thread published first. The
  // expected value holds a reference, so its address cannot be reused while
  // compared (no ABA).
  template <class Change> void Replace(Change change) {
    auto current = entries_.Load();
    for (;;) {
      auto next = std::make_shared<Entries>(*current);
      if (!change(*next)) return;
      if (entries_.CompareExchange(current, std::shared_ptr<const Entries>(std::move(next)))) {
        return;
      }
    }
  }

  std::atomic<std::int64_t> last_{0};
  AtomicPointer<std::shared_ptr<const Entries>> entries_{std::make_shared<const Entries>()};
};

} // namespace ble::bluez
