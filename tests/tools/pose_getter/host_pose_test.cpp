// End to end through the real module: a source -> pose_getter -> the shared
// block -> the module in the development host -> the DriverPose_t the host
// receives. The host must show the pose the configuration describes: the
// followed device composed with the mount, with the velocity of the pistol's
// origin in tracking space and the angular velocity in the pistol's own frame.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "tests/common/driver_folder.h"
#include "tests/common/scoped_env.h"
#include "tests/tools/pose_getter/fake_vrclient/fake_runtime.h"
#include "tools/pose_getter/getter_log.h"
#include "tools/pose_getter/getter_platform.h"
#include "tools/pose_getter/opentrack_datagram.h"
#include "tools/pose_getter/pose_datagram.h"
#include "tools/pose_getter/pose_math.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double kPositionTolerance = 1e-4; // metres
constexpr double kAngleTolerance = 0.01;    // degrees
constexpr double kVelocityTolerance = 1e-4; // m/s and rad/s

// Sends datagrams to a loopback port nobody listens on yet.
class Sender {
public:
  Sender() {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    std::string why;
    for (port = 47200; port < 47400; ++port) {
      const UdpSocket probe = OpenUdpReceiver(port, why);
      if (probe == kNoSocket) continue;
      CloseUdpReceiver(probe);
      break;
    }
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    to_.sin_family = AF_INET;
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to_.sin_port = htons(port);
  }
  ~Sender() {
#ifdef _WIN32
    closesocket(socket_);
    WSACleanup();
#else
    close(socket_);
#endif
  }
  template <std::size_t N> void Send(const std::array<uint8_t, N> &data) {
    sendto(socket_, reinterpret_cast<const char *>(data.data()), static_cast<int>(N), 0,
           reinterpret_cast<const sockaddr *>(&to_), sizeof to_);
  }
  uint16_t port = 0;

private:
#ifdef _WIN32
  SOCKET socket_;
#else
  int socket_;
#endif
  sockaddr_in to_{};
};

struct Vec {
  double v[3];
};

Vec Turn(const Rotation &r, const Vec &a) {
  Vec out{};
  for (int i = 0; i < 3; ++i) out.v[i] = r.m[i][0] * a.v[0] + r.m[i][1] * a.v[1] + r.m[i][2] * a.v[2];
  return out;
}

Vec TurnBack(const Rotation &r, const Vec &a) {
  Vec out{};
  for (int i = 0; i < 3; ++i) out.v[i] = r.m[0][i] * a.v[0] + r.m[1][i] * a.v[1] + r.m[2][i] * a.v[2];
  return out;
}

Rotation Times(const Rotation &a, const Rotation &b) {
  Rotation r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

// What the host must show.
struct Expected {
  Rotation rotation;
  Vec position, velocity, ownAngularVelocity;
};

// A device (tracking space, world angular velocity) carrying the pistol on a mount.
Expected DeviceWithMount(const Rotation &device, const Vec &position, const Vec &velocity, const Vec &angular,
                         const Rotation &mount, const Vec &offset) {
  Expected e{};
  e.rotation = Times(device, mount);
  const Vec lever = Turn(device, offset);
  for (int i = 0; i < 3; ++i) e.position.v[i] = position.v[i] + lever.v[i];
  const double *w = angular.v, *r = lever.v;
  const Vec cross{{w[1] * r[2] - w[2] * r[1], w[2] * r[0] - w[0] * r[2], w[0] * r[1] - w[1] * r[0]}};
  for (int i = 0; i < 3; ++i) e.velocity.v[i] = velocity.v[i] + cross.v[i];
  e.ownAngularVelocity = TurnBack(e.rotation, angular);
  return e;
}

struct Errors {
  double position = 0, angle = 0, velocity = 0, angular = 0;
};

Errors Measure(const vr::DriverPose_t &p, const Expected &e) {
  const vr::HmdQuaternion_t &q = p.qRotation;
  const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  const double w = q.w / n, x = q.x / n, y = q.y / n, z = q.z / n;
  const Rotation host{{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                       {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                       {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}}};
  // The angle of the turn from the expected axes to the host's.
  double trace = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += e.rotation.m[k][i] * host.m[k][i];
  Errors err;
  err.angle = std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)) * 180 / 3.14159265358979323846;
  for (int i = 0; i < 3; ++i) {
    err.position = std::max(err.position, std::abs(p.vecPosition[i] - e.position.v[i]));
    err.velocity = std::max(err.velocity, std::abs(p.vecVelocity[i] - e.velocity.v[i]));
    err.angular = std::max(err.angular, std::abs(p.vecAngularVelocity[i] - e.ownAngularVelocity.v[i]));
  }
  return err;
}

