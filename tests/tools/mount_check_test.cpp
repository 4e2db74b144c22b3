// The doctor says whether the mount was calibrated, when and how well.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/common/temp_folder.h"
#include "tools/doctor/install_check.h"
#include "tools/pose_getter/mount_config_edit.h"

TEST(MountCheck, ShowsTheCalibrationNoteOrSaysThereIsNone) {
  TempFolder dir("vk5-mount-check");
  const std::filesystem::path config = dir.path() / "pose_getter.cfg";
  std::ofstream(config) << "source = openvr\noffset_position = 0 -0.04 0.06\n";
  doctor::Check check = doctor::CheckMountCalibration(config);
  EXPECT_TRUE(check.ok);
  EXPECT_NE(check.detail.find("not calibrated"), std::string::npos) << check.detail;

  ASSERT_EQ(WriteCalibratedMount(config, MountOffset{}, "2026-12-09 19:40 UTC, grip fit 0.4 mm, muzzle fit 0.6 mm"),
            "");
  check = doctor::CheckMountCalibration(config);
  EXPECT_EQ(check.what, "mount");
  EXPECT_EQ(check.detail, "calibrated 2026-12-09 19:40 UTC, grip fit 0.4 mm, muzzle fit 0.6 mm");
}
