#include "tools/pose_getter/pose_sources.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "tools/pose_getter/demo_motion.h"
#include "tools/pose_getter/getter_platform.h"
#include "tools/pose_getter/opentrack_datagram.h"
#include "tools/pose_getter/openvr_follower.h"
#include "tools/pose_getter/udp_feed.h"

namespace {
using Clock = std::chrono::steady_clock;
} // namespace

void RunDemo(PoseSink &sink) {
  const Clock::time_point start = Clock::now();
  Clock::time_point next = start;
  while (sink.KeepRunning()) {
    sink.Write(DemoPose(std::chrono::duration<double>(Clock::now() - start).count()));
    next += std::chrono::milliseconds(4);
    std::this_thread::sleep_until(next);
  }
}

void RunUdp(const GetterConfig &config, PoseSink &sink) {
  UdpSocket socket = kNoSocket;
  while (sink.KeepRunning() && (socket = OpenUdpReceiver(config.port)) == kNoSocket) {
    std::fprintf(stderr, "pose_getter: cannot listen on 127.0.0.1:%u, trying again\n",
                 static_cast<unsigned>(config.port));
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (socket == kNoSocket) return;

  const bool opentrack = config.source == GetterConfig::Source::Opentrack;
  const Rotation mountRotation = RotationFromYawPitchRoll(config.offset.rotation);
  // The mount is the pistol's offset from the tracked object; our own datagram
  // already carries the pistol's pose.
  auto place = [&](const PoseRecord &r) {
    return opentrack ? ApplyMount(r, mountRotation, config.offset.position) : r;
  };

  UdpFeed feed(Clock::now(), opentrack ? &ParseOpentrackDatagram : nullptr);
  uint8_t buffer[512];
  while (sink.KeepRunning()) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(feed.TimeUntilStale(Clock::now()));
    const std::size_t size = ReceiveDatagram(socket, buffer, sizeof buffer, wait);
    const Clock::time_point now = Clock::now();
    if (size > 0)
      if (const auto record = feed.OnDatagram(buffer, size, now)) sink.Write(place(*record));
    if (const auto record = feed.OnTick(now)) sink.Write(place(*record));
    sink.NoteDropped(feed.dropped());
  }
  CloseUdpReceiver(socket);
}

void RunOpenVr(const GetterConfig &config, PoseSink &sink, const std::string &registryFile) {
  OpenVrFollower follower(config, registryFile);
  std::string reported;
  while (sink.KeepRunning()) {
    const Clock::time_point now = Clock::now();
    if (const auto record = follower.Poll(now)) sink.Write(*record);
    // Quiet while the host comes up: one line per change of reason.
    if (follower.problem() != reported) {
      reported = follower.problem();
      if (!reported.empty()) std::fprintf(stderr, "pose_getter: waiting for the host: %s\n", reported.c_str());
    }
    // Bounded, so the sink is asked often enough to stop in time.
    std::this_thread::sleep_until(std::min(follower.NextPoll(now), now + std::chrono::milliseconds(250)));
  }
}

void RunSource(const GetterConfig &config, PoseSink &sink) {
  switch (config.source) {
  case GetterConfig::Source::Demo:
    return RunDemo(sink);
  case GetterConfig::Source::OpenVr:
    return RunOpenVr(config, sink);
  case GetterConfig::Source::Udp:
  case GetterConfig::Source::Opentrack:
    return RunUdp(config, sink);
  }
}
