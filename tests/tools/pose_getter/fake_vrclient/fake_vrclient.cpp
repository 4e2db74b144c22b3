// A stand-in for the host runtime's client library: the factory, the client
// core and the system interface, with a device table the tests fill in.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "tests/tools/pose_getter/fake_vrclient/fake_vrclient_control.h"
#include "tests/tools/pose_getter/fake_vrclient/scripted_motion.h"
#include "tests/tools/pose_getter/fake_vrclient/unused_slots.h"
#include "tools/pose_getter/openvr_client.h"
#include "tools/pose_getter/pose_math.h"

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
void RefreshRoom();

struct Device {
  vr::ETrackedDeviceClass deviceClass = vr::TrackedDeviceClass_Invalid;
  vr::ETrackedControllerRole role = vr::TrackedControllerRole_Invalid;
  std::string serial;
  vr::TrackedDevicePose_t pose{};
};

// The bench changes poses while the follower reads them on another thread.
std::mutex mutex;
Device devices[vr::k_unMaxTrackedDeviceCount];
bool serverRunning = true;
bool quitQueued = false;
bool initialised = false;
FakeVrCounters counters{};
int lastOrigin = -1;
uint32_t lastCount = 0;

class FakeSystem final : public SystemUnusedSlots {
public:
  void GetDeviceToAbsoluteTrackingPose(vrclient::ETrackingUniverseOrigin origin, float, vr::TrackedDevicePose_t *poses,
                                       uint32_t count) override {
    std::lock_guard lock(mutex);
    ++counters.poseCalls;
    RefreshRoom();
    lastOrigin = origin;
    lastCount = count;
    vr::TrackedDevicePose_t moved[vr::k_unMaxTrackedDeviceCount];
    for (uint32_t i = 0; i < vr::k_unMaxTrackedDeviceCount; ++i) moved[i] = devices[i].pose;
    ApplyScriptedMotion(moved);
    for (uint32_t i = 0; i < count && i < vr::k_unMaxTrackedDeviceCount; ++i) poses[i] = moved[i];
  }
  vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole role) override {
    std::lock_guard lock(mutex);
    for (uint32_t i = 0; i < vr::k_unMaxTrackedDeviceCount; ++i)
      if (devices[i].deviceClass == vr::TrackedDeviceClass_Controller && devices[i].role == role) return i;
    return vr::k_unTrackedDeviceIndexInvalid;
  }
  vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t index) override {
    std::lock_guard lock(mutex);
    return index < vr::k_unMaxTrackedDeviceCount ? devices[index].role : vr::TrackedControllerRole_Invalid;
  }
  vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t index) override {
    std::lock_guard lock(mutex);
    RefreshRoom();
    return index < vr::k_unMaxTrackedDeviceCount ? devices[index].deviceClass : vr::TrackedDeviceClass_Invalid;
  }
  bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t index) override {
    std::lock_guard lock(mutex);
    return index < vr::k_unMaxTrackedDeviceCount && devices[index].pose.bDeviceIsConnected;
  }
  uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t index, vr::ETrackedDeviceProperty prop, char *value,
                                          uint32_t size, vr::ETrackedPropertyError *error) override {
    std::lock_guard lock(mutex);
    auto fail = [&](vr::ETrackedPropertyError e) {
      if (error) *error = e;
      if (value && size) value[0] = '\0';
      return 0u;
    };
    if (index >= vr::k_unMaxTrackedDeviceCount || devices[index].deviceClass == vr::TrackedDeviceClass_Invalid)
      return fail(vr::TrackedProp_InvalidDevice);
    if (prop != vr::Prop_SerialNumber_String) return fail(vr::TrackedProp_UnknownProperty);
    const std::string &s = devices[index].serial;
    const auto needed = static_cast<uint32_t>(s.size() + 1);
    if (!value || size < needed) {
      if (error) *error = vr::TrackedProp_BufferTooSmall;
      return needed;
    }
    std::memcpy(value, s.c_str(), needed);
    if (error) *error = vr::TrackedProp_Success;
    return needed;
  }
  bool PollNextEvent(vrclient::EventBuffer *event, uint32_t size) override {
    std::lock_guard lock(mutex);
    ++counters.eventPolls;
    // The runtime fills no more than the caller says it has room for.
    if (!quitQueued || !event || size < sizeof event->eventType) return false;
    quitQueued = false;
    event->eventType = vrclient::kEventQuit;
    return true;
  }
  void AcknowledgeQuit_Exiting() override {
    std::lock_guard lock(mutex);
    ++counters.quitAcks;
  }
};

class FakeCore final : public vrclient::IVRClientCore {
public:
  vr::EVRInitError Init(vrclient::EVRApplicationType type, const char *) override {
    std::lock_guard lock(mutex);
    ++counters.inits;
    if (type != vrclient::VRApplication_Background) return vr::VRInitError_Unknown;
    if (!serverRunning) return static_cast<vr::EVRInitError>(vrclient::kInitErrorNoServerForBackgroundApp);
    initialised = true;
    return vr::VRInitError_None;
  }
  void Cleanup() override {
    std::lock_guard lock(mutex);
    ++counters.cleanups;
    initialised = false;
  }
  vr::EVRInitError IsInterfaceVersionValid(const char *) override { return vr::VRInitError_None; }
  void *GetGenericInterface(const char *name, vr::EVRInitError *error) override {
    std::lock_guard lock(mutex);
    const bool known = initialised && std::strcmp(name, vrclient::kSystemVersion) == 0;
    if (error) *error = known ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
    return known ? static_cast<vrclient::IVRSystem *>(&system) : nullptr;
  }
  bool BIsHmdPresent() override { return true; }
  const char *GetEnglishStringForHmdError(vr::EVRInitError) override { return "fake"; }
  const char *GetIDForVRInitError(vr::EVRInitError) override { return "fake"; }

