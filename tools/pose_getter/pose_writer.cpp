#include "tools/pose_getter/pose_writer.h"

#include "pose/exchange_lock.h"

bool WritePoseRecord(PoseExchangeBlock &block, const PoseRecord &record) {
  return CopyRecordIn(block, record, std::chrono::milliseconds(5));
}
