#include "tools/pistol-sim/script.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pistolsim {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

ParseResult Error(std::string text) {
  return ParseResult{std::nullopt, std::move(text)};
}

ParseResult Ok(Command command) {
  return ParseResult{std::move(command), {}};
}

} // namespace

std::vector<std::uint8_t> TriggerPacket() {
  return {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};
}
std::vector<std::uint8_t> EjectPacket() {
  return {0x5C, 0x00, 0x5C, 0x5D};
}
std::vector<std::uint8_t> LoadPacket() {
  return {0x5C, 0x01, 0x5D, 0x5D};
}

std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text) {
  double scale = 0;
  if (text.ends_with("ms")) {
    scale = 1;
    text.remove_suffix(2);
  } else if (text.ends_with("s")) {
    scale = 1000;
    text.remove_suffix(1);
  } else {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(value >= 0) || value > 1e9) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(std::llround(value * scale));
}

ParseResult ParseLine(std::string_view line) {
  if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
  const auto words = Words(line);
  if (words.empty()) return {};
  const std::string_view verb = words[0];
  Command command;
  auto takesNothing = [&](Command::Kind kind) {
    if (words.size() != 1) return Error(std::string(verb) + " takes no argument");
    command.kind = kind;
    return Ok(command);
  };
  auto send = [&](std::vector<std::uint8_t> bytes) {
    if (words.size() != 1) return Error(std::string(verb) + " takes no argument");
    command.kind = Command::Kind::Send;
    command.bytes = std::move(bytes);
    command.label = verb;
    return Ok(command);
  };
  if (verb == "fire") return send(TriggerPacket());
  if (verb == "eject") return send(EjectPacket());
  if (verb == "load") return send(LoadPacket());
  if (verb == "drop") return takesNothing(Command::Kind::Drop);
  if (verb == "reappear") return takesNothing(Command::Kind::Reappear);
  if (verb == "quit") return takesNothing(Command::Kind::Quit);
  if (verb == "wait" || verb == "wait-subscribed" || verb == "wait-connected") {
    command.kind = verb == "wait"             ? Command::Kind::Wait
                   : verb == "wait-connected" ? Command::Kind::WaitConnected
                                              : Command::Kind::WaitSubscribed;
    // The condition waits give up after a while, so a script never hangs for ever.
    command.duration = std::chrono::seconds(verb == "wait" ? 0 : 30);
    if (words.size() > 2 || (verb == "wait" && words.size() != 2))
      return Error("usage: " + std::string(verb) + " TIME");
    if (words.size() == 2) {
      const auto duration = ParseDuration(words[1]);
      if (!duration) return Error("bad time '" + std::string(words[1]) + "' (use e.g. 200ms or 1.5s)");
      command.duration = *duration;
    }
    return Ok(command);
  }
  if (verb == "raw") {
    if (words.size() < 2) return Error("raw needs bytes");
    command.kind = Command::Kind::Send;
    command.label = "raw";
    for (std::size_t i = 1; i < words.size(); ++i) {
      unsigned value = 0;
      const auto [end, ec] = std::from_chars(words[i].data(), words[i].data() + words[i].size(), value, 16);
      if (words[i].size() > 2 || ec != std::errc() || end != words[i].data() + words[i].size()) {
        return Error("bad byte '" + std::string(words[i]) + "' (two hex digits)");
      }
      command.bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return Ok(command);
  }
  if (verb == "use") {
    int index = 0;
    if (words.size() != 2) return Error("usage: use N");
    const auto [end, ec] = std::from_chars(words[1].data(), words[1].data() + words[1].size(), index);
    if (ec != std::errc() || end != words[1].data() + words[1].size() || index < 1) return Error("bad pistol number");
    command.kind = Command::Kind::Use;
    command.pistol = index;
    return Ok(command);
  }
  // Two-state commands: the word that turns the thing on, and the one that turns it off.
  auto toggle = [&](Command::Kind kind, std::string_view on, std::string_view off) {
    if (words.size() != 2 || (words[1] != on && words[1] != off)) {
      return Error("usage: " + std::string(verb) + " " + std::string(on) + "|" + std::string(off));
    }
    command.kind = kind;
    command.on = words[1] == on;
    return Ok(command);
  };
  if (verb == "service") return toggle(Command::Kind::Service, "start", "stop");
  if (verb == "adapter") return toggle(Command::Kind::Adapter, "add", "remove");
  if (verb == "power") return toggle(Command::Kind::Power, "on", "off");
  if (verb == "burst") {
    int rate = 0;
    if (words.size() != 3) return Error("usage: burst RATE TIME");
    const auto [end, ec] = std::from_chars(words[1].data(), words[1].data() + words[1].size(), rate);
    if (ec != std::errc() || end != words[1].data() + words[1].size() || rate < 1 || rate > 100000) {
      return Error("bad rate '" + std::string(words[1]) + "' (1 to 100000 a second)");
    }
    const auto duration = ParseDuration(words[2]);
    if (!duration) return Error("bad time '" + std::string(words[2]) + "' (use e.g. 200ms or 1.5s)");
    command.kind = Command::Kind::Burst;
    command.rate = rate;
    command.duration = *duration;
    return Ok(command);
  }
  if (verb == "stall") {
    if (words.size() != 3 || (words[2] != "on" && words[2] != "off")) return Error("usage: stall MEMBER on|off");
    command.kind = Command::Kind::Stall;
    command.flag = words[1];
    command.on = words[2] == "on";
    return Ok(command);
  }
  if (verb == "set") {
    if (words.size() != 3 || (words[2] != "on" && words[2] != "off")) return Error("usage: set FLAG on|off");
    if (std::find(std::begin(kFlags), std::end(kFlags), words[1]) == std::end(kFlags)) {
      return Error("unknown flag '" + std::string(words[1]) + "'");
    }
    command.kind = Command::Kind::Set;
    command.flag = words[1];
    command.on = words[2] == "on";
    return Ok(command);
  }
  return Error("unknown command '" + std::string(verb) + "'");
}

} // namespace pistolsim
