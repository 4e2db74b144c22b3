#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pose/pose_exchange.h"

// One pose sent to the helper by a tracking program over UDP; README.md gives the layout.
inline constexpr std::size_t kPoseDatagramSize = 80;
inline constexpr uint8_t kPoseDatagramVersion = 1;
inline constexpr uint8_t kDatagramPoseValid = 0x01;
inline constexpr uint8_t kDatagramDeviceConnected = 0x02;

// True, with `out` filled, only for a well-formed datagram: exact size, known
// version, no unknown flag bits, zero reserved bytes, a known tracking result
// and finite numbers. Anything else must never reach the exchange.
bool ParsePoseDatagram(const uint8_t *data, std::size_t size, PoseRecord &out);

// The datagram for a record, as a tracking program would send it.
std::array<uint8_t, kPoseDatagramSize> EncodePoseDatagram(const PoseRecord &record);
