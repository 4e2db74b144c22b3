#include <gtest/gtest.h>

#include "tools/pose_getter/getter_config.h"

TEST(GetterConfig, AnEmptyFileMeansUdpOnTheDefaultPort) {
  std::vector<std::string> problems;
  const GetterConfig c = ParseGetterConfig("", problems);
  EXPECT_EQ(c.source, GetterConfig::Source::Udp);
  EXPECT_EQ(c.port, kDefaultPosePort);
  EXPECT_TRUE(problems.empty());
}

TEST(GetterConfig, KeysCommentsAndBlanksAreRead) {
  std::vector<std::string> problems;
  const GetterConfig c = ParseGetterConfig("# the demo\r\n\n  source=demo   # moving\nport = 5000\n", problems);
  EXPECT_EQ(c.source, GetterConfig::Source::Demo);
  EXPECT_EQ(c.port, 5000);
  EXPECT_TRUE(problems.empty());
}

TEST(GetterConfig, UnusableLinesAreReportedAndKeepTheDefaults) {
  std::vector<std::string> problems;
  const GetterConfig c =
      ParseGetterConfig("source = camera\nport = 70000\nport = 12ab\nport = 0\ncolour = red\njust words", problems);
  EXPECT_EQ(c.source, GetterConfig::Source::Udp);
  EXPECT_EQ(c.port, kDefaultPosePort);
  ASSERT_EQ(problems.size(), 6u);
  EXPECT_EQ(problems[0].rfind("line 1: ", 0), 0u);
  EXPECT_EQ(problems[5].rfind("line 6: ", 0), 0u);
}

TEST(GetterConfig, FollowTheMountAndThePortOfEachSource) {
  std::vector<std::string> problems;
  const GetterConfig c = ParseGetterConfig(
      "source = openvr\nfollow = TRK-1234ABCD\noffset_position = 0 -0.05\t-0.1\noffset_rotation = 0 -90 0\n", problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(c.source, GetterConfig::Source::OpenVr);
  EXPECT_EQ(c.follow, GetterConfig::Follow::Serial);
  EXPECT_EQ(c.followSerial, "TRK-1234ABCD");
  EXPECT_EQ(c.offset.position[1], -0.05);
  EXPECT_EQ(c.offset.position[2], -0.1);
  EXPECT_EQ(c.offset.rotation.pitch, -90);

  EXPECT_EQ(ParseGetterConfig("follow = left_hand", problems).follow, GetterConfig::Follow::LeftHand);
  EXPECT_EQ(ParseGetterConfig("follow = right_hand", problems).follow, GetterConfig::Follow::RightHand);
  EXPECT_EQ(ParseGetterConfig("", problems).follow, GetterConfig::Follow::Tracker);
  // opentrack's own default port, unless one is given, before or after the source.
  EXPECT_EQ(ParseGetterConfig("source = opentrack", problems).port, 4242);
  EXPECT_EQ(ParseGetterConfig("port = 5000\nsource = opentrack", problems).port, 5000);
  EXPECT_EQ(ParseGetterConfig("source = udp", problems).port, kDefaultPosePort);
  EXPECT_TRUE(problems.empty());
}

TEST(GetterConfig, BadFollowAndOffsetsAreReportedAndIgnored) {
  std::vector<std::string> problems;
  const GetterConfig c =
      ParseGetterConfig("follow = aaa_vantorelle_k5_controller\nfollow =\noffset_position = 1 2\n"
                        "offset_position = 1 2 3 4\noffset_position = 1,2,3\noffset_rotation = nan 0 0\n"
                        "offset_rotation = 1e999 0 0\noffset_position = 1 2 3x\n",
                        problems);
  EXPECT_EQ(problems.size(), 8u);
  EXPECT_EQ(c.follow, GetterConfig::Follow::Tracker);
  for (double v : c.offset.position) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(c.offset.rotation.yaw, 0.0);
}