void ExpectHostShows(const vr::DriverPose_t &p, const Expected &e, const char *what) {
  EXPECT_TRUE(p.poseIsValid);
  EXPECT_TRUE(p.deviceIsConnected);
  const Errors err = Measure(p, e);
  // The figures, for the record of what the road achieves.
  std::printf("[ measured ] %s: position %.2e m, angle %.2e deg, velocity %.2e m/s, angular velocity %.2e rad/s\n",
              what, err.position, err.angle, err.velocity, err.angular);
  EXPECT_LE(err.position, kPositionTolerance) << what;
  EXPECT_LE(err.angle, kAngleTolerance) << what;
  EXPECT_LE(err.velocity, kVelocityTolerance) << what;
  EXPECT_LE(err.angular, kVelocityTolerance) << what;
}

// The first valid pose the host receives within 20 s (a helper started under
// Wine can take seconds to come up).
bool FirstValidPose(DriverFolder &folder, vr::DriverPose_t &out, const std::function<void()> &eachFrame = {}) {
  return folder.FramesUntilPose(
      [&](const vr::DriverPose_t &p) {
        if (eachFrame) eachFrame();
        if (!p.poseIsValid) return false;
        out = p;
        return true;
      },
      20s);
}

void WriteRoom(const fs::path &file, const std::string &room) {
  // Replaced whole, so the helper's runtime never reads half a room.
  const fs::path next = file.string() + ".next";
  std::ofstream(next, std::ios::binary) << room;
  fs::rename(next, file);
}

std::string Text(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The device and the mount of the openvr and opentrack cases: a tilted
// device, all three offsets and all three angles non-zero.
const YawPitchRoll kDeviceAngles{40, -25, 15};
const Vec kDevicePosition{{0.4, 1.3, -0.6}};
const Vec kDeviceVelocity{{0.3, -0.1, 0.5}};
const Vec kDeviceAngular{{1.2, -0.8, 0.6}};
const Vec kMountOffset{{0.02, -0.04, 0.06}};
const YawPitchRoll kMountAngles{10, 20, 170};
constexpr const char *kMountConfig = "offset_position = 0.02 -0.04 0.06\noffset_rotation = 10 20 170\n";

class HostPose : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.Install());
    // The helper inherits these: the registry override leads it to the fake
    // runtime, and its own copy of the fake reads its room from the file.
    registryOverride.emplace("VR_PATHREG_OVERRIDE", runtime.RegistryFile().c_str());
    std::string room = roomFile.string();
    room.insert(room.begin(), '@');
    roomOverride.emplace("VK5_FAKE_VRCLIENT_ROOM", room.c_str());
  }

  FakeRuntime runtime;
  TempFolder roomDir{"vk5-room"};
  fs::path roomFile = roomDir.path() / "room.txt";
  std::optional<ScopedEnv> registryOverride, roomOverride;
};

std::string DeviceEntry(unsigned index, const char *serial, bool on = true) {
  char entry[256];
  std::snprintf(entry, sizeof entry,
                "%u 3 0 %s %.6f %.6f %.6f rot %.6f %.6f %.6f vel %.6f %.6f %.6f ang %.6f %.6f %.6f%s", index, serial,
                kDevicePosition.v[0], kDevicePosition.v[1], kDevicePosition.v[2], kDeviceAngles.yaw,
                kDeviceAngles.pitch, kDeviceAngles.roll, kDeviceVelocity.v[0], kDeviceVelocity.v[1],
                kDeviceVelocity.v[2], kDeviceAngular.v[0], kDeviceAngular.v[1], kDeviceAngular.v[2], on ? "" : " off");
  return entry;
}
} // namespace

