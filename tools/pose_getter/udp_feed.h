#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "pose/pose_exchange.h"

// Turns the datagrams of a tracking program into the records to write: every
// well-formed datagram once, and a not-valid record once the program has been
// silent for kPoseStaleAfter, so the host stops showing a frozen pose.
class UdpFeed {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kPoseStaleAfter{100};

  // Fills the record for a well-formed datagram; false drops it.
  using Parser = bool (*)(const uint8_t *data, std::size_t size, PoseRecord &out);

  // Our own datagram format unless another parser is given.
  explicit UdpFeed(Clock::time_point start, Parser parser = nullptr);

  // The record to write for a datagram, or nothing when it is dropped.
  std::optional<PoseRecord> OnDatagram(const uint8_t *data, std::size_t size, Clock::time_point now);
  // The not-valid record to write when the feed has just gone stale.
  std::optional<PoseRecord> OnTick(Clock::time_point now);
  // How long the caller may wait for the next datagram before calling OnTick.
  Clock::duration TimeUntilStale(Clock::time_point now) const;

  uint64_t accepted() const { return accepted_; }
  uint64_t dropped() const { return dropped_; }

private:
  Parser parser_;
  PoseRecord last_{};
  Clock::time_point lastAccepted_;
  bool stale_ = false;
  uint64_t accepted_ = 0;
  uint64_t dropped_ = 0;
};
