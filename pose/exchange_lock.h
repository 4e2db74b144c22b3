#pragma once

#include <atomic>
#include <chrono>

#include "pose/pose_exchange.h"

// The block's one-byte spin lock, shared by the driver and the helper process,
// and the two copies made under it. The other side holds the lock only for an
// 80-byte copy, so a wait longer than that means it is stuck.

inline bool TryLockExchange(PoseExchangeBlock &block) {
  return std::atomic_ref<uint8_t>(block.lock).exchange(1, std::memory_order_seq_cst) == 0;
}

inline void UnlockExchange(PoseExchangeBlock &block) {
  std::atomic_ref<uint8_t>(block.lock).store(0, std::memory_order_release);
}

// Tries, yielding between attempts, until `wait` has passed; a wait of zero
// or less tries once.
bool LockExchangeWithin(PoseExchangeBlock &block, std::chrono::microseconds wait);

// The reader's side: copies the record out. False, copying nothing, when the
// lock stays held for `wait`.
bool CopyRecordOut(PoseExchangeBlock &block, PoseRecord &out, std::chrono::microseconds wait);
// The writer's side: copies the record in. False, writing nothing, when the
// lock stays held for `wait`.
bool CopyRecordIn(PoseExchangeBlock &block, const PoseRecord &record, std::chrono::microseconds wait);

static_assert(std::atomic_ref<uint8_t>::is_always_lock_free, "the lock byte is shared across processes");
