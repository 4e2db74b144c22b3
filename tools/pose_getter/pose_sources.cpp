#include "tools/pose_getter/pose_sources.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tools/pose_getter/demo_motion.h"
#include "tools/pose_getter/getter_log.h"
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
  const bool opentrack = config.source == GetterConfig::Source::Opentrack;
  const auto port = static_cast<unsigned>(config.port);
  std::string why, reported;
  while (sink.KeepRunning() && (socket = OpenUdpReceiver(config.port, why)) == kNoSocket) {
    if (why != reported) {
      // opentrack's own UDP input listens on 4242 too, its output's default.
      GetterLog("cannot listen on 127.0.0.1:%u: %s; another program holds the port%s (port = in pose_getter.cfg "
                "names another); trying again every second",
                port, why.c_str(),
                opentrack && config.port == kDefaultOpentrackPort
                    ? " (opentrack's own \"UDP over network\" input also uses 4242: give its output another port)"
                    : "");
      reported = why;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (socket == kNoSocket) return;
  GetterLog("listening on 127.0.0.1:%u for %s datagrams", port, opentrack ? "opentrack" : "pose");

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

namespace {
// One line per change of what the follower is doing, never one per pose.
class FollowerReport {
public:
  explicit FollowerReport(const GetterConfig &config) : config_(config) {}
  void Note(const OpenVrFollower &follower) {
    const OpenVrFollower::State state = follower.state();
    const vr::TrackedDeviceIndex_t device = follower.deviceIndex();
    if (state == state_ && device == device_ && follower.problem() == problem_) return;
    state_ = state, device_ = device, problem_ = follower.problem();
    switch (state) {
    case OpenVrFollower::State::NoRuntime:
      if (!problem_.empty()) GetterLog("waiting for the host: %s", problem_.c_str());
      break;
    case OpenVrFollower::State::NoDevice:
      GetterLog("connected to the host; no device to follow (%s)", Wanted().c_str());
      break;
    case OpenVrFollower::State::Following:
      GetterLog("following device %u (%s)", static_cast<unsigned>(device), Wanted().c_str());
      break;
    }
  }

private:
  std::string Wanted() const {
    switch (config_.follow) {
    case GetterConfig::Follow::Tracker:
      return "follow = tracker: the first connected tracker";
    case GetterConfig::Follow::LeftHand:
      return "follow = left_hand";
    case GetterConfig::Follow::RightHand:
      return "follow = right_hand";
    case GetterConfig::Follow::Serial:
      return "follow = " + config_.followSerial;
    }
    return {};
  }

  const GetterConfig &config_;
  std::optional<OpenVrFollower::State> state_;
  vr::TrackedDeviceIndex_t device_ = vr::k_unTrackedDeviceIndexInvalid;
  std::string problem_;
};

// Sources deliver the pistol's pose in tracking space; the block gets the
// record the module turns into that pose.
class HostRecordSink final : public PoseSink {
public:
  explicit HostRecordSink(PoseSink &next) : next_(next) {}
  void Write(const PoseRecord &pistol) override { next_.Write(RecordForHost(pistol)); }
  void NoteDropped(uint64_t total) override { next_.NoteDropped(total); }
  bool KeepRunning() override { return next_.KeepRunning(); }

private:
  PoseSink &next_;
};
} // namespace

void RunOpenVr(const GetterConfig &config, PoseSink &sink, const std::string &registryFile) {
  OpenVrFollower follower(config, registryFile);
  FollowerReport report(config);
  while (sink.KeepRunning()) {
    const Clock::time_point now = Clock::now();
    if (const auto record = follower.Poll(now)) sink.Write(*record);
    if (follower.hostQuit()) {
      GetterLog("the host is quitting: acknowledged, pose marked not valid, client shut down");
      return;
    }
    report.Note(follower);
    // Bounded, so the sink is asked often enough to stop in time.
    std::this_thread::sleep_until(std::min(follower.NextPoll(now), now + std::chrono::milliseconds(250)));
  }
}

void RunSource(const GetterConfig &config, PoseSink &sink) {
  HostRecordSink host(sink);
  switch (config.source) {
  case GetterConfig::Source::Demo:
    return RunDemo(host);
  case GetterConfig::Source::OpenVr:
    return RunOpenVr(config, host);
  case GetterConfig::Source::Udp:
  case GetterConfig::Source::Opentrack:
    return RunUdp(config, host);
  }
}
