// pose_getter: started by the driver beside its module, with no arguments.
// Writes the controller's pose into the shared exchange block until it is
// terminated. The pose source is chosen by pose_getter.cfg beside the program.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pose/pose_exchange.h"
#include "pose/pose_getter.h"
#include "pose/shared_mapping.h"
#include "tools/pose_getter/demo_motion.h"
#include "tools/pose_getter/getter_config.h"
#include "tools/pose_getter/getter_platform.h"
#include "tools/pose_getter/pose_writer.h"
#include "tools/pose_getter/udp_feed.h"

namespace {
using Clock = std::chrono::steady_clock;

// Beside the program, never the working directory, which is the host's.
GetterConfig LoadConfig() {
  const std::string path = JoinPath(ModuleDirectory(), kGetterConfigFileName, kPathSeparator);
  std::ifstream in(path);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  std::vector<std::string> problems;
  GetterConfig config = ParseGetterConfig(text.str(), problems);
  for (const std::string &p : problems) std::fprintf(stderr, "pose_getter: %s: %s\n", path.c_str(), p.c_str());
  return config;
}

void RunDemo(PoseExchangeBlock &block) {
  const Clock::time_point start = Clock::now();
  Clock::time_point next = start;
  while (StarterAlive()) {
    WritePoseRecord(block, DemoPose(std::chrono::duration<double>(Clock::now() - start).count()));
    next += std::chrono::milliseconds(4);
    std::this_thread::sleep_until(next);
  }
}

void RunUdp(PoseExchangeBlock &block, uint16_t port) {
  UdpSocket socket = kNoSocket;
  while (StarterAlive() && (socket = OpenUdpReceiver(port)) == kNoSocket) {
    std::fprintf(stderr, "pose_getter: cannot listen on 127.0.0.1:%u, trying again\n", static_cast<unsigned>(port));
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (socket == kNoSocket) return;

  UdpFeed feed(Clock::now());
  uint64_t droppedReported = 0;
  Clock::time_point lastReport = Clock::now();
  uint8_t buffer[512];
  while (StarterAlive()) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(feed.TimeUntilStale(Clock::now()));
    const std::size_t size = ReceiveDatagram(socket, buffer, sizeof buffer, wait);
    const Clock::time_point now = Clock::now();
    if (size > 0)
      if (const auto record = feed.OnDatagram(buffer, size, now)) WritePoseRecord(block, *record);
    if (const auto record = feed.OnTick(now)) WritePoseRecord(block, *record);
    if (feed.dropped() != droppedReported && now - lastReport > std::chrono::seconds(1)) {
      std::fprintf(stderr, "pose_getter: %llu malformed datagrams dropped\n",
                   static_cast<unsigned long long>(feed.dropped()));
      droppedReported = feed.dropped();
      lastReport = now;
    }
  }
  CloseUdpReceiver(socket);
}
} // namespace

int main() {
  const GetterConfig config = LoadConfig();

  // The driver has created the mapping already; creating it here too lets the
  // helper be started by hand for testing.
  const MappingHandle mapping = CreateNamedMapping(kPoseExchangeName, kPoseExchangeSize);
  void *view = mapping == kNoMapping ? nullptr : MapNamedView(mapping, kPoseExchangeSize);
  if (!view) {
    std::fprintf(stderr, "pose_getter: cannot open the shared block %s\n", kPoseExchangeName);
    return 1;
  }
  auto &block = *static_cast<PoseExchangeBlock *>(view);

  if (config.source == GetterConfig::Source::Demo)
    RunDemo(block);
  else
    RunUdp(block, config.port);

  UnmapNamedView(view, kPoseExchangeSize);
  CloseNamedMapping(mapping);
  return 0;
}
