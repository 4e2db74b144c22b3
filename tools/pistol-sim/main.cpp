// pistol-sim: a fake BlueZ with one adapter and one or more pistols on a bus,
// for the demo, the tests and development without hardware. Prints what it
// does; takes commands from a script file and from standard input.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <time.h>
#include <vector>

#include "ble/bluez/bluez_text.h"
#include "tools/pistol-sim/fake_bluez.h"
#include "tools/pistol-sim/script.h"

namespace {

using pistolsim::Command;
using pistolsim::FakeBluez;

constexpr const char *kUsage = R"(usage: pistol-sim [options]
  --bus ADDRESS               bus to serve org.bluez on (default: the system bus,
                              which honours DBUS_SYSTEM_BUS_ADDRESS)
  --pistol NAME@ADDRESS       a pistol (repeatable; default Pistol@AA:BB:CC:DD:EE:FF)
  --script FILE               commands to run from the start (see script.h)
  --no-stdin                  take no commands from standard input
  --refuse-connect            Connect fails
  --hang-connect              Connect is never answered (Disconnect ends it)
  --hide-service              a battery service instead of the button service
  --fail-notify               StartNotify fails
  --drop-after MS             the link drops MS after each connection
  --powered-off               the adapter is powered off
  --no-adapter                BlueZ without an adapter
  --advertising-interval MS   time between advertisements (default 250)
  --send-times FILE           a burst writes the time of each notification here
  --stall MEMBER              leave calls of MEMBER unanswered from the start
                              (repeatable; "stall MEMBER off" answers them)
  --disconnect-delay MS       how long Disconnect takes (default 300; the real
                              bluetoothd takes 1700 to 2900)
  --ideal-bluez               BlueZ as documented rather than as bluetoothd
                              behaves: Connected signalled before the Connect
                              reply, Disconnect at once, only the button
                              service, RSSI invalidated when discovery stops,
                              no advertising while linked
)";

timespec startTime{};

void Say(const std::string &text) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const double t =
      static_cast<double>(now.tv_sec - startTime.tv_sec) + static_cast<double>(now.tv_nsec - startTime.tv_nsec) / 1e9;
  std::printf("[sim %7.3f] %s\n", t, text.c_str());
  std::fflush(stdout);
}

// Runs one command source in order; waits pause only this source.
class Runner {
public:
  Runner(std::string name, FakeBluez &bluez, sd_event *event, std::string sendTimes)
      : name_(std::move(name)), bluez_(bluez), event_(event), sendTimes_(std::move(sendTimes)) {}
  ~Runner() { sd_event_source_disable_unref(timer_); }

  void Push(Command command) {
    queue_.push_back(std::move(command));
    if (!waiting_) Step();
  }

  // A change the source may be waiting for.
  void Poke() {
    if (waiting_ && condition_ && Satisfied()) Resume();
  }

private:
  bool Satisfied() const {
    return condition_ == Command::Kind::WaitSubscribed ? bluez_.Subscribed(pistol_) : bluez_.Connected(pistol_);
  }

  void Resume() {
    waiting_ = false;
    condition_.reset();
    timer_ = sd_event_source_disable_unref(timer_);
    Step();
  }

  void Wait(std::chrono::milliseconds time) {
    waiting_ = true;
    sd_event_add_time_relative(
        event_, &timer_, CLOCK_MONOTONIC, static_cast<std::uint64_t>(time.count()) * 1000u, 1000,
        [](sd_event_source *, std::uint64_t, void *userdata) -> int {
          auto *self = static_cast<Runner *>(userdata);
          if (self->condition_) Say(self->name_ + ": gave up waiting");
          self->Resume();
          return 0;
        },
        this);
  }