TEST_F(HostPose, AFollowedTrackerWithAMountIsShownAsTheMountedPistol) {
  // Our own pistol under index 1 (the host lists it too), a switched-off
  // tracker under index 2, the one to follow under index 4.
  WriteRoom(roomFile, "1 2 2 aaa_vantorelle_k5_controller 9 9 9;2 3 0 TRK-OFF 5 5 5 off;" + DeviceEntry(4, "TRK-4"));
  DriverFolder folder;
  folder.AddPoseGetter(std::string("source = openvr\nfollow = tracker\n") + kMountConfig);
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);

  vr::DriverPose_t shown{};
  ASSERT_TRUE(FirstValidPose(folder, shown));
  const Expected expected = DeviceWithMount(RotationFromYawPitchRoll(kDeviceAngles), kDevicePosition, kDeviceVelocity,
                                            kDeviceAngular, RotationFromYawPitchRoll(kMountAngles), kMountOffset);
  ExpectHostShows(shown, expected, "openvr tracker + mount");

  // Switched off: the host's pose is neither valid nor connected; back on, it returns.
  WriteRoom(roomFile, "2 3 0 TRK-OFF 5 5 5 off;" + DeviceEntry(4, "TRK-4", false));
  EXPECT_TRUE(
      folder.FramesUntilPose([](const vr::DriverPose_t &p) { return !p.poseIsValid && !p.deviceIsConnected; }, 5s));
  WriteRoom(roomFile, "2 3 0 TRK-OFF 5 5 5 off;" + DeviceEntry(4, "TRK-4"));
  ASSERT_TRUE(FirstValidPose(folder, shown));
  ExpectHostShows(shown, expected, "openvr tracker back");

  device->Deactivate();
  // The helper says what it did, beside itself.
  const std::string log = Text(folder.moduleFolder() / kGetterLogFileName);
  EXPECT_NE(log.find("following device 4"), std::string::npos) << log;
#ifndef _WIN32
  EXPECT_TRUE(NoChildProcessLeft());
#endif
}

TEST_F(HostPose, OurOwnDatagramIsShownAsThePistolPoseItCarries) {
  Sender sender;
  const Rotation rotation = RotationFromYawPitchRoll({-60, 35, -20});
  PoseRecord pistol{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) pistol.m[i][j] = static_cast<float>(rotation.m[i][j]);
  pistol.m[0][3] = -0.2f, pistol.m[1][3] = 0.9f, pistol.m[2][3] = -1.1f;
  const Vec velocity{{-0.4, 0.25, 0.1}}, angular{{0.3, 2.0, -1.0}};
  for (int i = 0; i < 3; ++i) {
    pistol.velocity[i] = static_cast<float>(velocity.v[i]);
    pistol.angularVelocity[i] = static_cast<float>(angular.v[i]);
  }
  pistol.result = vr::TrackingResult_Running_OK;
  pistol.poseIsValid = pistol.deviceIsConnected = 1;
  const auto datagram = EncodePoseDatagram(pistol);

  DriverFolder folder;
  // Saved by an editor that starts the file with a byte-order mark: the port
  // on the first line must still be read.
  folder.AddPoseGetter("\xEF\xBB\xBFport = " + std::to_string(sender.port) + "\nsource = udp\n");
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);
  vr::DriverPose_t shown{};
  ASSERT_TRUE(FirstValidPose(folder, shown, [&] { sender.Send(datagram); }));
  Expected expected{};
  expected.rotation = rotation;
  expected.position = {{-0.2, 0.9, -1.1}};
  expected.velocity = velocity;
  expected.ownAngularVelocity = TurnBack(rotation, angular);
  ExpectHostShows(shown, expected, "udp datagram");
  device->Deactivate();

  const std::string log = Text(folder.moduleFolder() / kGetterLogFileName);
  EXPECT_NE(log.find("listening on 127.0.0.1:" + std::to_string(sender.port)), std::string::npos) << log;
}

TEST_F(HostPose, AnOpentrackPoseWithAMountIsShownAsTheMountedPistol) {
  Sender sender;
  const OpentrackPose tracked{-12.5, 130.0, 40.0, 25.0, -15.0, 30.0};
  const PoseRecord object = RecordFromOpentrack(tracked);
  const Rotation objectRotation = RotationOfRecord(object);
  const Vec objectPosition{{object.m[0][3], object.m[1][3], object.m[2][3]}};

  DriverFolder folder;
  folder.AddPoseGetter("source = opentrack\nport = " + std::to_string(sender.port) + "\n" + kMountConfig);
  vr::ITrackedDeviceServerDriver *device = folder.Load();
  ASSERT_NE(device, nullptr);
  device->Activate(0);
  vr::DriverPose_t shown{};
  const auto datagram = EncodeOpentrackDatagram(tracked);
  ASSERT_TRUE(FirstValidPose(folder, shown, [&] { sender.Send(datagram); }));
  // opentrack sends no motion.
  const Expected expected =
      DeviceWithMount(objectRotation, objectPosition, {}, {}, RotationFromYawPitchRoll(kMountAngles), kMountOffset);
  ExpectHostShows(shown, expected, "opentrack + mount");
  device->Deactivate();
}
