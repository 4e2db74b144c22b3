#include "tools/pose_getter/calibrate_session.h"

#include <cmath>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

DevicePose PoseOf(const PoseRecord &r) {
  return {RotationOfRecord(r), {r.m[0][3], r.m[1][3], r.m[2][3]}};
}

bool Tracked(const PoseRecord &r) {
  return r.poseIsValid && r.deviceIsConnected;
}

struct Recording {
  std::vector<DevicePose> poses;
  std::size_t untracked = 0;
  bool lost = false; // ended early, the device untracked for too long
};

class Session {
public:
  Session(DeviceFeed &feed, std::FILE *in, std::FILE *out, const CalibrateSettings &settings)
      : feed_(feed), in_(in), out_(out), s_(settings), next_(Clock::now()) {}

  std::optional<CalibrationOutcome> Run() {
    if (!WaitForFirstPose()) return std::nullopt;
    Say("Three steps follow: the grip, the muzzle, and a level hold. Each waits for Enter and starts after a "
        "countdown; it ends by itself once it has enough.\n");

    const std::optional<PivotFit> grip =
        SwingStep("\nStep 1 of 3, the grip: rest the heel of the grip on a table (or hold it still in one place) and "
                  "swing the pistol around it, up and down and from side to side, about 30 degrees each way.\n",
                  "the heel of the grip", nullptr);
    if (!grip) return std::nullopt;
    const std::optional<PivotFit> muzzle =
        SwingStep("\nStep 2 of 3, the muzzle: put the tip of the barrel against a wall or a table, keep it there, "
                  "and swing the pistol around it, up and down and from side to side.\n",
                  "the muzzle tip", &*grip);
    if (!muzzle) return std::nullopt;
    const char *levelPrompt = "\nStep 3 of 3, level: hold the pistol still, upright, with the barrel horizontal, "
                              "as if aiming at something at eye height.\n";
    for (;;) {
      if (!Begin(levelPrompt)) return std::nullopt;
      const Recording hold = RecordHold();
      LevelStep step = hold.lost ? LevelStep{{}, 0, LostTrackingProblem(s_.lostLimitSeconds)}
                                 : SolveLevelStep(hold.poses, hold.untracked, *grip, *muzzle, s_.limits);
      if (step.problem.empty()) {
        return CalibrationOutcome{step.mount, grip->residualMetres, muzzle->residualMetres,
                                  PointsApartMetres(*grip, *muzzle), step.barrelTiltDegrees};
      }
      Reject(step.problem);
    }
  }

private:
  void Say(const char *text) {
    std::fputs(text, out_);
    std::fflush(out_);
  }

  PoseRecord Tick() {
    std::this_thread::sleep_until(next_);
    next_ = std::max(next_ + s_.samplePeriod, Clock::now());
    return feed_.Sample();
  }

  bool WaitForFirstPose() {
    const Clock::time_point start = Clock::now();
    std::string said;
    while (!Tracked(Tick())) {
      if (feed_.Problem() != said) {
        said = feed_.Problem();
        std::fprintf(out_, "Waiting for the device: %s\n", said.c_str());
        std::fflush(out_);
      }
      if (Since(start) >= s_.firstPoseWaitSeconds) {
        std::fprintf(out_,
                     "No pose from the device in %.0f s. Start the host (or opentrack) with the device switched on, "
                     "check with pose_getter --probe, then run --calibrate again. Nothing was changed.\n",
                     s_.firstPoseWaitSeconds);
        return false;
      }
    }
    return true;
  }

  // The prompt, the wait for a line, the countdown; false when input ends.
  bool Begin(const char *prompt) {
    Say(prompt);
    Say("Press Enter when ready.\n");
    char line[256];
    if (!std::fgets(line, sizeof line, in_)) {
      Say("\nNo more input: calibration stopped, nothing was changed.\n");
      return false;
    }
    const Clock::time_point start = Clock::now();
    int shown = -1;
    // Sampled meanwhile, so the feed stays current (opentrack's datagrams drained).
    while (Since(start) < s_.countdownSeconds) {
      const int left = static_cast<int>(std::ceil(s_.countdownSeconds - Since(start)));
      if (left != shown && left > 0) std::fprintf(out_, "%d... ", shown = left), std::fflush(out_);
      Tick();
    }
    Say("go\n");
    return true;
  }

  void Reject(const std::string &problem) { std::fprintf(out_, "Not accepted. %s\n", problem.c_str()); }

  void Progress(double share, const char *detail) {
    std::fprintf(out_, "\r  %3.0f%%  %s    ", std::floor(share * 100), detail);
    std::fflush(out_);
  }

  // Samples until the untracked run reaches its limit or `enough` says so.
  template <typename Enough> Recording Record(Enough enough) {
    Recording r;
    const Clock::time_point start = Clock::now();
    Clock::time_point lostSince{}, nextReport = start;
    bool lostNow = false;
    for (;;) {
      const PoseRecord sample = Tick();
      const Clock::time_point now = Clock::now();
      if (Tracked(sample)) {
        r.poses.push_back(PoseOf(sample));
        lostNow = false;
      } else {
        ++r.untracked;
        if (!lostNow) lostSince = now, lostNow = true;
        if (std::chrono::duration<double>(now - lostSince).count() >= s_.lostLimitSeconds) {
          r.lost = true;
          break;
        }
      }
      const bool report = now >= nextReport;
      if (report) nextReport = now + std::chrono::milliseconds(250);
      if (enough(r, Since(start), report)) break;
    }
    Say("\n");
    return r;
  }

  Recording RecordSwing() {
    return Record([&](const Recording &r, double seconds, bool report) {
      if (!report && seconds < s_.swingLimitSeconds) return false;
      const SwingCoverage swing = MeasureSwing(r.poses);
      if (report) {
        char detail[128];
        std::snprintf(detail, sizeof detail, "of the swing: %.0f and %.0f of %.0f degrees", swing.widest, swing.second,
                      s_.limits.minSwingDegrees);
        Progress(SwingProgress(swing, s_.limits), detail);
      }
      return seconds >= s_.swingLimitSeconds ||
             (seconds >= s_.minSwingSeconds && swing.second >= s_.limits.minSwingDegrees);
    });
  }

  Recording RecordHold() {
    return Record([&](const Recording &, double seconds, bool report) {
      if (report) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "held %.1f of %.1f s", seconds, s_.holdSeconds);
        Progress(std::min(1.0, seconds / s_.holdSeconds), detail);
      }
      return seconds >= s_.holdSeconds;
    });
  }

  // Asked until it passes; nothing when the input ends. The muzzle step
  // is checked against the grip found before it.
  std::optional<PivotFit> SwingStep(const char *prompt, const char *point, const PivotFit *grip) {
    for (;;) {
      if (!Begin(prompt)) return std::nullopt;
      const Recording r = RecordSwing();
      PivotStep step;
      if (r.lost)
        step.problem = LostTrackingProblem(s_.lostLimitSeconds);
      else
        step = CheckPivotStep(r.poses, r.untracked, point, s_.limits);
      if (step.problem.empty() && grip) step.problem = CheckGripToMuzzle(*grip, *step.fit, s_.limits);
      if (step.problem.empty()) return step.fit;
      Reject(step.problem);
    }
  }

  DeviceFeed &feed_;
  std::FILE *in_;
  std::FILE *out_;
  const CalibrateSettings &s_;
  Clock::time_point next_;
};
} // namespace

std::optional<CalibrationOutcome> RunCalibration(DeviceFeed &feed, std::FILE *in, std::FILE *out,
                                                 const CalibrateSettings &settings) {
  return Session(feed, in, out, settings).Run();
}