  void Step() {
    while (!waiting_ && !queue_.empty()) {
      Command command = std::move(queue_.front());
      queue_.pop_front();
      switch (command.kind) {
      case Command::Kind::Wait:
        Wait(command.duration);
        break;
      case Command::Kind::WaitSubscribed:
      case Command::Kind::WaitConnected:
        condition_ = command.kind;
        if (Satisfied()) {
          condition_.reset();
        } else {
          Wait(command.duration);
        }
        break;
      case Command::Kind::Send:
        bluez_.Send(pistol_, command.bytes, command.label);
        break;
      case Command::Kind::Drop:
        bluez_.Drop(pistol_);
        break;
      case Command::Kind::Reappear:
        bluez_.Reappear(pistol_);
        break;
      case Command::Kind::Use:
        if (command.pistol > bluez_.PistolCount()) {
          Say(name_ + ": no pistol " + std::to_string(command.pistol));
        } else {
          pistol_ = command.pistol - 1;
        }
        break;
      case Command::Kind::Set:
        bluez_.SetFlag(pistol_, command.flag, command.on);
        break;
      case Command::Kind::Service:
        command.on ? bluez_.StartService() : bluez_.StopService();
        break;
      case Command::Kind::Adapter:
        command.on ? bluez_.AddAdapter() : bluez_.RemoveAdapter();
        break;
      case Command::Kind::Power:
        bluez_.SetPowered(command.on);
        break;
      case Command::Kind::Stall:
        bluez_.Stall(command.flag, command.on);
        break;
      case Command::Kind::Burst:
        bluez_.Burst(pistol_,
                     {{"fire", pistolsim::TriggerPacket()},
                      {"eject", pistolsim::EjectPacket()},
                      {"load", pistolsim::LoadPacket()}},
                     command.rate, command.duration, sendTimes_);
        break;
      case Command::Kind::Quit:
        Say(name_ + ": quit");
        sd_event_exit(event_, 0);
        return;
      }
    }
  }

  std::string name_;
  FakeBluez &bluez_;
  sd_event *event_;
  std::deque<Command> queue_;
  bool waiting_ = false;
  std::optional<Command::Kind> condition_;
  sd_event_source *timer_ = nullptr;
  int pistol_ = 0;
  std::string sendTimes_;
};

struct StdinReader {
  Runner *runner = nullptr;
  std::string pending;
};

int OnStdin(sd_event_source *source, int fd, std::uint32_t, void *userdata) {
  auto *reader = static_cast<StdinReader *>(userdata);
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) {
    // End of input leaves the pistols running; only quit or a signal ends the simulator.
    sd_event_source_set_enabled(source, SD_EVENT_OFF);
    return 0;
  }
  reader->pending.append(buffer, static_cast<std::size_t>(got));
  std::size_t newline = 0;
  while ((newline = reader->pending.find('\n')) != std::string::npos) {
    const std::string line = reader->pending.substr(0, newline);
    reader->pending.erase(0, newline + 1);
    const auto parsed = pistolsim::ParseLine(line);
    if (!parsed.error.empty()) {
      Say("stdin: " + parsed.error);
    } else if (parsed.command) {
      reader->runner->Push(*parsed.command);
    }
  }
  return 0;
}

bool ParsePistol(const std::string &text, pistolsim::PistolConfig &out) {
  const auto at = text.rfind('@');
  if (at == std::string::npos || at == 0) return false;
  const auto address = ble::bluez::ParseAddress(text.substr(at + 1));
  if (!address) return false;
  out.name = text.substr(0, at);
  out.address = *address;
  return true;
}

} // namespace

