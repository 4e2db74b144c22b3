#include "pose/exchange_lock.h"

#include <cstring>
#include <thread>

bool LockExchangeWithin(PoseExchangeBlock &block, std::chrono::microseconds wait) {
  using Clock = std::chrono::steady_clock;
  if (TryLockExchange(block)) return true;
  if (wait <= std::chrono::microseconds::zero()) return false;
  const Clock::time_point start = Clock::now();
  // A live writer holds the lock for well under a microsecond. Yield, never
  // sleep: a sleep on Windows lasts a whole timer tick (up to 15.6 ms) and
  // would cost the host a frame; a stuck lock costs at most `wait`.
  while (Clock::now() - start < wait) {
    std::this_thread::yield();
    if (TryLockExchange(block)) return true;
  }
  return false;
}

bool CopyRecordOut(PoseExchangeBlock &block, PoseRecord &out, std::chrono::microseconds wait) {
  if (!LockExchangeWithin(block, wait)) return false;
  std::memcpy(&out, &block.pose, sizeof out);
  UnlockExchange(block);
  return true;
}

bool CopyRecordIn(PoseExchangeBlock &block, const PoseRecord &record, std::chrono::microseconds wait) {
  if (!LockExchangeWithin(block, wait)) return false;
  std::memcpy(&block.pose, &record, sizeof record);
  UnlockExchange(block);
  return true;
}
