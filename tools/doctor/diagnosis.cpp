#include "tools/doctor/diagnosis.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "ble/packet_decoder.h"

namespace doctor {
namespace {

bool StartsWith(const std::string &text, const char *prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The codes the Bluetooth backends raise when there is nothing to talk to.
constexpr std::uint32_t kNoBus = 0x800704C9;
constexpr std::uint32_t kServiceNotActive = 0x80070426;
constexpr std::uint32_t kDeviceNotAvailable = 0x800710DF;
constexpr std::uint32_t kNotReady = 0x80070015;
constexpr std::uint32_t kAccessDenied = 0x80070005;

} // namespace

const char *VerdictText(Verdict verdict) {
  switch (verdict) {
  case Verdict::Subscribed:
    return "pistol found and subscribed";
  case Verdict::ServiceMissing:
    return "pistol seen but service missing";
  case Verdict::ConnectionFailed:
    return "pistol seen but the connection failed";
  case Verdict::NoPistolHeard:
    return "Bluetooth works, but no pistol was heard";
  case Verdict::NothingHeard:
    return "Bluetooth works, but no device was heard";
  case Verdict::NoBluetoothService:
    return "no Bluetooth service";
  case Verdict::NoAdapter:
    return "no Bluetooth adapter";
  case Verdict::AdapterOff:
    return "Bluetooth adapter is powered off";
  case Verdict::AccessDenied:
    return "Bluetooth access denied";
  case Verdict::OtherError:
    return "Bluetooth error";
  case Verdict::NotStarted:
    return "the link did not start";
  }
  return "?";
}

std::optional<std::string> Diagnosis::Observe(const std::string &line) {
  auto enter = [&](const char *phase) -> std::optional<std::string> {
    if (phase_ == phase) return std::nullopt;
    phase_ = phase;
    return std::string("phase: ") + phase;
  };
  if (line == "Starting the advertisement watcher.") {
    scanning_ = true;
    return enter("scanning");
  }
  if (StartsWith(line, "Found device: ")) {
    ++devicesHeard_;
    return std::nullopt;
  }
  if (line == "Target device found.") {
    targetSeen_ = true;
    return enter("pistol found");
  }
  if (StartsWith(line, "Connecting to device: ")) return enter("connecting");
  if (StartsWith(line, "Subscribing to characteristic: ")) return enter("subscribing");
  if (line == "Device successfully connected.") {
    subscribed_ = true;
    return enter("connected");
  }
  if (line == "Device connection lost.") return enter("connection lost, scanning again");
  if (line == "Target characteristic not found." || StartsWith(line, "Failed to get characteristics")) {
    serviceMissing_ = true;
    return std::nullopt;
  }
  if (line == "Failed to get GATT services." || StartsWith(line, "Failed to connect to device: ")) {
    connectionFailed_ = true;
    return std::nullopt;
  }
  if (StartsWith(line, "Link error: 0x")) {
    lastError_ = static_cast<std::uint32_t>(std::strtoul(line.c_str() + 14, nullptr, 16));
    return std::nullopt;
  }
  if (StartsWith(line, "Received data: ")) {
    ++packets_;
    std::vector<std::uint8_t> bytes;
    std::istringstream in(line.substr(15));
    std::string word;
    while (in >> word && word != "END") bytes.push_back(static_cast<std::uint8_t>(std::stoul(word)));
    switch (DecodeNotification(bytes)) {
    case PistolButton::Fire:
      return std::string("packet: trigger");
    case PistolButton::EjectMag:
      return std::string("packet: magazine eject");
    case PistolButton::LoadMag:
      return std::string("packet: magazine load");
    case PistolButton::None:
      return std::string("packet: not a button (ignored)");
    }
  }
  return std::nullopt;
}

Verdict Diagnosis::verdict() const {
  if (subscribed_) return Verdict::Subscribed;
  if (targetSeen_ && serviceMissing_) return Verdict::ServiceMissing;
  if (targetSeen_ && connectionFailed_) return Verdict::ConnectionFailed;
  if (lastError_ && devicesHeard_ == 0 && !targetSeen_) {
    switch (*lastError_) {
    case kNoBus:
    case kServiceNotActive:
      return Verdict::NoBluetoothService;
    case kDeviceNotAvailable:
      return Verdict::NoAdapter;
    case kNotReady:
      return Verdict::AdapterOff;
    case kAccessDenied:
      return Verdict::AccessDenied;
    default:
      return Verdict::OtherError;
    }
  }
  if (scanning_) return devicesHeard_ > 0 ? Verdict::NoPistolHeard : Verdict::NothingHeard;
  if (lastError_) return Verdict::OtherError;
  return Verdict::NotStarted;
}

bool Diagnosis::Settled() const {
  // Nothing to scan with: waiting will not bring a radio.
  const Verdict v = verdict();
  return v == Verdict::NoBluetoothService || v == Verdict::NoAdapter || v == Verdict::AdapterOff ||
         v == Verdict::AccessDenied;
}

} // namespace doctor
