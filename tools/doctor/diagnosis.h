#pragma once

// What the driver's own log lines say about the link, as a person would read
// them: the phase it is in, what each packet means, and a closing verdict.
#include <cstdint>
#include <optional>
#include <string>

namespace doctor {

enum class Verdict {
  Subscribed,       // the pistol was found and its buttons subscribed
  ServiceMissing,   // the pistol was seen but offers no button service / subscription
  ConnectionFailed, // the pistol was seen but the connection failed
  NoPistolHeard,    // scanning, other devices heard, but no pistol
  NothingHeard,     // scanning, no advertisement at all
  NoBluetoothService,
  NoAdapter,
  AdapterOff,
  AccessDenied,
  OtherError,
  NotStarted,
};

const char *VerdictText(Verdict verdict);

class Diagnosis {
public:
  // Feeds one driver log line; returns a short note for the person when the
  // line changes the link's phase or carries a packet.
  std::optional<std::string> Observe(const std::string &line);

  Verdict verdict() const;
  // A verdict that will not change by waiting longer.
  bool Settled() const;
  const std::string &phase() const { return phase_; }
  int devicesHeard() const { return devicesHeard_; }
  int packets() const { return packets_; }

private:
  std::string phase_ = "starting";
  bool scanning_ = false;
  bool targetSeen_ = false;
  bool subscribed_ = false;
  bool serviceMissing_ = false;
  bool connectionFailed_ = false;
  std::optional<std::uint32_t> lastError_;
  int devicesHeard_ = 0;
  int packets_ = 0;
};

} // namespace doctor
