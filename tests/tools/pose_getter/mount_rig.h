#pragma once

// A pistol with a device mounted on it at random, and the motions a user
// makes with it for the calibration, seen through tracking with noise.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "tools/pose_getter/pivot_calibration.h"

namespace mount_rig {
constexpr double kRadians = std::numbers::pi / 180;

inline Rotation Mul(const Rotation &a, const Rotation &b) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}
inline Rotation Transposed(const Rotation &a) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[j][i];
  return r;
}
inline void Apply(const Rotation &r, const double (&v)[3], double (&out)[3]) {
  for (int i = 0; i < 3; ++i) out[i] = r.m[i][0] * v[0] + r.m[i][1] * v[1] + r.m[i][2] * v[2];
}
inline double AngleBetween(const Rotation &a, const Rotation &b) {
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

} // namespace mount_rig
