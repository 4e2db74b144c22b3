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
// the other steps are done.
void ResetLink(LinkState &state);

// Pacing of the worker, fixed in the driver; tests of the link may shorten them.
struct LinkTimings {
  std::chrono::milliseconds pollPeriod{500};
  std::chrono::milliseconds operationTimeout{30000};
  std::chrono::milliseconds maxSetupRetryDelay{2000};
  std::chrono::seconds repeatedErrorLogInterval{60};
};
extern LinkTimings linkTimings;
