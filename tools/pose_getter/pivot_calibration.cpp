#include "tools/pose_getter/pivot_calibration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {
constexpr double kDegrees = 180.0 / std::numbers::pi;
using Vec = std::array<double, 3>;

Vec Times(const Rotation &r, const Vec &v) {
  Vec out{};
  for (int i = 0; i < 3; ++i) out[i] = r.m[i][0] * v[0] + r.m[i][1] * v[1] + r.m[i][2] * v[2];
  return out;
}
Vec TransposeTimes(const Rotation &r, const Vec &v) {
  Vec out{};
  for (int i = 0; i < 3; ++i) out[i] = r.m[0][i] * v[0] + r.m[1][i] * v[1] + r.m[2][i] * v[2];
  return out;
}
double Dot(const Vec &a, const Vec &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec Cross(const Vec &a, const Vec &b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Norm(const Vec &a) {
  return std::sqrt(Dot(a, a));
}
Vec Scaled(const Vec &a, double s) {
  return {a[0] * s, a[1] * s, a[2] * s};
}
Vec Minus(const Vec &a, const Vec &b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Position(const DevicePose &p) {
  return {p.position[0], p.position[1], p.position[2]};
}

// aᵀ·b: the turn from pose a to pose b, in a's frame.
Rotation Relative(const Rotation &a, const Rotation &b) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[k][i] * b.m[k][j];
  return r;
}

double TurnDegrees(const Rotation &r) {
  const double c = (r.m[0][0] + r.m[1][1] + r.m[2][2] - 1) / 2;
  return std::acos(std::clamp(c, -1.0, 1.0)) * kDegrees;
}

// The rotation vector (axis times angle, degrees) of a turn.
Vec RotationVector(const Rotation &r) {
  const double angle = TurnDegrees(r);
  const Vec skew{r.m[2][1] - r.m[1][2], r.m[0][2] - r.m[2][0], r.m[1][0] - r.m[0][1]};
  const double n = Norm(skew);
  if (n < 1e-12) return {0, 0, 0};
  return Scaled(skew, angle / n);
}

// Eigenvectors of a symmetric 3x3 matrix, by Jacobi rotations; columns of `v`.
void SymmetricEigenvectors(double (&a)[3][3], double (&v)[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v[i][j] = i == j ? 1 : 0;
  for (int sweep = 0; sweep < 50; ++sweep) {
    const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    if (off < 1e-18) return;
    for (int p = 0; p < 2; ++p)
      for (int q = p + 1; q < 3; ++q) {
        if (std::abs(a[p][q]) < 1e-30) continue;
        const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
        const double t = (theta >= 0 ? 1 : -1) / (std::abs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < 3; ++k) {
          const double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 3; ++k) {
          const double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (int k = 0; k < 3; ++k) {
          const double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
  }
}

// Solves a·x = b in place by elimination with partial pivoting; false when
// a is (nearly) singular.
template <int N> bool Solve(double (&a)[N][N], double (&b)[N], double (&x)[N]) {
  double scale = 0;
  for (auto &row : a)
    for (double v : row) scale = std::max(scale, std::abs(v));
  for (int col = 0; col < N; ++col) {
    int best = col;
    for (int r = col + 1; r < N; ++r)
      if (std::abs(a[r][col]) > std::abs(a[best][col])) best = r;
    if (std::abs(a[best][col]) <= 1e-9 * scale) return false;
    std::swap(a[col], a[best]);
    std::swap(b[col], b[best]);
    for (int r = col + 1; r < N; ++r) {
      const double f = a[r][col] / a[col][col];
      for (int c = col; c < N; ++c) a[r][c] -= f * a[col][c];
      b[r] -= f * b[col];
    }
  }
  for (int r = N - 1; r >= 0; --r) {
    double s = b[r];
    for (int c = r + 1; c < N; ++c) s -= a[r][c] * x[c];
    x[r] = s / a[r][r];
  }
  return true;
}

std::string Format(const char *format, double a, double b = 0) {
  char text[512];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}
} // namespace

SwingCoverage MeasureSwing(const std::vector<DevicePose> &poses) {
  if (poses.size() < 2) return {};
  std::vector<Vec> turns;
  turns.reserve(poses.size());
  Vec mean{0, 0, 0};
  for (const DevicePose &p : poses) {
    turns.push_back(RotationVector(Relative(poses.front().rotation, p.rotation)));
    for (int i = 0; i < 3; ++i) mean[i] += turns.back()[i] / static_cast<double>(poses.size());
  }
  double covariance[3][3] = {};
  for (const Vec &t : turns)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) covariance[i][j] += (t[i] - mean[i]) * (t[j] - mean[j]);
  double axes[3][3];
  SymmetricEigenvectors(covariance, axes);
  double extent[3];
  for (int k = 0; k < 3; ++k) {
    const Vec axis{axes[0][k], axes[1][k], axes[2][k]};
    double low = 0, high = 0;
    for (const Vec &t : turns) {
      const double along = Dot(t, axis);
      low = std::min(low, along);
      high = std::max(high, along);
    }
    extent[k] = high - low;
  }
  std::sort(std::begin(extent), std::end(extent), std::greater<>());
  return {extent[0], extent[1]};
}

double SwingProgress(const SwingCoverage &coverage, const CalibrationLimits &limits) {
  const auto part = [&](double degrees) { return std::min(1.0, degrees / limits.minSwingDegrees); };
  return (part(coverage.widest) + part(coverage.second)) / 2;
}

std::optional<PivotFit> FitPivot(const std::vector<DevicePose> &poses) {
  if (poses.size() < 6) return std::nullopt;
  // Each pose says R·p + t = q (p in the device's frame, q in tracking
  // space): rows [R, -I]·(p, q) = -t. Positions are taken about their mean so
  // the normal equations stay well scaled far from the origin.
  Vec centre{0, 0, 0};
  for (const DevicePose &p : poses)
    for (int i = 0; i < 3; ++i) centre[i] += p.position[i] / static_cast<double>(poses.size());
  double normal[6][6] = {}, rhs[6] = {};
  for (const DevicePose &pose : poses) {
    const Vec t = Minus(Position(pose), centre);
    const Rotation &r = pose.rotation;
    for (int i = 0; i < 3; ++i) {
      normal[i][i] += 1;
      normal[3 + i][3 + i] += 1;
      for (int j = 0; j < 3; ++j) {
        normal[i][3 + j] -= r.m[j][i];
        normal[3 + j][i] -= r.m[j][i];
      }
    }
    const Vec rt = TransposeTimes(r, t);
    for (int i = 0; i < 3; ++i) {
      rhs[i] -= rt[i];
      rhs[3 + i] += t[i];
    }
  }
  double x[6];
  if (!Solve(normal, rhs, x)) return std::nullopt;
  PivotFit fit{};
  double squares = 0;
  const Vec p{x[0], x[1], x[2]}, q{x[3], x[4], x[5]};
  for (const DevicePose &pose : poses) {
    const Vec t = Minus(Position(pose), centre);
    const Vec miss = Minus(Times(pose.rotation, p), Minus(q, t));
    squares += Dot(miss, miss);
  }
  for (int i = 0; i < 3; ++i) {
    fit.devicePoint[i] = p[i];
    fit.worldPoint[i] = q[i] + centre[i];
  }
  fit.residualMetres = std::sqrt(squares / static_cast<double>(poses.size()));
  return fit;
}

namespace {
const char *kKeepInView = " Keep it in view of the tracking (base stations or camera), with nothing in between, and "
                          "try again.";
} // namespace

std::string CheckTracked(std::size_t trackedSamples, std::size_t untrackedSamples, const CalibrationLimits &limits) {
  const double all = static_cast<double>(trackedSamples + untrackedSamples);
  if (trackedSamples > 0 && static_cast<double>(untrackedSamples) <= limits.maxUntrackedShare * all) return {};
  return Format("The device was not tracked for %.0f%% of the step.",
                all > 0 ? 100 * static_cast<double>(untrackedSamples) / all : 100) +
         kKeepInView;
}

std::string LostTrackingProblem(double seconds) {
  return Format("The device was not tracked for %.1f s in a row.", seconds) + kKeepInView;
}

PivotStep CheckPivotStep(const std::vector<DevicePose> &poses, std::size_t untrackedSamples, const char *point,
                         const CalibrationLimits &limits) {
  PivotStep step;
  step.problem = CheckTracked(poses.size(), untrackedSamples, limits);
  if (!step.problem.empty()) return step;
  const SwingCoverage swing = MeasureSwing(poses);
  if (swing.second < limits.minSwingDegrees) {
    step.problem =
        Format("Too little rotation: the pistol turned %.0f degrees one way and %.0f the other; each needs ",
               swing.widest, swing.second) +
        Format("%.0f. Swing it further, both up and down and from side to side, keeping ", limits.minSwingDegrees) +
        point + " in one place.";
    return step;
  }
  step.fit = FitPivot(poses);
  if (!step.fit) {
    step.problem = std::string("The swing did not fix one point. Swing the pistol about ") + point +
                   " both up and down and from side to side.";
    return step;
  }
  if (step.fit->residualMetres > limits.maxResidualMetres)
    step.problem = Format("The point kept still moved: the fit misses by %.1f mm (at most %.1f mm). ",
                          step.fit->residualMetres * 1000, limits.maxResidualMetres * 1000) +
                   "Rest " + point + " firmly against something that does not move and swing more slowly.";
  return step;
}

double PointsApartMetres(const PivotFit &a, const PivotFit &b) {
  return Norm(Minus({a.devicePoint[0], a.devicePoint[1], a.devicePoint[2]},
                    {b.devicePoint[0], b.devicePoint[1], b.devicePoint[2]}));
}

std::string CheckGripToMuzzle(const PivotFit &grip, const PivotFit &muzzle, const CalibrationLimits &limits) {
  const double distance = PointsApartMetres(grip, muzzle);
  if (distance >= limits.minGripToMuzzleMetres) return {};
  return Format("The muzzle tip came out only %.1f cm from the grip point (at least %.0f cm expected). Keep the tip of "
                "the barrel still this time, not the grip.",
                distance * 100, limits.minGripToMuzzleMetres * 100);
}

LevelStep SolveLevelStep(const std::vector<DevicePose> &hold, std::size_t untrackedSamples, const PivotFit &grip,
                         const PivotFit &muzzle, const CalibrationLimits &limits) {
  LevelStep step;
  step.problem = CheckTracked(hold.size(), untrackedSamples, limits);
  if (!step.problem.empty()) return step;
  double drift = 0, turn = 0;
  Vec up{0, 0, 0};
  for (const DevicePose &p : hold) {
    drift = std::max(drift, Norm(Minus(Position(p), Position(hold.front()))));
    turn = std::max(turn, TurnDegrees(Relative(hold.front().rotation, p.rotation)));
    const Vec u = TransposeTimes(p.rotation, {0, 1, 0});
    for (int i = 0; i < 3; ++i) up[i] += u[i];
  }
  if (drift > limits.maxHoldDriftMetres || turn > limits.maxHoldTurnDegrees) {
    step.problem = Format("The pistol moved during the hold (%.0f mm, %.1f degrees). Rest your forearms or the "
                          "pistol on something and keep it still until the count ends.",
                          drift * 1000, turn);
    return step;
  }
  up = Scaled(up, 1 / Norm(up));
  const Vec barrel{muzzle.devicePoint[0] - grip.devicePoint[0], muzzle.devicePoint[1] - grip.devicePoint[1],
                   muzzle.devicePoint[2] - grip.devicePoint[2]};
  const double length = Norm(barrel);
  step.barrelTiltDegrees = std::asin(std::clamp(Dot(barrel, up) / length, -1.0, 1.0)) * kDegrees;
  if (std::abs(step.barrelTiltDegrees) > limits.maxBarrelTiltDegrees) {
    step.problem = Format("The barrel pointed %.0f degrees ", std::abs(step.barrelTiltDegrees)) +
                   (step.barrelTiltDegrees > 0 ? "up" : "down") +
                   Format("; hold it level (within %.0f degrees), as if aiming at something at eye height.",
                          limits.maxBarrelTiltDegrees);
    return step;
  }
  // Forward is the barrel's horizontal part; the pistol's axes as columns
  // of the mount rotation, in the device's frame.
  Vec forward = Minus(barrel, Scaled(up, Dot(barrel, up)));
  forward = Scaled(forward, 1 / Norm(forward));
  const Vec back = Scaled(forward, -1);
  const Vec right = Cross(up, back);
  Rotation mount{};
  for (int i = 0; i < 3; ++i) {
    mount.m[i][0] = right[i];
    mount.m[i][1] = up[i];
    mount.m[i][2] = back[i];
    step.mount.position[i] = grip.devicePoint[i];
  }
  step.mount.rotation = YawPitchRollFromRotation(mount);
  return step;
}
