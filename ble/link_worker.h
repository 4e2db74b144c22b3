#pragma once

#include <chrono>

#include "ble/link_state.h"

// The link worker thread's body: scans for the pistol, connects, subscribes
// to its notifications, and scans again whenever the link is lost or fails.
// Returns soon after linkRunning is cleared, whatever the radio is doing.
void LinkWorker();

// The worker's one recovery step: revokes the device's and characteristics'
// registrations, closes and drops the device, forgets the target and the
// characteristic, and goes back to StartScan. A failing Close is raised after
// the other steps are done; a Close still blocked after closeWait is left to
// finish on its own.
void ResetLink(LinkState &state);

// Pacing of the worker, fixed in the driver; tests of the link may shorten them.
struct LinkTimings {
  std::chrono::milliseconds pollPeriod{500};
  std::chrono::milliseconds operationTimeout{30000};
  std::chrono::milliseconds maxSetupRetryDelay{2000};
  std::chrono::seconds repeatedErrorLogInterval{60};
  // Further tries of a failed discovery or subscription on the same device
  // object, one poll period apart, before the link is reset.
  int gattRetries = 3;
  // Scanning that hears nothing this long after a reset tries the last linked
  // pistol's address directly; the wait doubles after each try, up to the cap.
  std::chrono::milliseconds directLookupDelay{2000};
  std::chrono::milliseconds maxDirectLookupDelay{30000};
  // How long a reset waits for the device's Close before leaving it to end
  // on a thread of its own.
  std::chrono::milliseconds closeWait{500};
};
extern LinkTimings linkTimings;
