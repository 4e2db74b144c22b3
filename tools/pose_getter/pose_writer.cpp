#include "tools/pose_getter/pose_writer.h"

#include <cstring>

#include "pose/exchange_lock.h"

bool WritePoseRecord(PoseExchangeBlock &block, const PoseRecord &record) {
  if (!LockExchangeWithin(block, std::chrono::milliseconds(5))) return false;
  std::memcpy(&block.pose, &record, sizeof record);
  UnlockExchange(block);
  return true;
}
