// The helper's log file: bounded however long it runs, and what it says when
// its port is taken.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/common/temp_folder.h"
#include "tools/pose_getter/getter_log.h"
#include "tools/pose_getter/getter_platform.h"
#include "tools/pose_getter/pose_sources.h"

namespace fs = std::filesystem;

namespace {
std::string Text(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The log file is process-wide: each test closes it again.
struct LogInFolder {
  TempFolder dir{"vk5-getter-log"};
  fs::path file = dir.path() / kGetterLogFileName;
  ~LogInFolder() { CloseGetterLog(); }
};
} // namespace

TEST(GetterLog, StaysWithinItsBoundAndKeepsTheNewestLines) {
  LogInFolder log;
  constexpr std::uintmax_t kLimit = 4096;
  OpenGetterLog(log.file, kLimit);
  for (int i = 0; i < 1000; ++i) GetterLog("state change number %d", i);
  EXPECT_LE(fs::file_size(log.file), kLimit);
  fs::path older = log.file;
  older += ".1";
  EXPECT_LE(fs::file_size(older), kLimit);
  const auto lines = LastLogLines(log.file, 3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find("state change number 999"), std::string::npos) << lines[2];
  EXPECT_NE(lines[0].find("state change number 997"), std::string::npos) << lines[0];
  // "YYYY-MM-DD HH:MM:SS " before each message.
  EXPECT_EQ(lines[2][4], '-');
  EXPECT_EQ(lines[2][19], ' ');

  // A helper started again appends, and still within the bound.
  CloseGetterLog();
  OpenGetterLog(log.file, kLimit);
  for (int i = 0; i < 100; ++i) GetterLog("second run %d", i);
  EXPECT_LE(fs::file_size(log.file), kLimit);
  EXPECT_NE(LastLogLines(log.file, 1).at(0).find("second run 99"), std::string::npos);
}

TEST(GetterLog, LinesFromTheOlderFileFillUpAShortNewOne) {
  LogInFolder log;
  std::ofstream(fs::path(log.file.string() + ".1")) << "a\nb\n";
  std::ofstream(log.file) << "c\n";
  EXPECT_EQ(LastLogLines(log.file, 2), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(LastLogLines(log.dir.path() / "none.log", 5).empty());
}

TEST(GetterLog, APortThatCannotBeBoundIsReportedWithThePort) {
  LogInFolder log;
  OpenGetterLog(log.file);
  // Another program holds the port.
  std::string why;
  UdpSocket holder = kNoSocket;
  uint16_t port = 47000;
  while (holder == kNoSocket && port < 47100) holder = OpenUdpReceiver(++port, why);
  ASSERT_NE(holder, kNoSocket);

  struct OnePass final : PoseSink {
    int passes = 0;
    void Write(const PoseRecord &) override {}
    bool KeepRunning() override { return ++passes == 1; }
  } sink;
  GetterConfig config;
  config.source = GetterConfig::Source::Opentrack;
  config.port = port;
  RunUdp(config, sink);
  CloseUdpReceiver(holder);

  const std::string text = Text(log.file);
  EXPECT_NE(text.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << text;
  EXPECT_EQ(text.find("listening on"), std::string::npos) << text;
}