  FakeSystem system;
};

FakeCore core;

// A helper process loads its own copy of the fake: its devices come from
// VK5_FAKE_VRCLIENT_ROOM, entries separated by ';':
//   index class role serial x y z [rot yaw pitch roll] [vel x y z] [ang x y z] [off]
// each valid, connected and Running_OK unless "off" (switched off: neither
// valid nor connected). "@FILE" names a file holding the entries instead,
// read again whenever its text changes, so a test can change the room of a
// helper it started.
void ApplyRoom(const std::string &room) {
  for (Device &d : devices) d = Device{};
  std::istringstream entries(room);
  for (std::string entry; std::getline(entries, entry, ';');) {
    std::istringstream in(entry);
    unsigned index = 0;
    int cls = 0, role = 0;
    std::string serial;
    double x = 0, y = 0, z = 0;
    if (!(in >> index >> cls >> role >> serial >> x >> y >> z) || index >= vr::k_unMaxTrackedDeviceCount) continue;
    YawPitchRoll angles{0, 0, 0};
    float velocity[3] = {}, angular[3] = {};
    bool on = true;
    for (std::string word; in >> word;) {
      if (word == "rot")
        in >> angles.yaw >> angles.pitch >> angles.roll;
      else if (word == "vel")
        in >> velocity[0] >> velocity[1] >> velocity[2];
      else if (word == "ang")
        in >> angular[0] >> angular[1] >> angular[2];
      else if (word == "off")
        on = false;
    }
    Device &d = devices[index];
    d.deviceClass = static_cast<vr::ETrackedDeviceClass>(cls);
    d.role = static_cast<vr::ETrackedControllerRole>(role);
    d.serial = serial;
    const Rotation r = RotationFromYawPitchRoll(angles);
    auto &m = d.pose.mDeviceToAbsoluteTracking.m;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = static_cast<float>(r.m[i][j]);
    m[0][3] = static_cast<float>(x), m[1][3] = static_cast<float>(y), m[2][3] = static_cast<float>(z);
    std::memcpy(d.pose.vVelocity.v, velocity, sizeof velocity);
    std::memcpy(d.pose.vAngularVelocity.v, angular, sizeof angular);
    d.pose.eTrackingResult = on ? vr::TrackingResult_Running_OK : vr::TrackingResult_Uninitialized;
    d.pose.bPoseIsValid = d.pose.bDeviceIsConnected = on;
  }
}

std::string roomFile;
std::string roomText;

void LoadRoomFromEnvironment() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  const char *room = std::getenv("VK5_FAKE_VRCLIENT_ROOM");
  if (!room) return;
  if (room[0] == '@')
    roomFile = room + 1;
  else
    ApplyRoom(room);
}

// Called with the mutex held, from the calls a follower makes every pass.
void RefreshRoom() {
  if (roomFile.empty()) return;
  std::ifstream in(roomFile, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in || text.str() == roomText) return;
  roomText = text.str();
  ApplyRoom(roomText);
}
} // namespace

FAKE_EXPORT void *VRClientCoreFactory(const char *interfaceName, int *returnCode) {
  std::lock_guard lock(mutex);
  LoadRoomFromEnvironment();
  ++counters.factoryCalls;
  const bool known = std::strcmp(interfaceName, vrclient::kClientCoreVersion) == 0;
  if (returnCode) *returnCode = known ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
  return known ? static_cast<vrclient::IVRClientCore *>(&core) : nullptr;
}

FAKE_EXPORT void FakeVrReset() {
  std::lock_guard lock(mutex);
  for (Device &d : devices) d = Device{};
  serverRunning = true;
  quitQueued = false;
  initialised = false;
  counters = {};
  lastOrigin = -1;
  lastCount = 0;
}

FAKE_EXPORT void FakeVrSetServerRunning(bool running) {
  std::lock_guard lock(mutex);
  serverRunning = running;
}

FAKE_EXPORT void FakeVrSetDevice(uint32_t index, int deviceClass, int role, const char *serial) {
  std::lock_guard lock(mutex);
  if (index >= vr::k_unMaxTrackedDeviceCount) return;
  devices[index].deviceClass = static_cast<vr::ETrackedDeviceClass>(deviceClass);
  devices[index].role = static_cast<vr::ETrackedControllerRole>(role);
  devices[index].serial = serial;
}

FAKE_EXPORT void FakeVrRemoveDevice(uint32_t index) {
  std::lock_guard lock(mutex);
  if (index < vr::k_unMaxTrackedDeviceCount) devices[index] = Device{};
}

FAKE_EXPORT void FakeVrSetPose(uint32_t index, const vr::TrackedDevicePose_t *pose) {
  std::lock_guard lock(mutex);
  if (index < vr::k_unMaxTrackedDeviceCount) devices[index].pose = *pose;
}

FAKE_EXPORT void FakeVrQueueQuit() {
  std::lock_guard lock(mutex);
  quitQueued = true;
}

FAKE_EXPORT FakeVrCounters FakeVrGetCounters() {
  std::lock_guard lock(mutex);
  return counters;
}

FAKE_EXPORT void FakeVrLastPoseRequest(int *origin, uint32_t *count) {
  std::lock_guard lock(mutex);
  *origin = lastOrigin;
  *count = lastCount;
}
