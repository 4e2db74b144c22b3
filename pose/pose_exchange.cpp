#include "pose/pose_exchange.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <thread>

#include "pose/exchange_lock.h"
#include "pose/shared_mapping.h"
#include "support/host_log.h"

namespace {
// Touched only by the thread that activates and deactivates the device.
MappingHandle poseMapping = kNoMapping;
// Read by the host's frame thread, so published atomically.
std::atomic<PoseExchangeBlock *> poseView{nullptr};
// Frames inside ReadPoseRecord: the view is unmapped only once none is left.
std::atomic<int> poseReaders{0};

// The barrel's 30-degree tilt as a rotation: cos and sin of half its angle.
constexpr double kCosHalfTilt = 0.9659258262890683;
constexpr double kSinHalfTilt = 0.25881904510252074;

template <std::size_t N> bool AllFinite(const float (&values)[N]) {
  // Branch-free on the common path: a float is non-finite when its exponent bits are all set.
  uint32_t nonFinite = 0;
  for (float v : values) {
    const uint32_t exponent = std::bit_cast<uint32_t>(v) & 0x7F800000u;
    nonFinite |= static_cast<uint32_t>(exponent == 0x7F800000u);
  }
  return nonFinite == 0;
}

template <std::size_t N> void ZeroNonFinite(float (&values)[N]) {
  for (float &v : values)
    if (!std::isfinite(v)) v = 0.0f;
}

// Sums of finite floats are never NaN, so this is fmax(0, sum) without its NaN handling.
double ClampedRoot(float sum) {
  return 0.5 * std::sqrt(sum > 0.0f ? static_cast<double>(sum) : 0.0);
}
} // namespace

void OpenPoseExchange() {
  if (poseView.load()) ClosePoseExchange();

  poseMapping = CreateNamedMapping(kPoseExchangeName, kPoseExchangeSize);
  if (poseMapping == kNoMapping) LogLine("Failed to create file mapping object.");
  void *view = poseMapping == kNoMapping ? nullptr : MapNamedView(poseMapping, kPoseExchangeSize);
  if (!view) {
    LogLine("Failed to map view of file.");
    if (poseMapping != kNoMapping) CloseNamedMapping(poseMapping);
    poseMapping = kNoMapping;
    return;
  }

  // Whatever an earlier activation's helper left is discarded: until the new
  // helper writes, the block reads as an invalid, disconnected pose.
  auto *block = static_cast<PoseExchangeBlock *>(view);
  std::memset(reinterpret_cast<unsigned char *>(block) + 1, 0, sizeof(PoseExchangeBlock) - 1);
  UnlockExchange(*block);
  poseView.store(block);
}

void ClosePoseExchange() {
  PoseExchangeBlock *block = poseView.exchange(nullptr);
  if (!block) return;
  // A frame that picked up the view just before it was cleared finishes its
  // copy (within kPoseLockWait) before the memory goes away.
  while (poseReaders.load() != 0) std::this_thread::yield();
  UnmapNamedView(block, kPoseExchangeSize);
  CloseNamedMapping(poseMapping);
  poseMapping = kNoMapping;
}

PoseRead ReadPoseRecord(PoseRecord &out, std::chrono::microseconds wait) {
  if (!poseView.load(std::memory_order_relaxed)) return PoseRead::NoBlock;
  poseReaders.fetch_add(1);
  PoseExchangeBlock *block = poseView.load();
  PoseRead read = PoseRead::NoBlock;
  if (block) {
    read = PoseRead::Locked;
    if (CopyRecordOut(*block, out, wait)) read = PoseRead::Read;
  }
  poseReaders.fetch_sub(1);
  return read;
}

PoseRead ReadPose(vr::DriverPose_t &out, std::chrono::microseconds wait) {
  PoseRecord record;
  const PoseRead read = ReadPoseRecord(record, wait);
  if (read == PoseRead::Read) out = ConvertPose(record);
  return read;
}

