#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Port 48215 on the loopback interface: unassigned and outside the ranges
// common games and VR tools listen on.
inline constexpr uint16_t kDefaultPosePort = 48215;
inline constexpr const char *kGetterConfigFileName = "pose_getter.cfg";

struct GetterConfig {
  enum class Source { Udp, Demo };
  Source source = Source::Udp;
  uint16_t port = kDefaultPosePort;
};

// Reads `key = value` lines ('#' starts a comment). Lines it cannot use are
// described in `problems` and leave the defaults in place.
GetterConfig ParseGetterConfig(std::string_view text, std::vector<std::string> &problems);
