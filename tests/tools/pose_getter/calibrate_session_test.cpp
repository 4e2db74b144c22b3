// The calibration's conversation with a user who gets steps wrong: each
// rejected step says why and is asked again after the next Enter, and the
// mount comes out right once the steps are done right.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tools/pose_getter/mount_rig.h"
#include "tools/pose_getter/calibrate_session.h"

namespace {
using namespace mount_rig;

// Plays, for each line read from the input so far, the motion the test
// gives for that attempt, over and over.
class ScriptedFeed final : public DeviceFeed {
public:
  ScriptedFeed(std::FILE *in, std::vector<std::vector<DevicePose>> attempts)
      : in_(in), attempts_(std::move(attempts)) {}
  PoseRecord Sample() override {
    const auto attempt = static_cast<std::size_t>(std::ftell(in_));
    if (attempt != attempt_) attempt_ = attempt, next_ = 0;
    PoseRecord r{};
    if (attempt >= attempts_.size() || attempts_[attempt].empty()) return r;
    const DevicePose &p = attempts_[attempt][next_++ % attempts_[attempt].size()];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) r.m[i][j] = static_cast<float>(p.rotation.m[i][j]);
      r.m[i][3] = static_cast<float>(p.position[i]);
    }
    r.poseIsValid = r.deviceIsConnected = 1;
    return r;
  }
  std::string Problem() const override { return "switched off"; }

private:
  std::FILE *in_;
  std::vector<std::vector<DevicePose>> attempts_;
  std::size_t attempt_ = 0, next_ = 0;
};

CalibrateSettings Quick() {
  CalibrateSettings s;
  s.countdownSeconds = 0;
  s.samplePeriod = std::chrono::milliseconds(1);
  s.minSwingSeconds = 0.1;
  // Long enough for a loaded machine to play a whole swing.
  s.swingLimitSeconds = 2;
  s.holdSeconds = 0.05;
  s.firstPoseWaitSeconds = 0.2;
  return s;
}

struct Streams {
  explicit Streams(const char *lines) : in(std::tmpfile()), out(std::tmpfile()) {
    std::fputs(lines, in);
    std::rewind(in);
  }
  ~Streams() {
    std::fclose(in);
    std::fclose(out);
  }
  std::string Said() const {
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    return text;
  }
  std::FILE *in, *out;
};

std::size_t Count(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
} // namespace

TEST(CalibrateSession, WrongStepsAreExplainedAndAskedAgainUntilTheMountComesOut) {
  Rig rig = Rig::Random(5);
  Streams io("\n\n\n\n\n\n\n");
  ScriptedFeed feed(io.in, {rig.Hold(), rig.Swing(rig.grip, 0, 35), // sideways only
                            rig.Swing(rig.grip, 30, 30),            // the grip
                            rig.Swing(rig.grip, 30, 30),            // the grip again, not the muzzle
                            rig.Swing(rig.muzzle, 30, 30),          // the muzzle
                            rig.Hold(25),                           // barrel raised
                            rig.Hold()});
  const std::optional<CalibrationOutcome> outcome = RunCalibration(feed, io.in, io.out, Quick());
  const std::string said = io.Said();
  ASSERT_TRUE(outcome) << said;
  EXPECT_EQ(Count(said, "Step 1 of 3, the grip"), 2u) << said;
  EXPECT_EQ(Count(said, "Step 2 of 3, the muzzle"), 2u) << said;
  EXPECT_EQ(Count(said, "Step 3 of 3, level"), 2u) << said;
  EXPECT_EQ(Count(said, "Press Enter"), 6u);
  EXPECT_NE(said.find("Too little rotation"), std::string::npos);
  EXPECT_NE(said.find("Keep the tip of the barrel still"), std::string::npos);
  EXPECT_NE(said.find("degrees up; hold it level"), std::string::npos);
  EXPECT_NE(said.find("% "), std::string::npos) << "progress is shown";

  const double off = std::hypot(outcome->mount.position[0] - rig.grip[0], outcome->mount.position[1] - rig.grip[1],
                                outcome->mount.position[2] - rig.grip[2]);
  EXPECT_LT(off, 0.002);
  EXPECT_LT(AngleBetween(RotationFromYawPitchRoll(outcome->mount.rotation), rig.mount), 1.0);
  EXPECT_LT(outcome->gripResidualMetres, 0.003);
}

TEST(CalibrateSession, TheEndOfInputOrADeviceNeverTrackedStopsWithNothingMeasured) {
  Rig rig = Rig::Random(6);
  {
    Streams io("\n");
    ScriptedFeed feed(io.in, {rig.Hold(), rig.Swing(rig.grip, 30, 30)});
    EXPECT_FALSE(RunCalibration(feed, io.in, io.out, Quick()));
    EXPECT_NE(io.Said().find("No more input: calibration stopped, nothing was changed"), std::string::npos);
  }
  {
    Streams io("\n");
    ScriptedFeed feed(io.in, {});
    EXPECT_FALSE(RunCalibration(feed, io.in, io.out, Quick()));
    const std::string said = io.Said();
    EXPECT_NE(said.find("Waiting for the device: switched off"), std::string::npos) << said;
    EXPECT_NE(said.find("No pose from the device"), std::string::npos) << said;
    EXPECT_EQ(said.find("Step 1"), std::string::npos);
  }
}
