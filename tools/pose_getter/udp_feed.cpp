#include "tools/pose_getter/udp_feed.h"

#include "tools/pose_getter/pose_datagram.h"

UdpFeed::UdpFeed(Clock::time_point start, Parser parser)
    : parser_(parser ? parser : &ParsePoseDatagram), lastAccepted_(start) {}

std::optional<PoseRecord> UdpFeed::OnDatagram(const uint8_t *data, std::size_t size, Clock::time_point now) {
  PoseRecord record;
  if (!parser_(data, size, record)) {
    ++dropped_;
    return std::nullopt;
  }
  ++accepted_;
  last_ = record;
  lastAccepted_ = now;
  stale_ = false;
  return record;
}

std::optional<PoseRecord> UdpFeed::OnTick(Clock::time_point now) {
  if (stale_ || now - lastAccepted_ < kPoseStaleAfter) return std::nullopt;
  stale_ = true;
  // Where it was last seen, but neither valid nor moving: the host must not
  // extrapolate a pose nobody is sending any more.
  PoseRecord record = last_;
  record.poseIsValid = 0;
  record.deviceIsConnected = 0;
  record.result = vr::TrackingResult_Running_OutOfRange;
  for (float &v : record.velocity) v = 0.0f;
  for (float &v : record.angularVelocity) v = 0.0f;
  return record;
}

UdpFeed::Clock::duration UdpFeed::TimeUntilStale(Clock::time_point now) const {
  if (stale_) return kPoseStaleAfter;
  const Clock::duration left = lastAccepted_ + kPoseStaleAfter - now;
  return left < Clock::duration::zero() ? Clock::duration::zero() : left;
}
