// The mount solver against synthetic motions whose mount is known: a pistol
// swung about its grip heel and its muzzle tip, then held level, seen through
// a device mounted on it at random, with tracking noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "tools/pose_getter/pivot_calibration.h"

namespace {
constexpr double kRadians = std::numbers::pi / 180;

Rotation Mul(const Rotation &a, const Rotation &b) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}
Rotation Transposed(const Rotation &a) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[j][i];
  return r;
}
void Apply(const Rotation &r, const double (&v)[3], double (&out)[3]) {
  for (int i = 0; i < 3; ++i) out[i] = r.m[i][0] * v[0] + r.m[i][1] * v[1] + r.m[i][2] * v[2];
}
double AngleBetween(const Rotation &a, const Rotation &b) {
  const Rotation d = Mul(Transposed(a), b);
  return std::acos(std::clamp((d.m[0][0] + d.m[1][1] + d.m[2][2] - 1) / 2, -1.0, 1.0)) / kRadians;
}

// A pistol with a device mounted on it, and the motions a user makes with it.
struct Rig {
  Rotation mount;   // the pistol's axes in the device's frame
  double grip[3];   // the grip heel, device frame
  double muzzle[3]; // the muzzle tip, device frame
  double facing;    // the yaw the user stands at, degrees

  std::mt19937 random;
  double positionNoise = 0.0005; // metres, each axis
  double turnNoise = 0.1;        // degrees, each axis

  double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); }
  double Gauss(double sigma) { return std::normal_distribution<double>(0, sigma)(random); }

  static Rig Random(unsigned seed) {
    Rig rig{};
    rig.random.seed(seed);
    rig.mount = RotationFromYawPitchRoll({rig.Uniform(-180, 180), rig.Uniform(-89, 89), rig.Uniform(-180, 180)});
    for (double &v : rig.grip) v = rig.Uniform(-0.15, 0.15);
    // The barrel in the pistol's frame: forward, a little up or down.
    const double length = rig.Uniform(0.10, 0.25);
    const double barrel[3] = {0, length * std::tan(rig.Uniform(-5, 5) * kRadians), -length};
    double inDevice[3];
    Apply(rig.mount, barrel, inDevice);
    for (int i = 0; i < 3; ++i) rig.muzzle[i] = rig.grip[i] + inDevice[i];
    rig.facing = rig.Uniform(-180, 180);
    return rig;
  }

  // The device's pose for a pistol turned by `pistol` with `point` (device
  // frame) at `where`, with tracking noise.
  DevicePose Seen(const Rotation &pistol, const double (&point)[3], const double (&where)[3]) {
    DevicePose p{};
    const Rotation noise = RotationFromYawPitchRoll({Gauss(turnNoise), Gauss(turnNoise), Gauss(turnNoise)});
    p.rotation = Mul(Mul(pistol, Transposed(mount)), noise);
    double lever[3];
    Apply(p.rotation, point, lever);
    for (int i = 0; i < 3; ++i) p.position[i] = where[i] - lever[i] + Gauss(positionNoise);
    return p;
  }

  // Swings about `point` by up to ±`pitchSwing` (up and down) and ±`yawSwing`
  // (side to side), as a hand does: uneven, never the whole range at once.
  std::vector<DevicePose> Swing(const double (&point)[3], double pitchSwing, double yawSwing, int samples = 150,
                                double wander = 0) {
    const double where[3] = {0.3, 0.9, -0.5};
    std::vector<DevicePose> poses;
    for (int i = 0; i < samples; ++i) {
      const double t = static_cast<double>(i) / samples;
      const Rotation pistol = RotationFromYawPitchRoll(
          {facing + yawSwing * std::sin(2 * std::numbers::pi * 1.3 * t) * Uniform(0.8, 1.0),
           pitchSwing * std::sin(2 * std::numbers::pi * 2.1 * t + 0.5) * Uniform(0.8, 1.0), Uniform(-5, 5)});
      double at[3];
      for (int k = 0; k < 3; ++k) at[k] = where[k] + (wander > 0 ? Gauss(wander) : 0);
      poses.push_back(Seen(pistol, point, at));
    }
    return poses;
  }

  std::vector<DevicePose> Hold(double barrelPitch = 0, double drift = 0, int samples = 100) {
    const double where[3] = {0, 1.2, -0.3};
    std::vector<DevicePose> poses;
    for (int i = 0; i < samples; ++i) {
      const double at[3] = {where[0] + drift * i / samples, where[1], where[2]};
      poses.push_back(Seen(RotationFromYawPitchRoll({facing, barrelPitch, 0}), grip, at));
    }
    return poses;
  }
};

