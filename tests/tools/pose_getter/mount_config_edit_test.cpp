// Writing a measured mount into pose_getter.cfg: the offset lines change,
// every other line stays byte for byte, and the note is there for the doctor.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/common/temp_folder.h"
#include "tools/pose_getter/getter_config.h"
#include "tools/pose_getter/mount_config_edit.h"

namespace {
const MountOffset kMount{{0.0123, -0.04, 0.06}, {180, -2.5, 179.99}};

std::string ReadAll(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
} // namespace

TEST(MountConfigEdit, OnlyTheOffsetLinesInEffectAndTheNoteChange) {
  const std::string before = "# my pistol\r\n"
                             "source = openvr   # the tracker on the rail\r\n"
                             "offset_position = 1 2 3\r\n"
                             "follow = LHR-1234\r\n"
                             "\r\n"
                             "  offset_rotation=0 0 0 # by hand\r\n"
                             "offset_rotation = 5 5 5\r\n"
                             "# end";
  const std::string after = WithCalibratedMount(before, kMount, "2026-12-09 19:40 UTC, grip fit 0.4 mm");
  EXPECT_EQ(after, "# my pistol\r\n"
                   "source = openvr   # the tracker on the rail\r\n"
                   "# mount calibrated by pose_getter --calibrate: 2026-12-09 19:40 UTC, grip fit 0.4 mm\r\n"
                   "offset_position = 0.0123 -0.0400 0.0600\r\n"
                   "follow = LHR-1234\r\n"
                   "\r\n"
                   "  offset_rotation=0 0 0 # by hand\r\n"
                   "offset_rotation = 180.00 -2.50 179.99\r\n"
                   "# end");
  std::vector<std::string> problems;
  const GetterConfig parsed = ParseGetterConfig(after, problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(parsed.offset.position[2], 0.06);
  EXPECT_EQ(parsed.offset.rotation.pitch, -2.5);
  EXPECT_EQ(parsed.followSerial, "LHR-1234");

  // Calibrating again replaces the note and keeps a comment after a value.
  const std::string twice = WithCalibratedMount("\xEF\xBB\xBFoffset_rotation = 1 1 1 # measured\n"
                                                "source = opentrack",
                                                kMount, "later");
  EXPECT_EQ(twice, "\xEF\xBB\xBF# mount calibrated by pose_getter --calibrate: later\n"
                   "offset_rotation = 180.00 -2.50 179.99  # measured\n"
                   "source = opentrack\n"
                   "offset_position = 0.0123 -0.0400 0.0600\n");
  EXPECT_EQ(WithCalibratedMount(twice, kMount, "latest"),
            "\xEF\xBB\xBF# mount calibrated by pose_getter --calibrate: latest\n" +
                twice.substr(twice.find("offset_rotation")));
  EXPECT_EQ(CalibrationNote(twice), "later");
  EXPECT_EQ(CalibrationNote("source = openvr\n"), std::nullopt);
}

TEST(MountConfigEdit, AFileWithoutOffsetsGetsThemAtItsEnd) {
  EXPECT_EQ(WithCalibratedMount("source = openvr", kMount, "now"),
            "source = openvr\n# mount calibrated by pose_getter --calibrate: now\n"
            "offset_position = 0.0123 -0.0400 0.0600\noffset_rotation = 180.00 -2.50 179.99\n");
}

TEST(MountConfigEdit, TheFileIsReplacedAndTheOldOneKept) {
  TempFolder dir("vk5-mount-edit");
  const std::filesystem::path config = dir.path() / "pose_getter.cfg";
  const std::string old = "source = openvr\n# keep me\n";
  std::ofstream(config, std::ios::binary) << old;
  EXPECT_EQ(WriteCalibratedMount(config, kMount, "now"), "");
  EXPECT_EQ(ReadAll(ConfigBackupPath(config)), old);
  EXPECT_EQ(ReadAll(config), WithCalibratedMount(old, kMount, "now"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "pose_getter.cfg.vk5-new"));
  EXPECT_NE(WriteCalibratedMount(dir.path() / "missing.cfg", kMount, "now"), "");
}
