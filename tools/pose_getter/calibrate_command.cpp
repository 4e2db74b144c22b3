#include "tools/pose_getter/calibrate_command.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tools/pose_getter/calibrate_session.h"
#include "tools/pose_getter/getter_platform.h"
#include "tools/pose_getter/mount_config_edit.h"
#include "tools/pose_getter/opentrack_datagram.h"
#include "tools/pose_getter/openvr_follower.h"
#include "tools/pose_getter/udp_feed.h"

namespace {
using Clock = std::chrono::steady_clock;

// The followed device's own pose: the follower with no mount applied.
class OpenVrDeviceFeed final : public DeviceFeed {
public:
  explicit OpenVrDeviceFeed(const GetterConfig &config) : follower_(WithoutMount(config)) {
    last_.m[0][0] = last_.m[1][1] = last_.m[2][2] = 1;
  }
  PoseRecord Sample() override {
    // The follower hands out only changed records: a still device keeps its last.
    if (const auto record = follower_.Poll(Clock::now())) last_ = *record;
    return last_;
  }
  std::string Problem() const override {
    if (!follower_.problem().empty()) return follower_.problem();
    if (follower_.state() == OpenVrFollower::State::NoDevice)
      return "the host runs, but the device to follow (follow in pose_getter.cfg) is not there";
    return "the device is there but not tracked";
  }

private:
  static GetterConfig WithoutMount(GetterConfig config) {
    config.offset = {};
    return config;
  }
  OpenVrFollower follower_;
  PoseRecord last_{};
};

// The tracked object's pose from opentrack's datagrams, drained at each sample.
class OpentrackDeviceFeed final : public DeviceFeed {
public:
  explicit OpentrackDeviceFeed(uint16_t port)
      : port_(port), socket_(OpenUdpReceiver(port, why_)), feed_(Clock::now(), &ParseOpentrackDatagram) {}
  ~OpentrackDeviceFeed() override {
    if (socket_ != kNoSocket) CloseUdpReceiver(socket_);
  }
  OpentrackDeviceFeed(const OpentrackDeviceFeed &) = delete;
  OpentrackDeviceFeed &operator=(const OpentrackDeviceFeed &) = delete;

  PoseRecord Sample() override {
    if (socket_ == kNoSocket) return last_;
    uint8_t buffer[512];
    for (std::size_t size; (size = ReceiveDatagram(socket_, buffer, sizeof buffer, std::chrono::milliseconds(0))) > 0;)
      if (const auto record = feed_.OnDatagram(buffer, size, Clock::now())) last_ = *record;
    if (const auto record = feed_.OnTick(Clock::now())) last_ = *record;
    return last_;
  }
  std::string Problem() const override {
    const std::string where = "127.0.0.1:" + std::to_string(port_);
    if (socket_ == kNoSocket)
      return "cannot listen on " + where + " (" + why_ +
             "): another program holds the port (while the host runs the pistol, the driver's own pose_getter does; "
             "close the host, leave opentrack running, and calibrate again)";
    return feed_.accepted() == 0 ? "no datagram from opentrack on " + where + " yet (is its output started?)"
                                 : "opentrack stopped sending to " + where;
  }

private:
  uint16_t port_;
  std::string why_;
  UdpSocket socket_;
  UdpFeed feed_;
  PoseRecord last_{};
};

std::string Note(const CalibrationOutcome &o) {
  char when[64] = "at an unknown time";
  const std::time_t now = std::time(nullptr);
  if (const std::tm *utc = std::gmtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", utc);
  char text[256];
  std::snprintf(text, sizeof text, "%s, grip fit %.1f mm, muzzle fit %.1f mm, grip to muzzle %.1f cm", when,
                o.gripResidualMetres * 1000, o.muzzleResidualMetres * 1000, o.gripToMuzzleMetres * 100);
  return text;
}

int Usage() {
  std::fprintf(stderr, "usage: pose_getter --calibrate [--countdown SECONDS]\n"
                       "  measures the mount for source = openvr or opentrack and writes offset_position and\n"
                       "  offset_rotation into pose_getter.cfg; each step starts SECONDS (default 3) after Enter\n");
  return 2;
}
} // namespace

int RunCalibrateCommand(int argc, char **args, const GetterConfig &config, const std::string &configPath) {
  CalibrateSettings settings;
  if (argc == 2 && std::strcmp(args[0], "--countdown") == 0) {
    char *end = nullptr;
    settings.countdownSeconds = std::strtod(args[1], &end);
    if (*end != '\0' || !(settings.countdownSeconds >= 0 && settings.countdownSeconds <= 60)) return Usage();
  } else if (argc != 0) {
    return Usage();
  }
  if (config.source != GetterConfig::Source::OpenVr && config.source != GetterConfig::Source::Opentrack) {
    std::fprintf(stderr,
                 "pose_getter --calibrate measures where the pistol sits on a followed device, so it needs source = "
                 "openvr or source = opentrack in %s; the %s source carries the pistol's own pose and has no mount. "
                 "Nothing was changed.\n",
                 configPath.c_str(), config.source == GetterConfig::Source::Udp ? "udp" : "demo");
    return 2;
  }

  std::printf("pose_getter --calibrate: measuring the mount on the device that %s follows (%s).\n",
              config.source == GetterConfig::Source::OpenVr ? "source = openvr" : "source = opentrack",
              configPath.c_str());
  std::fflush(stdout);
  std::optional<CalibrationOutcome> outcome;
  if (config.source == GetterConfig::Source::OpenVr) {
    OpenVrDeviceFeed feed(config);
    outcome = RunCalibration(feed, stdin, stdout, settings);
  } else {
    OpentrackDeviceFeed feed(config.port);
    outcome = RunCalibration(feed, stdin, stdout, settings);
  }
  if (!outcome) return 1;

  const MountOffset &m = outcome->mount;
  std::printf("\nMeasured: the grip fit misses by %.1f mm and the muzzle fit by %.1f mm (root mean square), grip "
              "and muzzle %.1f cm apart, the barrel held %.1f degrees %s.\n"
              "offset_position = %.4f %.4f %.4f\noffset_rotation = %.2f %.2f %.2f\n",
              outcome->gripResidualMetres * 1000, outcome->muzzleResidualMetres * 1000,
              outcome->gripToMuzzleMetres * 100, std::abs(outcome->barrelTiltDegrees),
              outcome->barrelTiltDegrees >= 0 ? "up" : "down", m.position[0], m.position[1], m.position[2],
              m.rotation.yaw, m.rotation.pitch, m.rotation.roll);
  const std::string failure = WriteCalibratedMount(configPath, m, Note(*outcome));
  if (!failure.empty()) {
    std::printf("Not written: %s. Put the two lines above into %s by hand.\n", failure.c_str(), configPath.c_str());
    return 1;
  }
  std::printf("Written to %s (the old file is kept as %s). The pistol uses it from the next start of its driver "
              "(restart the host).\n",
              configPath.c_str(), ConfigBackupPath(configPath).string().c_str());
  return 0;
}
