#include <cmath>

#include <gtest/gtest.h>

#include "tools/pose_getter/demo_motion.h"

TEST(DemoMotion, PosesAreValidRotationsAndTheVelocityMatchesTheMotion) {
  for (double t = 0.0; t < 12.0; t += 0.37) {
    const PoseRecord r = DemoPose(t);
    SCOPED_TRACE(t);
    EXPECT_EQ(r.poseIsValid, 1);
    EXPECT_EQ(r.deviceIsConnected, 1);
    EXPECT_EQ(r.result, vr::TrackingResult_Running_OK);
    // Orthonormal rotation part.
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        double dot = 0;
        for (int k = 0; k < 3; ++k) dot += double(r.m[k][a]) * double(r.m[k][b]);
        EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-6);
      }
    // The reported velocity is the motion's own.
    const double dt = 1e-3;
    const PoseRecord next = DemoPose(t + dt);
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR((double(next.m[i][3]) - double(r.m[i][3])) / dt, double(r.velocity[i]), 2e-3);
  }
}
