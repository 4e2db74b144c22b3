#pragma once

// Letting go of a device: shared by the worker's passes and its recovery step.
#include "ble/link_state.h"

template <class Revoke> void RevokeQuietly(Revoke &&revoke) noexcept {
  try {
    revoke();
  } catch (...) {
    // The object is going away; a registration it refuses to drop can no
    // longer reach the link (handlers hold the state weakly).
  }
}

// Revokes the registrations of the device and its characteristics, then
// closes the device; a failing Close is raised once the rest is done.
void ReleaseDevice(LinkState &s);