struct Errors {
  double position, angle;
};

Errors Calibrate(Rig &rig) {
  const CalibrationLimits limits;
  const PivotStep grip = CheckPivotStep(rig.Swing(rig.grip, 25, 25), 0, "the grip", limits);
  const PivotStep muzzle = CheckPivotStep(rig.Swing(rig.muzzle, 25, 25), 0, "the muzzle", limits);
  EXPECT_EQ(grip.problem, "");
  EXPECT_EQ(muzzle.problem, "");
  if (!grip.fit || !muzzle.fit) return {1, 180};
  EXPECT_EQ(CheckGripToMuzzle(*grip.fit, *muzzle.fit, limits), "");
  const LevelStep level = SolveLevelStep(rig.Hold(), 0, *grip.fit, *muzzle.fit, limits);
  EXPECT_EQ(level.problem, "");
  const double position = std::hypot(level.mount.position[0] - rig.grip[0], level.mount.position[1] - rig.grip[1],
                                     level.mount.position[2] - rig.grip[2]);
  return {position, AngleBetween(RotationFromYawPitchRoll(level.mount.rotation), rig.mount)};
}
} // namespace

TEST(PivotCalibration, RandomMountsAreRecoveredWithin2MillimetresAnd1Degree) {
  std::vector<double> positions, angles;
  for (unsigned seed = 1; seed <= 100; ++seed) {
    Rig rig = Rig::Random(seed);
    const Errors e = Calibrate(rig);
    EXPECT_LT(e.position, 0.002) << "mount " << seed;
    EXPECT_LT(e.angle, 1.0) << "mount " << seed;
    positions.push_back(e.position);
    angles.push_back(e.angle);
  }
  std::sort(positions.begin(), positions.end());
  std::sort(angles.begin(), angles.end());
  std::printf("100 mounts, 0.5 mm and 0.1 degree noise: position error median %.2f mm, max %.2f mm; angle error "
              "median %.3f, max %.3f degrees\n",
              (positions[49] + positions[50]) / 2 * 1000, positions.back() * 1000, (angles[49] + angles[50]) / 2,
              angles.back());
}

TEST(PivotCalibration, WithoutNoiseTheFitIsExactAndItsResidualZero) {
  Rig rig = Rig::Random(7);
  rig.positionNoise = rig.turnNoise = 0;
  const auto fit = FitPivot(rig.Swing(rig.grip, 30, 30));
  ASSERT_TRUE(fit);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(fit->devicePoint[i], rig.grip[i], 1e-9);
  EXPECT_NEAR(fit->worldPoint[1], 0.9, 1e-9);
  EXPECT_LT(fit->residualMetres, 1e-9);
}

TEST(PivotCalibration, SwingCoverageCountsTwoAxesAndProgressReachesOneAtTheLimit) {
  Rig rig = Rig::Random(3);
  rig.turnNoise = 0;
  const CalibrationLimits limits;
  const SwingCoverage one = MeasureSwing(rig.Swing(rig.grip, 0, 30));
  EXPECT_GT(one.widest, 45);
  EXPECT_LT(one.second, 12) << "the few degrees of roll a hand adds";
  EXPECT_LT(SwingProgress(one, limits), 0.7);
  const SwingCoverage two = MeasureSwing(rig.Swing(rig.grip, 30, 30));
  EXPECT_GT(two.second, 45);
  EXPECT_EQ(SwingProgress(two, limits), 1.0);
  EXPECT_FALSE(FitPivot(rig.Swing(rig.grip, 30, 30, 5))) << "too few poses";
}

