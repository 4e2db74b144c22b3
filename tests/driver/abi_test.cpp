// Pins the host-facing binary layout: struct sizes and offsets, and the vtable
// slot of every interface method the driver implements or calls.
#include <cstddef>
#include <string>

#include <gtest/gtest.h>
#include <openvr_driver.h>

#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "tests/common/call_slot.h"
#include "tools/host/dev_host.h"

namespace {

#ifndef VK5_OFFICIAL_OPENVR_HEADER
static_assert(sizeof(vr::DriverPose_t) == 280 && alignof(vr::DriverPose_t) == 8);
#endif

TEST(AbiLayout, DriverPoseMatchesTheHost) {
  EXPECT_EQ(sizeof(vr::DriverPose_t), 280u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, poseTimeOffset), 0u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, qWorldFromDriverRotation), 8u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecWorldFromDriverTranslation), 40u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, qDriverFromHeadRotation), 64u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecDriverFromHeadTranslation), 96u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecPosition), 120u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecVelocity), 144u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecAcceleration), 168u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, qRotation), 192u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecAngularVelocity), 224u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, vecAngularAcceleration), 248u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, result), 272u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, poseIsValid), 276u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, willDriftInYaw), 277u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, shouldApplyHeadModel), 278u);
  EXPECT_EQ(offsetof(vr::DriverPose_t, deviceIsConnected), 279u);
  EXPECT_EQ(sizeof(vr::HmdQuaternion_t), 32u);
  EXPECT_EQ(offsetof(vr::HmdQuaternion_t, w), 0u);
}

TEST(AbiLayout, TrackedDevicePoseMatchesTheHost) {
  EXPECT_EQ(sizeof(vr::TrackedDevicePose_t), 80u);
  EXPECT_EQ(alignof(vr::TrackedDevicePose_t), 4u);
  EXPECT_EQ(offsetof(vr::TrackedDevicePose_t, mDeviceToAbsoluteTracking), 0u);
  EXPECT_EQ(offsetof(vr::TrackedDevicePose_t, vVelocity), 48u);
  EXPECT_EQ(offsetof(vr::TrackedDevicePose_t, vAngularVelocity), 60u);
  EXPECT_EQ(offsetof(vr::TrackedDevicePose_t, eTrackingResult), 72u);
  EXPECT_EQ(offsetof(vr::TrackedDevicePose_t, bPoseIsValid), 76u);
  EXPECT_EQ(offsetof(vr::TrackedDevicePose_t, bDeviceIsConnected), 77u);
  EXPECT_EQ(sizeof(vr::HmdMatrix34_t), 48u);
}

TEST(AbiLayout, PropertyRecordsMatchTheHost) {
  EXPECT_EQ(sizeof(vr::PropertyWrite_t), 40u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, prop), 0u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, writeType), 4u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, eSetError), 8u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, pvBuffer), 16u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, unBufferSize), 24u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, unTag), 28u);
  EXPECT_EQ(offsetof(vr::PropertyWrite_t, eError), 32u);
  EXPECT_EQ(sizeof(vr::PropertyRead_t), 32u);
  EXPECT_EQ(offsetof(vr::PropertyRead_t, pvBuffer), 8u);
  EXPECT_EQ(offsetof(vr::PropertyRead_t, eError), 28u);
}

TEST(AbiLayout, EnumValuesAndVersionStrings) {
  EXPECT_EQ(sizeof(vr::EVRInitError), 4u);
  EXPECT_EQ(vr::VRInitError_Init_InterfaceNotFound, 105);
  EXPECT_EQ(vr::TrackedDeviceClass_Controller, 2);
  EXPECT_EQ(vr::Prop_InputProfilePath_String, 1037);
  EXPECT_EQ(vr::Prop_ControllerType_String, 7000);
  EXPECT_EQ(vr::Prop_ControllerRoleHint_Int32, 3007);
  EXPECT_EQ(vr::Prop_ControllerHandSelectionPriority_Int32, 7002);
  EXPECT_EQ(vr::VRScalarType_Absolute, 0);
  EXPECT_EQ(vr::VRScalarUnits_NormalizedTwoSided, 1);
  EXPECT_EQ(vr::k_unTrackedDeviceIndexInvalid, 0xFFFFFFFFu);
  EXPECT_STREQ(vr::IVRServerDriverHost_Version, "IVRServerDriverHost_006");
  EXPECT_STREQ(vr::IVRDriverInput_Version, "IVRDriverInput_003");
  EXPECT_STREQ(vr::IVRProperties_Version, "IVRProperties_001");
  EXPECT_STREQ(vr::IVRDriverLog_Version, "IVRDriverLog_001");
}

