#pragma once

#include <atomic>
#include <chrono>

#include "pose/pose_exchange.h"

// The block's one-byte spin lock, shared by the driver and the helper process.
inline bool TryLockExchange(PoseExchangeBlock &block) {
  return std::atomic_ref<uint8_t>(block.lock).exchange(1, std::memory_order_seq_cst) == 0;
}

inline void UnlockExchange(PoseExchangeBlock &block) {
  std::atomic_ref<uint8_t>(block.lock).store(0, std::memory_order_release);
}

// Tries, yielding between attempts, until `wait` has passed. The other side
// holds the lock only for an 80-byte copy, so a longer wait means it is stuck.
bool LockExchangeWithin(PoseExchangeBlock &block, std::chrono::microseconds wait);

static_assert(std::atomic_ref<uint8_t>::is_always_lock_free, "the lock byte is shared across processes");
