#pragma once

// The simulator's command language, one command a line:
//
//   wait 200ms | wait 1.5s      pause this script
//   wait-subscribed [5s]        pause until the pistol has a notification subscriber
//   wait-connected [5s]         pause until the pistol is connected
//   fire | eject | load         send the button's packet (if subscribed)
//   raw 5b 00 00 00 00 5d       send these bytes as one notification
//   drop                        lose the link and stop advertising
//   reappear                    advertise again
//   use 2                       later commands act on pistol 2 (1-based)
//   set FLAG on|off             misbehaviour: refuse-connect, hang-connect,
//                               hide-service, fail-notify
//   service stop|start          bluetoothd going away and coming back
//   adapter remove|add          the adapter unplugged and plugged back in
//   power off|on                the radio switched off and on
//   stall MEMBER on|off         leave calls of MEMBER (e.g. StartNotify)
//                               unanswered; off answers the ones kept
//   burst RATE TIME             a load: fire, eject and load in turn, RATE a
//                               second for TIME (summary line only)
//   quit                        stop the simulator
//
// Blank lines and text after '#' are ignored.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pistolsim {

struct Command {
  enum class Kind {
    Wait,
    WaitSubscribed,
    WaitConnected,
    Send,
    Drop,
    Reappear,
    Use,
    Set,
    Service,
    Adapter,
    Power,
    Stall,
    Burst,
    Quit
  };
  Kind kind = Kind::Quit;
  std::chrono::milliseconds duration{0};
  // Send: the packet, and the button name for the log ("raw" for raw bytes).
  std::vector<std::uint8_t> bytes;
  std::string label;
  int pistol = 0;
  int rate = 0;     // Burst: notifications a second
  std::string flag; // Set: the flag; Stall: the member
  bool on = false;  // Service: start; Adapter: add; Power: on
};

struct ParseResult {
  std::optional<Command> command; // empty for a blank or comment line
  std::string error;              // set when the line is not a command
};

ParseResult ParseLine(std::string_view line);

// "200ms", "2s", "1.5s"; nothing for anything else.
std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text);

// The packets the pistol sends for its buttons.
std::vector<std::uint8_t> TriggerPacket();
std::vector<std::uint8_t> EjectPacket();
std::vector<std::uint8_t> LoadPacket();

inline constexpr std::string_view kFlags[] = {"refuse-connect", "hang-connect", "hide-service", "fail-notify"};

} // namespace pistolsim
