// The Windows host is an MSVC program: it calls the driver's virtual methods
// with MSVC's register assignment, which for a by-value struct return differs
// from what mingw-w64 emits for the same declaration. These cases make the
// host's calls by hand and check that the built driver answers them.
#include <array>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "driver/controller_driver.h"
#include "driver/device_provider.h"

// Calls vtable slot `slot` of `object` as MSVC code does: this in RCX, then
// up to three arguments in RDX, R8, R9, with 32 bytes of shadow space. For a
// method returning a large struct MSVC passes the result buffer as the first
// argument (RDX) and expects it back in RAX; that is `a` here.
extern "C" uintptr_t vk5_msvc_call(void *object, uintptr_t slot, uintptr_t a, uintptr_t b, uintptr_t c);

asm(R"(
  .text
  .globl vk5_msvc_call
  .def vk5_msvc_call; .scl 2; .type 32; .endef
vk5_msvc_call:
  subq $40, %rsp
  movq (%rcx), %rax
  movq (%rax,%rdx,8), %rax
  movq %r8, %rdx
  movq %r9, %r8
  movq 80(%rsp), %r9
  callq *%rax
  addq $40, %rsp
  retq
)");

namespace {

uintptr_t Call(void *object, uintptr_t slot, const void *a = nullptr, uintptr_t b = 0, uintptr_t c = 0) {
  return vk5_msvc_call(object, slot, reinterpret_cast<uintptr_t>(a), b, c);
}

vr::DriverPose_t DistinctPose() {
  vr::DriverPose_t pose{};
  pose.poseTimeOffset = 0.125;
  pose.qWorldFromDriverRotation = {0.5, 0.5, -0.5, 0.5};
  pose.vecWorldFromDriverTranslation[2] = -7.0;
  pose.qDriverFromHeadRotation = {1, 0, 0, 0};
  pose.vecPosition[0] = 1.0;
  pose.vecPosition[1] = 2.0;
  pose.vecPosition[2] = 3.25;
  pose.vecVelocity[1] = -4.5;
  pose.vecAngularAcceleration[2] = 9.0;
  pose.qRotation = {0.9659258262890683, -0.25881904510252074, 0, 0};
  pose.result = vr::TrackingResult_Running_OK;
  pose.poseIsValid = true;
  pose.deviceIsConnected = true;
  return pose;
}

constexpr uintptr_t kGetComponentSlot = 3;
constexpr uintptr_t kDebugRequestSlot = 4;
constexpr uintptr_t kGetPoseSlot = 5;

} // namespace

TEST(MsvcHostCalls, GetPoseWritesTheCallersBufferAndReturnsIt) {
  ControllerDriver controller;
  controller.objectId = 7;
  controller.lastPose = DistinctPose();

  // The pose sits in a larger, patterned block so that a write past its end
  // or into the wrong place shows.
  struct Buffer {
    vr::DriverPose_t pose;
    std::array<unsigned char, 64> guard;
  } buffer;
  std::memset(&buffer, 0xCD, sizeof buffer);

  const uintptr_t returned = Call(&controller, kGetPoseSlot, &buffer.pose);

  EXPECT_EQ(returned, reinterpret_cast<uintptr_t>(&buffer.pose));
  const vr::DriverPose_t expected = DistinctPose();
  EXPECT_EQ(std::memcmp(&buffer.pose, &expected, sizeof expected), 0);
  for (unsigned char byte : buffer.guard) ASSERT_EQ(byte, 0xCD);
  // Swapped registers would have written the pose over the object itself.
  EXPECT_EQ(controller.objectId, 7u);
  EXPECT_EQ(std::memcmp(&controller.lastPose, &expected, sizeof expected), 0);
  EXPECT_EQ(Call(&controller, kGetComponentSlot, "IVRDisplayComponent_002"), 0u);
}

TEST(MsvcHostCalls, GetPoseReflectsTheLatestPoseOnEveryCall) {
  ControllerDriver controller;
  vr::DriverPose_t out{};
  Call(&controller, kGetPoseSlot, &out);
  EXPECT_FALSE(out.poseIsValid);

  controller.lastPose = DistinctPose();
  Call(&controller, kGetPoseSlot, &out);
  EXPECT_TRUE(out.poseIsValid);
  EXPECT_DOUBLE_EQ(out.vecPosition[2], 3.25);
}

TEST(MsvcHostCalls, DeviceSlotsBeforeGetPoseTakeTheirArgumentsInOrder) {
  ControllerDriver controller;
  for (const char *name : {"IVRDriverInput_003", "IVRDisplayComponent_002"})
    EXPECT_EQ(Call(&controller, kGetComponentSlot, name), reinterpret_cast<uintptr_t>(controller.GetComponent(name)))
        << name;

  char response[4] = {'x', 'y', 'z', '\0'};
  Call(&controller, kDebugRequestSlot, "ping", reinterpret_cast<uintptr_t>(response), 0);
  EXPECT_EQ(response[0], 'x') << "size 0 must leave the buffer alone";
  Call(&controller, kDebugRequestSlot, "ping", reinterpret_cast<uintptr_t>(response), sizeof response);
  EXPECT_EQ(response[0], '\0');
}

TEST(MsvcHostCalls, ProviderSlotsAnswerAsTheHostExpects) {
  DeviceProvider provider;
  constexpr uintptr_t kGetInterfaceVersionsSlot = 2;
  constexpr uintptr_t kShouldBlockStandbyModeSlot = 4;
  // The list is a header constant with one copy per translation unit: compare the text.
  const auto *versions = reinterpret_cast<const char *const *>(Call(&provider, kGetInterfaceVersionsSlot));
  ASSERT_NE(versions, nullptr);
  size_t i = 0;
  for (; vr::k_InterfaceVersions[i]; ++i) ASSERT_STREQ(versions[i], vr::k_InterfaceVersions[i]);
  EXPECT_EQ(versions[i], nullptr);
  EXPECT_EQ(Call(&provider, kShouldBlockStandbyModeSlot) & 0xFF, 0u);
  // Init with a null context fails cleanly rather than dereferencing it.
  EXPECT_EQ(static_cast<uint32_t>(Call(&provider, 0, nullptr)),
            static_cast<uint32_t>(vr::VRInitError_Init_InterfaceNotFound));
}