TEST(PivotCalibration, EachRejectionSaysWhatToDoDifferently) {
  Rig rig = Rig::Random(11);
  const CalibrationLimits limits;
  auto problem = [&](const std::vector<DevicePose> &poses, std::size_t untracked = 0) {
    return CheckPivotStep(poses, untracked, "the heel of the grip", limits).problem;
  };

  EXPECT_NE(problem(rig.Swing(rig.grip, 0, 40)).find("Too little rotation"), std::string::npos);
  EXPECT_NE(problem(rig.Swing(rig.grip, 0, 40)).find("both up and down and from side to side"), std::string::npos);
  EXPECT_NE(problem(rig.Swing(rig.grip, 10, 10)).find("Too little rotation"), std::string::npos);

  // A pivot that slides about by a centimetre.
  const std::string slid = problem(rig.Swing(rig.grip, 30, 30, 150, 0.01));
  EXPECT_NE(slid.find("The point kept still moved"), std::string::npos) << slid;
  EXPECT_NE(slid.find("Rest the heel of the grip firmly"), std::string::npos) << slid;

  const std::string lost = problem(rig.Swing(rig.grip, 30, 30, 100), 20);
  EXPECT_NE(lost.find("not tracked for 17%"), std::string::npos) << lost;
  EXPECT_NE(lost.find("Keep it in view"), std::string::npos);
  EXPECT_EQ(problem(rig.Swing(rig.grip, 30, 30, 100), 10), "") << "a few lost samples are tolerated";
  EXPECT_NE(LostTrackingProblem(1.5).find("not tracked for 1.5 s in a row"), std::string::npos);

  const PivotStep grip = CheckPivotStep(rig.Swing(rig.grip, 30, 30), 0, "the grip", limits);
  ASSERT_TRUE(grip.fit);
  // The grip swung about twice: the "muzzle" lies where the grip is.
  const PivotStep again = CheckPivotStep(rig.Swing(rig.grip, 30, 30), 0, "the muzzle", limits);
  ASSERT_TRUE(again.fit);
  const std::string close = CheckGripToMuzzle(*grip.fit, *again.fit, limits);
  EXPECT_NE(close.find("Keep the tip of the barrel still"), std::string::npos) << close;
  const PivotStep muzzle = CheckPivotStep(rig.Swing(rig.muzzle, 30, 30), 0, "the muzzle", limits);
  ASSERT_TRUE(muzzle.fit);

  const std::string moved = SolveLevelStep(rig.Hold(0, 0.03), 0, *grip.fit, *muzzle.fit, limits).problem;
  EXPECT_NE(moved.find("moved during the hold"), std::string::npos) << moved;
  const std::string raised = SolveLevelStep(rig.Hold(20), 0, *grip.fit, *muzzle.fit, limits).problem;
  EXPECT_NE(raised.find("degrees up; hold it level"), std::string::npos) << raised;
  const std::string lowered = SolveLevelStep(rig.Hold(-20), 0, *grip.fit, *muzzle.fit, limits).problem;
  EXPECT_NE(lowered.find("degrees down"), std::string::npos) << lowered;
  const std::string unseen = SolveLevelStep({}, 100, *grip.fit, *muzzle.fit, limits).problem;
  EXPECT_NE(unseen.find("not tracked for 100%"), std::string::npos) << unseen;
  EXPECT_EQ(SolveLevelStep(rig.Hold(6), 0, *grip.fit, *muzzle.fit, limits).problem, "");
}
