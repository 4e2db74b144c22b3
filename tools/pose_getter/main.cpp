// pose_getter: started by the driver beside its module, with no arguments.
// Writes the controller's pose into the shared exchange block until it is
// terminated. The pose source is chosen by pose_getter.cfg beside the program.
// `pose_getter --probe [SECONDS]` runs the configured source without the block
// and prints what it would write. `pose_getter --calibrate` measures the mount
// and writes it into pose_getter.cfg.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pose/pose_exchange.h"
#include "pose/shared_mapping.h"
#include "support/module_path.h"
#include "tools/pose_getter/calibrate_command.h"
#include "tools/pose_getter/getter_config.h"
#include "tools/pose_getter/getter_log.h"
#include "tools/pose_getter/getter_platform.h"
#include "tools/pose_getter/pose_sources.h"
#include "tools/pose_getter/pose_summary.h"
#include "tools/pose_getter/pose_writer.h"
#include "tools/pose_getter/runtime_paths.h"

namespace {
using Clock = std::chrono::steady_clock;

// Beside the program, never the working directory, which is the host's.
GetterConfig LoadConfig(const std::string &path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    GetterLog("%s is missing: every key has its default (source = udp)", path.c_str());
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  if (in) text << in.rdbuf();
  if (!in) {
    GetterLog("%s cannot be read: every key has its default (source = udp)", path.c_str());
    return {};
  }
  std::vector<std::string> problems;
  // Editors on Windows often begin the file with a byte-order mark.
  GetterConfig config = ParseGetterConfig(WithoutByteOrderMark(text.str()), problems);
  for (const std::string &p : problems) GetterLog("%s: cannot parse %s; that line is ignored", path.c_str(), p.c_str());
  return config;
}

class BlockSink final : public PoseSink {
public:
  explicit BlockSink(PoseExchangeBlock &block) : block_(block) {}
  void Write(const PoseRecord &record) override { WritePoseRecord(block_, record); }
  void NoteDropped(uint64_t total) override {
    const Clock::time_point now = Clock::now();
    if (total == reported_ || now - lastReport_ < std::chrono::seconds(60)) return;
    GetterLog("%llu malformed datagrams dropped so far", static_cast<unsigned long long>(total));
    reported_ = total;
    lastReport_ = now;
  }
  bool KeepRunning() override { return StarterAlive(); }

private:
  PoseExchangeBlock &block_;
  uint64_t reported_ = 0;
  Clock::time_point lastReport_{};
};

// Prints, once a second, the latest record and how many were written.
class ProbeSink final : public PoseSink {
public:
  explicit ProbeSink(double seconds)
      : start_(Clock::now()),
        end_(start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))),
        nextReport_(start_ + std::chrono::seconds(1)) {}
  void Write(const PoseRecord &record) override {
    latest_ = record;
    ++written_;
    any_ = true;
  }
  void NoteDropped(uint64_t total) override { dropped_ = total; }
  bool KeepRunning() override {
    const Clock::time_point now = Clock::now();
    if (now >= nextReport_) {
      Report(now);
      nextReport_ += std::chrono::seconds(1);
    }
    return now < end_ && StarterAlive();
  }

private:
  void Report(Clock::time_point now) {
    const double elapsed = std::chrono::duration<double>(now - lastReportAt_).count();
    char line[256];
    if (any_)
      FormatPoseSummary(latest_, line, sizeof line);
    else
      std::snprintf(line, sizeof line, "nothing written yet");
    std::printf("[%5.1f s] %s  %.0f Hz  %llu dropped\n", std::chrono::duration<double>(now - start_).count(), line,
                elapsed > 0 ? static_cast<double>(written_ - writtenAtReport_) / elapsed : 0.0,
                static_cast<unsigned long long>(dropped_));
    std::fflush(stdout);
    writtenAtReport_ = written_;
    lastReportAt_ = now;
  }

  Clock::time_point start_, end_, nextReport_;
  Clock::time_point lastReportAt_ = start_;
  PoseRecord latest_{};
  bool any_ = false;
  uint64_t written_ = 0, writtenAtReport_ = 0, dropped_ = 0;
};

const char *SourceName(GetterConfig::Source source) {
  switch (source) {
  case GetterConfig::Source::Udp:
    return "udp";
  case GetterConfig::Source::Demo:
    return "demo";
  case GetterConfig::Source::OpenVr:
    return "openvr";
  case GetterConfig::Source::Opentrack:
    return "opentrack";
  }
  return "?";
}

int Probe(const GetterConfig &config, const std::string &configPath, double seconds) {
  std::printf("pose_getter probe: source %s", SourceName(config.source));
  if (config.source == GetterConfig::Source::Udp || config.source == GetterConfig::Source::Opentrack)
    std::printf(" on 127.0.0.1:%u", static_cast<unsigned>(config.port));
  std::printf(" (%s), %.0f s; the shared block is left alone; each line is the pose as the host will show it\n",
              configPath.c_str(), seconds);
  std::fflush(stdout);
  ProbeSink sink(seconds);
  RunSource(config, sink);
  return 0;
}
} // namespace

int main(int argc, char **argv) {
  const std::string folder = ModuleDirectory();
  const std::string configPath = JoinPath(folder, kGetterConfigFileName, kPathSeparator);
  // The probe is a person at a console: standard error is enough, and the
  // helper the driver started keeps its log to itself.
  const bool probe = argc > 1;
  if (!probe) OpenGetterLog(JoinPath(folder, kGetterLogFileName, kPathSeparator));
  const GetterConfig config = LoadConfig(configPath);

  if (probe && std::strcmp(argv[1], "--calibrate") == 0)
    return RunCalibrateCommand(argc - 2, argv + 2, config, configPath);
  if (probe) {
    double seconds = 10;
    if (std::strcmp(argv[1], "--probe") != 0 || argc > 3 ||
        (argc == 3 && (seconds = std::strtod(argv[2], nullptr), !(seconds > 0 && seconds <= 86400)))) {
      std::fprintf(stderr, "usage: pose_getter [--probe [SECONDS] | --calibrate [--countdown SECONDS]]\n"
                           "  started by the driver without arguments; --probe runs the configured source\n"
                           "  for SECONDS (default 10) and prints what it would write; --calibrate measures\n"
                           "  the mount and writes it into pose_getter.cfg\n");
      return 2;
    }
    return Probe(config, configPath, seconds);
  }

  // The driver has created the mapping already; creating it here too lets the
  // helper be started by hand for testing.
  const MappingHandle mapping = CreateNamedMapping(kPoseExchangeName, kPoseExchangeSize);
  void *view = mapping == kNoMapping ? nullptr : MapNamedView(mapping, kPoseExchangeSize);
  if (!view) {
    GetterLog("cannot open the shared block %s: no pose reaches the driver", kPoseExchangeName);
    return 1;
  }
  GetterLog("started: source %s", SourceName(config.source));
  BlockSink sink(*static_cast<PoseExchangeBlock *>(view));
  RunSource(config, sink);
  GetterLog("stopped");

  UnmapNamedView(view, kPoseExchangeSize);
  CloseNamedMapping(mapping);
  return 0;
}
