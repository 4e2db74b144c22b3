// Pins our client-side header to the runtime's binary layout: the vtable slot
// of every method the follower calls, and the enum values and names it passes.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/common/call_slot.h"
#include "tests/tools/pose_getter/fake_vrclient/unused_slots.h"
#include "tools/pose_getter/openvr_client.h"

namespace {
#ifdef _WIN32
constexpr uint32_t kPlatformEventSize = 64;
#else
constexpr uint32_t kPlatformEventSize = 60;
#endif

// Records calls into the slots beside the methods the helper calls, so a shifted slot shows.
class RecordingSystem final : public SystemUnusedSlots {
public:
  std::string calls;
  void Unused0() override { calls += "0 "; }
  void Unused10() override { calls += "10 "; }
  void GetDeviceToAbsoluteTrackingPose(vrclient::ETrackingUniverseOrigin origin, float prediction,
                                       vr::TrackedDevicePose_t *poses, uint32_t count) override {
    calls += "poses(" + std::to_string(origin) + "," + std::to_string(count) + ") ";
    if (prediction == 0.0f && poses) poses[0].bPoseIsValid = true;
  }
  void Unused12() override { calls += "12 "; }
  void Unused16() override { calls += "16 "; }
  vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole role) override {
    return static_cast<vr::TrackedDeviceIndex_t>(40 + role);
  }
  vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t) override {
    return vr::TrackedControllerRole_RightHand;
  }
  vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t index) override {
    return index == 3 ? vr::TrackedDeviceClass_GenericTracker : vr::TrackedDeviceClass_Invalid;
  }
  bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t index) override { return index == 5; }
  void Unused21() override { calls += "21 "; }
  void Unused26() override { calls += "26 "; }
  uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty prop, char *value,
                                          uint32_t size, vr::ETrackedPropertyError *error) override {
    if (prop == vr::Prop_SerialNumber_String && size >= 4) std::memcpy(value, "TRK", 4);
    *error = vr::TrackedProp_Success;
    return 4;
  }
  void Unused28() override { calls += "28 "; }
  bool PollNextEvent(vrclient::EventBuffer *event, uint32_t size) override {
    calls += "event(" + std::to_string(size) + ") ";
    event->eventType = vrclient::kEventQuit;
    return true;
  }
  void Unused30() override { calls += "30 "; }
  void Unused42() override { calls += "42 "; }
  void AcknowledgeQuit_Exiting() override { calls += "ack "; }
};

class RecordingCore final : public vrclient::IVRClientCore {
public:
  std::string calls;
  vr::EVRInitError Init(vrclient::EVRApplicationType type, const char *info) override {
    calls += "init(" + std::to_string(type) + (info ? "" : ",null") + ") ";
    return vr::VRInitError_None;
  }
  void Cleanup() override { calls += "cleanup "; }
  vr::EVRInitError IsInterfaceVersionValid(const char *) override { return vr::VRInitError_Init_InterfaceNotFound; }
  void *GetGenericInterface(const char *name, vr::EVRInitError *error) override {
    *error = vr::VRInitError_None;
    return const_cast<char *>(name);
  }
  bool BIsHmdPresent() override { return true; }
  const char *GetEnglishStringForHmdError(vr::EVRInitError) override { return "english"; }
  const char *GetIDForVRInitError(vr::EVRInitError) override { return "id"; }
};
} // namespace

TEST(ClientAbi, ClientCoreSlotsInRuntimeOrder) {
  RecordingCore core;
  void *p = static_cast<vrclient::IVRClientCore *>(&core);
  EXPECT_EQ(CallSlot<vr::EVRInitError>(p, 0, vrclient::VRApplication_Background, static_cast<const char *>(nullptr)),
            vr::VRInitError_None);
  CallSlot<void>(p, 1);
  EXPECT_EQ(core.calls, "init(3,null) cleanup ");
  EXPECT_EQ(CallSlot<vr::EVRInitError>(p, 2, "x"), vr::VRInitError_Init_InterfaceNotFound);
  vr::EVRInitError error = vr::VRInitError_Unknown;
  EXPECT_STREQ(static_cast<const char *>(CallSlot<void *>(p, 3, "IVRSystem_022", &error)), "IVRSystem_022");
  EXPECT_EQ(error, vr::VRInitError_None);
  EXPECT_TRUE(CallSlot<bool>(p, 4));
  EXPECT_STREQ(CallSlot<const char *>(p, 5, vr::VRInitError_None), "english");
  EXPECT_STREQ(CallSlot<const char *>(p, 6, vr::VRInitError_None), "id");
}

