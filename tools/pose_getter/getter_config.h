#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pose_getter/pose_math.h"

// Port 48215 on the loopback interface: unassigned and outside the ranges
// common games and VR tools listen on.
inline constexpr uint16_t kDefaultPosePort = 48215;
inline constexpr const char *kGetterConfigFileName = "pose_getter.cfg";

// Our own device: following it would feed the pistol's pose back into itself.
inline constexpr const char *kOwnSerialNumber = "aaa_vantorelle_k5_controller";

struct GetterConfig {
  enum class Source { Udp, Demo, OpenVr, Opentrack };
  // Which device of the running host the openvr source follows.
  enum class Follow { Serial, Tracker, LeftHand, RightHand };

  Source source = Source::Udp;
  // 48215 for udp, 4242 (opentrack's own default) for opentrack, unless given.
  uint16_t port = kDefaultPosePort;
  Follow follow = Follow::Tracker;
  std::string followSerial;
  // The mount from the followed device (openvr) or tracked object (opentrack)
  // to the pistol.
  MountOffset offset;
};

// Reads `key = value` lines ('#' starts a comment). Lines it cannot use are
// described in `problems` and leave the defaults in place.
GetterConfig ParseGetterConfig(std::string_view text, std::vector<std::string> &problems);
