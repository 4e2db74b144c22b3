#include "tools/pose_getter/getter_config.h"

#include <charconv>

namespace {
std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}
} // namespace

GetterConfig ParseGetterConfig(std::string_view text, std::vector<std::string> &problems) {
  GetterConfig config;
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
      else
        problems.push_back(where + "source must be udp or demo");
    } else if (key == "port") {
      unsigned port = 0;
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc{} || ptr != value.data() + value.size() || port == 0 || port > 65535)
        problems.push_back(where + "port must be a number from 1 to 65535");
      else
        config.port = static_cast<uint16_t>(port);
    } else {
      problems.push_back(where + "unknown key " + std::string(key));
    }
  }
  return config;
}
