#pragma once

#include <atomic>

// Button events travel from the notification handler to the frame update as
// flags, not counts: a second press before the frame takes the first is one.
struct InputLatches {
  std::atomic<bool> fire{false};
  std::atomic<bool> eject_mag{false};
  std::atomic<bool> load_mag{false};
};

extern InputLatches inputLatches;