vr::DriverPose_t ConvertPose(const PoseRecord &record) {
  PoseRecord r = record;
  const bool finite = AllFinite(r.m[0]) && AllFinite(r.m[1]) && AllFinite(r.m[2]) && AllFinite(r.velocity) &&
                      AllFinite(r.angularVelocity);
  if (!finite) {
    for (auto &row : r.m) ZeroNonFinite(row);
    ZeroNonFinite(r.velocity);
    ZeroNonFinite(r.angularVelocity);
  }
  const auto &m = r.m;

  // Every field is set below; zero-filling the record first would cost a block
  // store on every frame.
  vr::DriverPose_t pose;
  pose.poseTimeOffset = 0.0;
  pose.qWorldFromDriverRotation = {1.0, 0.0, 0.0, 0.0};
  pose.qDriverFromHeadRotation = {1.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < 3; ++i) {
    pose.vecWorldFromDriverTranslation[i] = 0.0;
    pose.vecDriverFromHeadTranslation[i] = 0.0;
    pose.vecAcceleration[i] = 0.0;
    pose.vecAngularAcceleration[i] = 0.0;
  }
  pose.willDriftInYaw = false;
  pose.shouldApplyHeadModel = false;
  pose.poseIsValid = r.poseIsValid != 0 && finite;
  // Copied, not cast: an int32 outside the enumeration's values is passed on
  // as written, and a cast of it would be undefined.
  static_assert(sizeof pose.result == sizeof r.result);
  std::memcpy(&pose.result, &r.result, sizeof pose.result);
  pose.deviceIsConnected = r.deviceIsConnected != 0;

  // The sums stay in float32 and the roots in double, so that the helper's
  // matrix gives the same quaternion bit for bit on every build. The clamp
  // keeps the roots defined for matrices that are not quite orthonormal.
  const float sumW = 1.0f + m[0][0] + m[1][1] + m[2][2];
  const float sumX = 1.0f + m[0][0] - m[1][1] - m[2][2];
  const float sumY = 1.0f - m[0][0] + m[1][1] - m[2][2];
  const float sumZ = 1.0f - m[0][0] - m[1][1] + m[2][2];
  const double w = ClampedRoot(sumW);
  const double x = std::copysign(ClampedRoot(sumX), static_cast<double>(m[2][1] - m[1][2]));
  const double y = std::copysign(ClampedRoot(sumY), static_cast<double>(m[0][2] - m[2][0]));
  const double z = std::copysign(ClampedRoot(sumZ), static_cast<double>(m[1][0] - m[0][1]));

  // The pistol's barrel points 30 degrees below the tracked object's forward
  // axis: rotate by -30 degrees about the device's own X axis.
  pose.qRotation.w = w * kCosHalfTilt + x * kSinHalfTilt;
  pose.qRotation.x = x * kCosHalfTilt - w * kSinHalfTilt;
  pose.qRotation.y = y * kCosHalfTilt - z * kSinHalfTilt;
  pose.qRotation.z = z * kCosHalfTilt + y * kSinHalfTilt;
  // Diagonal sums beyond the float range overflow to infinity.
  if (!std::isfinite(pose.qRotation.w) || !std::isfinite(pose.qRotation.x) || !std::isfinite(pose.qRotation.y) ||
      !std::isfinite(pose.qRotation.z)) {
    pose.qRotation = {1.0, 0.0, 0.0, 0.0};
    pose.poseIsValid = false;
  }

  // The grip sits 0.25 along the device's own +Z axis from the tracked point.
  for (int i = 0; i < 3; ++i) {
    pose.vecPosition[i] = static_cast<double>(m[i][3]) + static_cast<double>(m[i][2] * 0.25f);
    pose.vecVelocity[i] = r.velocity[i];
    pose.vecAngularVelocity[i] = r.angularVelocity[i];
  }
  return pose;
}
