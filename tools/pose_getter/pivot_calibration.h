#pragma once

// The mount measured with the tracking the user already has: the device is
// swung about a point of the pistol kept still (the heel of the grip, then
// the muzzle tip), and least squares find that point in the device's own
// frame; a level hold then gives up and forward. Pure functions: no clock, no
// input, no runtime.
#include <optional>
#include <string>
#include <vector>

#include "tools/pose_getter/pose_math.h"

// One pose of the followed device: its rotation and position (metres) in
// tracking space.
struct DevicePose {
  Rotation rotation;
  double position[3];
};

struct CalibrationLimits {
  // Each of two axes: a swing about one axis leaves the point along it unknown.
  double minSwingDegrees = 40;
  // Root mean square distance of the fixed point from its fit.
  double maxResidualMetres = 0.003;
  double minGripToMuzzleMetres = 0.05;
  double maxBarrelTiltDegrees = 10;
  // Farthest any pose of the level hold strays from its first.
  double maxHoldDriftMetres = 0.005;
  double maxHoldTurnDegrees = 2;
  // Share of a step's samples in which the device may be untracked.
  double maxUntrackedShare = 0.1;
};

// How far the device was turned, relative to its first pose: the extents of
// its turns along the widest and the second widest axis, degrees.
struct SwingCoverage {
  double widest = 0;
  double second = 0;
};
SwingCoverage MeasureSwing(const std::vector<DevicePose> &poses);
// 0 to 1: how much of the needed swing has been covered.
double SwingProgress(const SwingCoverage &coverage, const CalibrationLimits &limits);

struct PivotFit {
  double devicePoint[3]; // the fixed point in the device's frame
  double worldPoint[3];  // and where it stayed in tracking space
  double residualMetres; // root mean square
};
// Nothing when the poses cannot fix the point (too few, or all one turn).
std::optional<PivotFit> FitPivot(const std::vector<DevicePose> &poses);

// A step's verdict: `problem` empty when accepted, else what to do differently.
struct PivotStep {
  std::optional<PivotFit> fit;
  std::string problem;
};
// `point` names what was kept still, for the messages ("the heel of the grip").
PivotStep CheckPivotStep(const std::vector<DevicePose> &poses, std::size_t untrackedSamples, const char *point,
                         const CalibrationLimits &limits);
double PointsApartMetres(const PivotFit &a, const PivotFit &b);
// Empty when grip and muzzle are far enough apart to give a direction.
std::string CheckGripToMuzzle(const PivotFit &grip, const PivotFit &muzzle, const CalibrationLimits &limits);

struct LevelStep {
  MountOffset mount;
  double barrelTiltDegrees = 0; // positive: the muzzle was higher than the grip
  std::string problem;
};
// The pistol's origin at the grip point, -Z along the horizontal part of
// muzzle - grip, +Y along tracking space's up during the hold.
LevelStep SolveLevelStep(const std::vector<DevicePose> &hold, std::size_t untrackedSamples, const PivotFit &grip,
                         const PivotFit &muzzle, const CalibrationLimits &limits);

// The untracked check shared by all steps: empty when few enough were lost.
std::string CheckTracked(std::size_t trackedSamples, std::size_t untrackedSamples, const CalibrationLimits &limits);
// The message for a step ended by the device going untracked for `seconds`.
std::string LostTrackingProblem(double seconds);
