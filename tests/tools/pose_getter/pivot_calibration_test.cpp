// The mount solver against synthetic motions whose mount is known: a pistol
// swung about its grip heel and its muzzle tip, then held level, seen through
// a device mounted on it at random, with tracking noise.
#include <gtest/gtest.h>

#include "tests/tools/pose_getter/mount_rig.h"

namespace {
using namespace mount_rig;

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