int main(int argc, char **argv) {
  clock_gettime(CLOCK_MONOTONIC, &startTime);
  std::string busAddress;
  std::vector<std::string> pistolSpecs;
  std::string scriptPath;
  pistolsim::Misbehaviour misbehaviour;
  pistolsim::AdapterConfig adapter;
  bool poweredOff = false;
  bool noAdapter = false;
  bool noStdin = false;
  std::vector<std::string> stalled;
  std::string sendTimes;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
      return args[++i];
    };
    try {
      if (arg == "--help" || arg == "-h") {
        std::printf("%s", kUsage);
        return 0;
      } else if (arg == "--bus") {
        busAddress = value();
      } else if (arg == "--pistol") {
        pistolSpecs.push_back(value());
      } else if (arg == "--script") {
        scriptPath = value();
      } else if (arg == "--no-stdin") {
        noStdin = true;
      } else if (arg == "--refuse-connect") {
        misbehaviour.refuseConnect = true;
      } else if (arg == "--hang-connect") {
        misbehaviour.hangConnect = true;
      } else if (arg == "--hide-service") {
        misbehaviour.hideService = true;
      } else if (arg == "--fail-notify") {
        misbehaviour.failNotify = true;
      } else if (arg == "--drop-after") {
        misbehaviour.dropAfterMs = std::stoi(value());
      } else if (arg == "--powered-off") {
        poweredOff = true;
      } else if (arg == "--no-adapter") {
        noAdapter = true;
      } else if (arg == "--send-times") {
        sendTimes = value();
      } else if (arg == "--stall") {
        stalled.push_back(value());
      } else if (arg == "--disconnect-delay") {
        adapter.disconnectDelayMs = std::clamp(std::stoi(value()), 0, 30000);
      } else if (arg == "--ideal-bluez") {
        adapter.ideal = true;
      } else if (arg == "--advertising-interval") {
        adapter.advertisingIntervalMs = std::clamp(std::stoi(value()), 10, 10000);
      } else {
        throw std::invalid_argument("unknown option " + arg);
      }
    } catch (const std::exception &e) {
      std::fprintf(stderr, "pistol-sim: %s\n%s", e.what(), kUsage);
      return 2;
    }
  }
  adapter.powered = !poweredOff;
  adapter.present = !noAdapter;

  std::vector<pistolsim::PistolConfig> pistols;
  if (pistolSpecs.empty()) pistolSpecs.push_back("Pistol@AA:BB:CC:DD:EE:FF");
  for (const auto &description : pistolSpecs) {
    pistolsim::PistolConfig config;
    if (!ParsePistol(description, config)) {
      std::fprintf(stderr, "pistol-sim: bad --pistol '%s' (NAME@AA:BB:CC:DD:EE:FF)\n", description.c_str());
      return 2;
    }
    config.misbehaviour = misbehaviour;
    pistols.push_back(config);
  }
  std::vector<Command> script;
  if (!scriptPath.empty()) {
    std::ifstream file(scriptPath);
    if (!file) {
      std::fprintf(stderr, "pistol-sim: cannot read %s\n", scriptPath.c_str());
      return 2;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
      const auto parsed = pistolsim::ParseLine(line);
      if (!parsed.error.empty()) {
        std::fprintf(stderr, "pistol-sim: %s:%d: %s\n", scriptPath.c_str(), number, parsed.error.c_str());
        return 2;
      }
      if (parsed.command) script.push_back(*parsed.command);
    }
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);

  sd_event *event = nullptr;
  sd_event_default(&event);
  sd_event_add_signal(event, nullptr, SIGINT, nullptr, nullptr);
  sd_event_add_signal(event, nullptr, SIGTERM, nullptr, nullptr);

  sdbus::Bus bus;
  if (const int r = sdbus::Bus::Open(busAddress, bus); r < 0) {
    std::fprintf(stderr, "pistol-sim: cannot connect to the bus: %s\n", strerror(-r));
    return 1;
  }
  // The simulator's life is the bus's: when the bus goes, so does it.
  sd_bus_set_exit_on_disconnect(bus.get(), 1);
  sd_bus_attach_event(bus.get(), event, 0);

  int status = 0;
  {
    FakeBluez bluez(bus.get(), event, adapter, pistols, Say);
    if (const int r = bluez.Start(); r < 0) {
      std::fprintf(stderr, "pistol-sim: cannot serve org.bluez: %s\n", strerror(-r));
      return 1;
    }
    for (const auto &member : stalled) bluez.Stall(member, true);
    Runner scriptRunner("script", bluez, event, sendTimes);
    Runner stdinRunner("stdin", bluez, event, sendTimes);
    bluez.onStateChange = [&] {
      scriptRunner.Poke();
      stdinRunner.Poke();
    };
    std::string names;
    for (const auto &p : pistols) names += " '" + p.name + "' at " + ble::bluez::FormatAddress(p.address);
    Say(std::string("ready: org.bluez with ") + (adapter.present ? "adapter hci0" : "no adapter") +
        (adapter.powered ? "" : " (powered off)") + ", pistols" + names);

    StdinReader reader{&stdinRunner, {}};
    sd_event_source *input = nullptr;
    // A terminal, pipe or socket can be watched; /dev/null or a file cannot, and carries no commands anyway.
    if (!noStdin && sd_event_add_io(event, &input, STDIN_FILENO, EPOLLIN, &OnStdin, &reader) < 0) input = nullptr;

    for (auto &command : script) scriptRunner.Push(command);
    status = sd_event_loop(event);

    sd_event_source_disable_unref(input);
    const auto &counts = bluez.counts();
    std::string sent;
    for (const auto &[label, count] : counts.sent) sent += " " + label + "=" + std::to_string(count);
    Say("summary: sent" + (sent.empty() ? std::string(" nothing") : sent) + "; not sent " +
        std::to_string(counts.notSent) + "; connections " + std::to_string(counts.connections) + "; drops " +
        std::to_string(counts.drops));
  }
  sd_bus_detach_event(bus.get());
  bus.reset();
  sd_event_unref(event);
  return status < 0 ? 1 : 0;
}
