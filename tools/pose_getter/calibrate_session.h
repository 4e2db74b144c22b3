#pragma once

// The conversation of `pose_getter --calibrate`: three steps (grip, muzzle,
// level), each explained, started by a line on the input after a countdown,
// recorded with progress until its data suffices, checked, and repeated with
// what to do differently until it passes.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "pose/pose_exchange.h"
#include "tools/pose_getter/pivot_calibration.h"

// The followed device, sampled at the session's pace.
class DeviceFeed {
public:
  virtual ~DeviceFeed() = default;
  // The device's latest pose (not valid while there is none).
  virtual PoseRecord Sample() = 0;
  // Why there is no pose, for a person.
  virtual std::string Problem() const = 0;
};

struct CalibrateSettings {
  double countdownSeconds = 3;
  std::chrono::milliseconds samplePeriod{20};
  // A swing step records at least this long, and gives up after the limit.
  double minSwingSeconds = 3;
  double swingLimitSeconds = 45;
  double holdSeconds = 2;
  // Lost for this long in a row ends a step at once.
  double lostLimitSeconds = 1.5;
  // Before the first step: how long to wait for the device to be tracked.
  double firstPoseWaitSeconds = 10;
  CalibrationLimits limits;
};

struct CalibrationOutcome {
  MountOffset mount;
  double gripResidualMetres, muzzleResidualMetres, gripToMuzzleMetres, barrelTiltDegrees;
};

// Nothing when the input ends or the device never shows up (said on `out`).
std::optional<CalibrationOutcome> RunCalibration(DeviceFeed &feed, std::FILE *in, std::FILE *out,
                                                 const CalibrateSettings &settings);