TEST(ClientAbi, SystemSlotsInRuntimeOrder) {
  RecordingSystem system;
  void *p = static_cast<vrclient::IVRSystem *>(&system);
  CallSlot<void>(p, 0);
  CallSlot<void>(p, 10);
  vr::TrackedDevicePose_t poses[2]{};
  CallSlot<void>(p, 11, vrclient::TrackingUniverseRawAndUncalibrated, 0.0f, &poses[0], uint32_t{2});
  CallSlot<void>(p, 12);
  CallSlot<void>(p, 16);
  EXPECT_EQ(system.calls, "0 10 poses(2,2) 12 16 ");
  EXPECT_TRUE(poses[0].bPoseIsValid);
  EXPECT_EQ(CallSlot<vr::TrackedDeviceIndex_t>(p, 17, vr::TrackedControllerRole_LeftHand), 41u);
  EXPECT_EQ(CallSlot<vr::ETrackedControllerRole>(p, 18, uint32_t{0}), vr::TrackedControllerRole_RightHand);
  EXPECT_EQ(CallSlot<vr::ETrackedDeviceClass>(p, 19, uint32_t{3}), vr::TrackedDeviceClass_GenericTracker);
  EXPECT_TRUE(CallSlot<bool>(p, 20, uint32_t{5}));
  CallSlot<void>(p, 21);
  CallSlot<void>(p, 26);
  char serial[8] = {};
  vr::ETrackedPropertyError error = vr::TrackedProp_UnknownProperty;
  EXPECT_EQ(CallSlot<uint32_t>(p, 27, uint32_t{1}, vr::Prop_SerialNumber_String, static_cast<char *>(serial),
                               uint32_t{8}, &error),
            4u);
  EXPECT_STREQ(serial, "TRK");
  EXPECT_EQ(error, vr::TrackedProp_Success);

  system.calls.clear();
  vrclient::EventBuffer event{};
  CallSlot<void>(p, 28);
  EXPECT_TRUE(CallSlot<bool>(p, 29, &event, vrclient::kClientEventSize));
  CallSlot<void>(p, 30);
  CallSlot<void>(p, 42);
  CallSlot<void>(p, 43);
  EXPECT_EQ(system.calls, "28 event(" + std::to_string(vrclient::kClientEventSize) + ") 30 42 ack ");
  EXPECT_EQ(event.eventType, 700u);
}

TEST(ClientAbi, NamesAndValuesTheRuntimeKnows) {
  EXPECT_STREQ(vrclient::kClientCoreVersion, "IVRClientCore_003");
  EXPECT_STREQ(vrclient::kSystemVersion, "IVRSystem_022");
  EXPECT_STREQ(vrclient::kClientCoreFactoryName, "VRClientCoreFactory");
  EXPECT_EQ(vrclient::VRApplication_Background, 3);
  EXPECT_EQ(vrclient::TrackingUniverseRawAndUncalibrated, 2);
  EXPECT_EQ(vrclient::kInitErrorNoServerForBackgroundApp, 121);
  EXPECT_EQ(vr::TrackedDeviceClass_GenericTracker, 3);
  EXPECT_EQ(vr::TrackedControllerRole_LeftHand, 1);
  EXPECT_EQ(vr::TrackedControllerRole_RightHand, 2);
  EXPECT_EQ(vr::Prop_SerialNumber_String, 1002);
  EXPECT_EQ(vr::TrackedProp_Success, 0);
  EXPECT_EQ(vr::k_unMaxTrackedDeviceCount, 64u);
  EXPECT_EQ(sizeof(vr::TrackedDevicePose_t), 80u);
  EXPECT_EQ(sizeof(vr::EVRInitError), 4u);
  // The runtime's event record: three 4-byte fields, then a 48-byte union of
  // 8-byte members, packed to 4 bytes on Linux and to 8 on Windows.
  EXPECT_EQ(vrclient::kClientEventSize, kPlatformEventSize);
  EXPECT_GE(sizeof(vrclient::EventBuffer), vrclient::kClientEventSize);
}
