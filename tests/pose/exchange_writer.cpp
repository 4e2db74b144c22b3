// Test helper: writes self-checking records into the exchange block as fast as
// it can, field by field under the lock, so that a reader that did not keep to
// the lock would see torn records. Stops when the reader sets kStopOffset.
#include <atomic>

#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "pose/shared_mapping.h"

// A byte of the mapping's unused tail.
constexpr std::size_t kStopOffset = 512;

int main() {
  const MappingHandle mapping = CreateNamedMapping(kPoseExchangeName, kPoseExchangeSize);
  void *view = mapping == kNoMapping ? nullptr : MapNamedView(mapping, kPoseExchangeSize);
  if (!view) return 1;
  auto &block = *static_cast<PoseExchangeBlock *>(view);
  std::atomic_ref<uint8_t> stop(static_cast<uint8_t *>(view)[kStopOffset]);
  for (int32_t k = 1; !stop.load(); ++k) {
    // Small enough for every value below to be exact in a float.
    const auto base = static_cast<float>(k % 4096);
    while (!LockExchangeWithin(block, std::chrono::milliseconds(5))) {
    }
    volatile float *m = &block.pose.m[0][0];
    for (int i = 0; i < 12; ++i) m[i] = base + static_cast<float>(i) / 16.0f;
    for (int i = 0; i < 3; ++i) block.pose.velocity[i] = base + static_cast<float>(12 + i) / 16.0f;
    for (int i = 0; i < 3; ++i) block.pose.angularVelocity[i] = base + static_cast<float>(15 + i) / 16.0f;
    block.pose.result = k;
    block.pose.poseIsValid = static_cast<uint8_t>(k & 1);
    block.pose.deviceIsConnected = static_cast<uint8_t>((k >> 1) & 1);
    UnlockExchange(block);
  }
  UnmapNamedView(view, kPoseExchangeSize);
  CloseNamedMapping(mapping);
  return 0;
}
