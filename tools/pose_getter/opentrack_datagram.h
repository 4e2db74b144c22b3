#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pose/pose_exchange.h"

// One pose of opentrack's "UDP over network" output: six little-endian
// doubles, x, y, z in centimetres and yaw, pitch, roll in degrees, in
// opentrack's own axes. README.md gives the mapping onto the host's axes.
inline constexpr std::size_t kOpentrackDatagramSize = 48;
inline constexpr uint16_t kDefaultOpentrackPort = 4242;

struct OpentrackPose {
  double x, y, z;          // cm
  double yaw, pitch, roll; // degrees
};

// True, with `out` a valid, connected, Running_OK record with zero
// velocities, only for exactly 48 bytes of finite numbers whose pose is
// finite in the record's floats.
bool ParseOpentrackDatagram(const uint8_t *data, std::size_t size, PoseRecord &out);

// The record for an opentrack pose, in the host's axes and metres.
PoseRecord RecordFromOpentrack(const OpentrackPose &pose);

// The datagram opentrack sends for a pose.
std::array<uint8_t, kOpentrackDatagramSize> EncodeOpentrackDatagram(const OpentrackPose &pose);
