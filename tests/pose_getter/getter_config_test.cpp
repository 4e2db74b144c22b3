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
