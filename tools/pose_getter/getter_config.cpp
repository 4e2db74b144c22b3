#include "tools/pose_getter/getter_config.h"

#include <charconv>
#include <cmath>

#include "tools/pose_getter/opentrack_datagram.h"

namespace {
std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

// Exactly three finite numbers separated by blanks.
bool ParseThree(std::string_view text, double (&out)[3]) {
  double values[3];
  for (double &v : values) {
    text = Trim(text);
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || !std::isfinite(v)) return false;
    const std::string_view rest = text.substr(static_cast<std::size_t>(ptr - text.data()));
    if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t') return false;
    text = rest;
  }
  if (!Trim(text).empty()) return false;
  for (int i = 0; i < 3; ++i) out[i] = values[i];
  return true;
}
} // namespace

GetterConfig ParseGetterConfig(std::string_view text, std::vector<std::string> &problems) {
  GetterConfig config;
  bool portGiven = false;
  int lineNumber = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;

    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      problems.push_back(where + "expected key = value");
      continue;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key == "source") {
      if (value == "udp")
        config.source = GetterConfig::Source::Udp;
      else if (value == "demo")
        config.source = GetterConfig::Source::Demo;
      else if (value == "openvr")
        config.source = GetterConfig::Source::OpenVr;
      else if (value == "opentrack")
        config.source = GetterConfig::Source::Opentrack;
      else
        problems.push_back(where + "source must be udp, demo, openvr or opentrack");
    } else if (key == "port") {
      unsigned port = 0;
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc{} || ptr != value.data() + value.size() || port == 0 || port > 65535)
        problems.push_back(where + "port must be a number from 1 to 65535");
      else
        config.port = static_cast<uint16_t>(port), portGiven = true;
    } else if (key == "follow") {
      if (value == "tracker")
        config.follow = GetterConfig::Follow::Tracker;
      else if (value == "left_hand")
        config.follow = GetterConfig::Follow::LeftHand;
      else if (value == "right_hand")
        config.follow = GetterConfig::Follow::RightHand;
      else if (value.empty())
        problems.push_back(where + "follow needs a serial number, tracker, left_hand or right_hand");
      else if (value == kOwnSerialNumber)
        problems.push_back(where + "follow cannot name the pistol itself");
      else
        config.follow = GetterConfig::Follow::Serial, config.followSerial = std::string(value);
    } else if (key == "offset_position") {
      if (!ParseThree(value, config.offset.position))
        problems.push_back(where + "offset_position must be three numbers: x y z in metres");
    } else if (key == "offset_rotation") {
      double angles[3];
      if (!ParseThree(value, angles))
        problems.push_back(where + "offset_rotation must be three numbers: yaw pitch roll in degrees");
      else
        config.offset.rotation = {angles[0], angles[1], angles[2]};
    } else {
      problems.push_back(where + "unknown key " + std::string(key));
    }
  }
  if (config.source == GetterConfig::Source::Opentrack && !portGiven) config.port = kDefaultOpentrackPort;
  return config;
}
