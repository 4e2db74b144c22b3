#pragma once

#include "pose/pose_exchange.h"

// Rotations in the host's tracking space: right-handed, +X right, +Y up, +Z
// towards the user (forward is -Z). Angles are applied as yaw about +Y, then
// pitch about the turned +X, then roll about the twice-turned +Z:
// R = Ry(yaw) * Rx(pitch) * Rz(roll). Positive yaw turns forward towards -X
// (left), positive pitch raises forward towards +Y, positive roll raises the
// right side (+X turns towards +Y).
struct Rotation {
  double m[3][3];
};

struct YawPitchRoll {
  double yaw, pitch, roll; // degrees
};

Rotation RotationFromYawPitchRoll(const YawPitchRoll &angles);
// The inverse of RotationFromYawPitchRoll, pitch within [-90, 90].
YawPitchRoll YawPitchRollFromRotation(const Rotation &r);
Rotation RotationOfRecord(const PoseRecord &record);

// The rigid mount from the followed device to the pistol, in the followed
// device's own frame: the pistol's origin sits at `position` (metres) and its
// axes are the device's turned by `rotation`.
struct MountOffset {
  double position[3] = {0, 0, 0};
  YawPitchRoll rotation{0, 0, 0};
};

// The pistol's record for the followed device's record: pose, velocities
// (the offset point moves with v + w x r, r the lever arm in tracking space)
// and the flags unchanged.
PoseRecord ApplyMount(const PoseRecord &followed, const Rotation &mountRotation, const double (&mountPosition)[3]);
PoseRecord ApplyMount(const PoseRecord &followed, const MountOffset &mount);

// The module passes no record to the host unchanged: it turns the record's
// axes 30 degrees about their own X (forward towards their own -Y) and moves
// the origin 0.25 m along the record's own +Z, then copies both velocities as
// they are, and the host reads the angular velocity in the pose's own frame.
// For a pistol pose in tracking space (velocity of its origin and angular
// velocity both in tracking space) this is the record that the module turns
// into exactly that pose: the pistol composed with the inverse of that step,
// and the angular velocity carried into the pistol's frame. Flags unchanged.
PoseRecord RecordForHost(const PoseRecord &pistol);