TEST(AbiSlots, ProviderSlotsInHostOrder) {
  DeviceProvider provider;
  vr::IServerTrackedDeviceProvider *p = &provider;
  devhost::DevHost host;
  EXPECT_EQ(CallSlot<vr::EVRInitError>(p, 0, static_cast<vr::IVRDriverContext *>(&host)), vr::VRInitError_None);
  ASSERT_NE(provider.controller, nullptr);
  EXPECT_STREQ(CallSlot<const char *const *>(p, 2)[5], "IServerTrackedDeviceProvider_004");
  CallSlot<void>(p, 3); // RunFrame
  EXPECT_FALSE(CallSlot<bool>(p, 4));
  CallSlot<void>(p, 5);
  CallSlot<void>(p, 6);
  CallSlot<void>(p, 1); // Cleanup
  EXPECT_EQ(provider.controller, nullptr);
}

TEST(AbiSlots, ControllerSlotsInHostOrder) {
  devhost::DevHost host;
  DeviceProvider provider;
  ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
  ControllerDriver &c = *provider.controller;
  vr::ITrackedDeviceServerDriver *d = &c;
  EXPECT_EQ(CallSlot<vr::EVRInitError>(d, 0, uint32_t{7}), vr::VRInitError_None);
  EXPECT_EQ(c.objectId, 7u);
  CallSlot<void>(d, 2); // EnterStandby
  EXPECT_EQ(CallSlot<void *>(d, 3, "IVRDriverInput_003"), static_cast<void *>(d));
  char buffer[4] = {'x', 'x', 'x', 'x'};
  CallSlot<void>(d, 4, "", static_cast<char *>(buffer), uint32_t{4});
  EXPECT_EQ(buffer[0], '\0');
#ifndef VK5_GETPOSE_OUT_PARAM
  c.lastPose.vecPosition[1] = 4.5;
  const vr::DriverPose_t pose = CallSlot<vr::DriverPose_t>(d, 5);
  EXPECT_EQ(pose.vecPosition[1], 4.5);
#endif
  CallSlot<void>(d, 1); // Deactivate
  EXPECT_EQ(c.objectId, vr::k_unTrackedDeviceIndexInvalid);
  provider.Cleanup();
}

// A host interface records which slot the driver's calls land in.
TEST(AbiSlots, HostInterfacesCalledAtTheirSlots) {
  devhost::DevHost host;
  auto *input = static_cast<vr::IVRDriverInput *>(host.GetGenericInterface(vr::IVRDriverInput_Version, nullptr));
  vr::VRInputComponentHandle_t handle = 0;
  CallSlot<vr::EVRInputError>(input, 0, vr::PropertyContainerHandle_t{1}, "/input/a/click", &handle);
  CallSlot<vr::EVRInputError>(input, 2, vr::PropertyContainerHandle_t{1}, "/input/a/value", &handle,
                              vr::VRScalarType_Absolute, vr::VRScalarUnits_NormalizedTwoSided);
  auto *log = static_cast<vr::IVRDriverLog *>(host.GetGenericInterface(vr::IVRDriverLog_Version, nullptr));
  CallSlot<vr::EVRInputError>(input, 1, handle, true, 0.0);
  CallSlot<vr::EVRInputError>(input, 3, handle, 0.5f, 0.0);
  CallSlot<void>(log, 0, "line");
  auto *props = static_cast<vr::IVRProperties *>(host.GetGenericInterface(vr::IVRProperties_Version, nullptr));
  EXPECT_EQ(CallSlot<vr::PropertyContainerHandle_t>(props, 3, vr::TrackedDeviceIndex_t{2}), 0x1002u);
  int32_t value = 5;
  vr::PropertyWrite_t write{};
  write.prop = vr::Prop_ControllerRoleHint_Int32;
  write.pvBuffer = &value;
  write.unBufferSize = 4;
  write.unTag = vr::k_unInt32PropertyTag;
  CallSlot<vr::ETrackedPropertyError>(props, 1, vr::PropertyContainerHandle_t{1}, &write, uint32_t{1});
  auto *server =
      static_cast<vr::IVRServerDriverHost *>(host.GetGenericInterface(vr::IVRServerDriverHost_Version, nullptr));
  CallSlot<bool>(server, 0, "serial", vr::TrackedDeviceClass_Controller,
                 static_cast<vr::ITrackedDeviceServerDriver *>(nullptr));
  vr::DriverPose_t pose{};
  CallSlot<void>(server, 1, uint32_t{3}, &pose, uint32_t{sizeof pose});

  using K = devhost::Event::Kind;
  const auto events = host.Events();
  std::vector<K> kinds;
  for (const auto &e : events)
    if (e.kind != K::InterfaceRequest) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<K>{K::ComponentCreated, K::ComponentCreated, K::BooleanUpdate, K::ScalarUpdate, K::Log,
                                   K::Property, K::DeviceAdded, K::PoseUpdate}));
  EXPECT_EQ(host.EventsOf(K::PoseUpdate)[0].size, 280u);
  EXPECT_EQ(host.EventsOf(K::ComponentCreated)[1].text, "/input/a/value");
}

} // namespace
