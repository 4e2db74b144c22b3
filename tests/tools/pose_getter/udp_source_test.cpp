// The helper's sources end to end: datagrams sent to the port named in its
// configuration, or the device it follows in a (fake) running host, reach the
// host as poses through the real module.
#include <arpa/inet.h>
#include <cmath>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/driver_folder.h"
#include "tests/tools/pose_getter/fake_vrclient/fake_runtime.h"
#include "tools/pose_getter/opentrack_datagram.h"
#include "tools/pose_getter/pose_datagram.h"

namespace {
class Sender {
public:
  Sender() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    // An ephemeral port nobody listens on, for the helper to take.
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    socklen_t len = sizeof a;
    bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
    close(probe);
    port = ntohs(a.sin_port);
    to_ = a;
  }
  ~Sender() { close(fd_); }
  void Send(const uint8_t *data, std::size_t size) {
    sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr *>(&to_), sizeof to_);
  }
  uint16_t port = 0;

private:
  int fd_;
  sockaddr_in to_{};
};

PoseRecord At(float x) {
  PoseRecord r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0f;
  r.m[0][3] = x;
  r.result = vr::TrackingResult_Running_OK;
  r.poseIsValid = 1;
  r.deviceIsConnected = 1;
  return r;
}

bool Finite(const vr::DriverPose_t &p) {
  for (double v : {p.qRotation.w, p.qRotation.x, p.qRotation.y, p.qRotation.z, p.vecPosition[0], p.vecPosition[1],
                   p.vecPosition[2], p.vecVelocity[0], p.vecAngularVelocity[0]})
    if (!std::isfinite(v)) return false;
  return true;
}
} // namespace

TEST(UdpSource, DatagramsBecomePosesGarbageIsIgnoredAndSilenceMakesThePoseNotValid) {
  Sender sender;
  DriverFolder folder;
  folder.AddPoseGetter("source = udp\nport = " + std::to_string(sender.port) + "\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);

  const auto good = EncodePoseDatagram(At(0.5f));
  auto garbage = EncodePoseDatagram(At(9.0f));
  const float nan = std::nanf("");
  std::memcpy(garbage.data() + 8, &nan, 4);
  bool sawGarbage = false, sawNonFinite = false;
  auto watch = [&](const vr::DriverPose_t &p) {
    sawGarbage |= p.vecPosition[0] == 9.0;
    sawNonFinite |= !Finite(p);
  };

  // The helper may still be binding its socket: keep sending until a pose arrives.
  EXPECT_TRUE(folder.FramesUntilPose(
      [&](const vr::DriverPose_t &p) {
        watch(p);
        sender.Send(garbage.data(), garbage.size());
        sender.Send(good.data(), good.size());
        return p.poseIsValid && p.vecPosition[0] == 0.5;
      },
      std::chrono::seconds(5)));

  // Silent from here on: within a little more than 100 ms the pose is not valid.
  const auto quiet = std::chrono::steady_clock::now();
  EXPECT_TRUE(folder.FramesUntilPose(
      [&](const vr::DriverPose_t &p) {
        watch(p);
        return !p.poseIsValid && !p.deviceIsConnected;
      },
      std::chrono::seconds(2)));
  EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(90));
  EXPECT_FALSE(sawGarbage);
  EXPECT_FALSE(sawNonFinite);

  device->Deactivate();
  EXPECT_TRUE(NoChildProcessLeft());
}

TEST(OpentrackSource, OpentracksDatagramsArriveMovedByTheMountAndSilenceMakesThePoseNotValid) {
  Sender sender;
  DriverFolder folder;
  folder.AddPoseGetter("source = opentrack\nport = " + std::to_string(sender.port) + "\noffset_position = 0 0 -0.1\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);

  // 50 cm to opentrack's left is 0.5 m to the host's right (+X).
  const auto good = EncodeOpentrackDatagram({-50, 120, 0, 0, 0, 0});
  const uint8_t shortOne[47] = {};
  bool sawNonFinite = false;
  EXPECT_TRUE(folder.FramesUntilPose(
      [&](const vr::DriverPose_t &p) {
        sawNonFinite |= !Finite(p);
        sender.Send(shortOne, sizeof shortOne);
        sender.Send(good.data(), good.size());
        // The mount puts the pistol 0.1 m ahead, and the host shows it there.
        return p.poseIsValid && std::abs(p.vecPosition[0] - 0.5) < 1e-6 && std::abs(p.vecPosition[1] - 1.2) < 1e-6 &&
               std::abs(p.vecPosition[2] + 0.1) < 1e-6;
      },
      std::chrono::seconds(5)));
  EXPECT_TRUE(
      folder.FramesUntilPose([&](const vr::DriverPose_t &p) { return !p.poseIsValid; }, std::chrono::seconds(2)));
  EXPECT_FALSE(sawNonFinite);

  device->Deactivate();
  EXPECT_TRUE(NoChildProcessLeft());
}

TEST(OpenVrSource, TheHelperFollowsATrackerOfTheRunningHostFoundThroughItsPathRegistry) {
  FakeRuntime runtime;
  ASSERT_TRUE(runtime.Install());
  // The helper inherits these: the host's loader finds the registry under
  // $XDG_CONFIG_HOME, and the helper's own copy of the fake furnishes its room.
  setenv("XDG_CONFIG_HOME", runtime.ConfigHome().c_str(), 1);
  unsetenv("VR_OVERRIDE");
  setenv("VK5_FAKE_VRCLIENT_ROOM", "1 2 2 aaa_vantorelle_k5_controller 9 9 9;3 3 0 TRK-7 0.5 1.0 -0.2", 1);

  DriverFolder folder;
  folder.AddPoseGetter("source = openvr\nfollow = TRK-7\noffset_position = 0 0 -0.25\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);
  EXPECT_TRUE(folder.FramesUntilPose(
      [&](const vr::DriverPose_t &p) {
        return p.poseIsValid && p.deviceIsConnected && std::abs(p.vecPosition[0] - 0.5) < 1e-6 &&
               std::abs(p.vecPosition[1] - 1.0) < 1e-6 && std::abs(p.vecPosition[2] + 0.45) < 1e-6;
      },
      std::chrono::seconds(5)));
  device->Deactivate();
  EXPECT_TRUE(NoChildProcessLeft());
  unsetenv("VK5_FAKE_VRCLIENT_ROOM");
  unsetenv("XDG_CONFIG_HOME");
}
