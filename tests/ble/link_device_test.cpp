// The link as part of the device: started by Activate, stopped by
// Deactivate or Cleanup in any order, and a pistol's trigger reaching the host
// as one 21-frame press.
#include "driver/controller_driver.h"
#include "driver/device_provider.h"
#include "tests/ble/link_fixture.h"

namespace linktest {
namespace {

using K = devhost::Event::Kind;

class DeviceLinkTest : public LinkTest {
protected:
  void SetUp() override {
    LinkTest::SetUp();
    ASSERT_EQ(provider.Init(&host), vr::VRInitError_None);
    controller = provider.controller;
  }
  void TearDown() override {
    provider.Cleanup();
    LinkTest::TearDown();
  }

  size_t FirePresses() const {
    size_t presses = 0;
    for (const auto &e : host.EventsOf(K::BooleanUpdate))
      if (e.text == "/input/fire/click" && e.value != 0) ++presses;
    return presses;
  }

  // Frames until the host has seen `presses` fire presses (bounded).
  bool RunFramesUntilPresses(size_t presses) {
    for (int frame = 0; frame < 5000; ++frame) {
      provider.RunFrame();
      if (FirePresses() >= presses) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

  DeviceProvider provider;
  ControllerDriver *controller = nullptr;
};

TEST_F(DeviceLinkTest, TriggerBecomesOne21FramePress) {
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  controller->Activate(0);
  WaitForScan();
  radio.Advertise(kPistol, u"Pistol");
  ASSERT_TRUE(Logged("Device successfully connected."));
  radio.Notify(kPistol, kCharacteristic, {0x5B, 0, 0, 0, 0, 0x5D});
  ASSERT_TRUE(RunFramesUntilPresses(1));
  int frames = 0;
  while (host.EventsOf(K::BooleanUpdate).size() < 2 && frames < 100) {
    provider.RunFrame();
    ++frames;
  }
  EXPECT_EQ(frames, 21) << "the release comes on the 21st frame after the press";
  const auto scalars = host.EventsOf(K::ScalarUpdate);
  ASSERT_EQ(scalars.size(), 2u);
  EXPECT_EQ(scalars[0].value, 1.0);
  EXPECT_EQ(scalars[1].value, 0.0);
  controller->Deactivate();
  EXPECT_FALSE(controller->linkThread.joinable());
}

TEST_F(DeviceLinkTest, SecondActivationKeepsTheRunningWorker) {
  controller->Activate(0);
  controller->Activate(0);
  ASSERT_TRUE(Logged("Starting the advertisement watcher."));
  EXPECT_EQ(host.CountLog("Vantorelle Running"), 1u);
  controller->Deactivate();
  controller->Deactivate();
  EXPECT_EQ(radio.RegisteredHandlers(), 0);
}

TEST_F(DeviceLinkTest, ReactivationGetsAWorkingLink) {
  controller->Activate(0);
  ASSERT_TRUE(Logged("Starting the advertisement watcher."));
  controller->Deactivate();
  controller->Activate(1);
  ASSERT_TRUE(Logged("Starting the advertisement watcher.", 2));
  EXPECT_EQ(host.CountLog("Vantorelle Running"), 2u);
}

TEST_F(DeviceLinkTest, DeactivateWithoutActivateDoesNotHang) {
  controller->Deactivate();
  EXPECT_EQ(controller->objectId, vr::k_unTrackedDeviceIndexInvalid);
}

TEST_F(DeviceLinkTest, CleanupWithoutDeactivateStopsTheWorker) {
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  controller->Activate(0);
  WaitForScan();
  radio.Advertise(kPistol, u"Pistol");
  ASSERT_TRUE(Logged("Device successfully connected."));
  provider.Cleanup();
  radio.WaitIdle();
  EXPECT_EQ(radio.RegisteredHandlers(), 0);
  EXPECT_EQ(radio.Calls(ble::sim::Op::Close), 1);
}

// Many connect, notify and drop cycles: every trigger sent while the button
// is released becomes exactly one press, and nothing piles up.
TEST_F(DeviceLinkTest, SoakOfConnectNotifyDrop) {
  constexpr size_t kCycles = 150;
  radio.AddPistol(ble::sim::StandardPistol(kPistol));
  controller->Activate(0);
  int baselineObjects = -1;
  for (size_t cycle = 1; cycle <= kCycles; ++cycle) {
    WaitForScan(cycle);
    radio.Advertise(kPistol, u"Pistol");
    ASSERT_TRUE(Logged("Device successfully connected.", cycle));
    radio.Notify(kPistol, kCharacteristic, {0x5B, 1, 2, 3, 4, 0x5D});
    ASSERT_TRUE(RunFramesUntilPresses(cycle));
    for (int frame = 0; frame < 21; ++frame) provider.RunFrame(); // released again
    radio.Disconnect(kPistol);
    ASSERT_TRUE(Logged("Device connection lost.", cycle));
    // Counted once the worker scans again: the loss is logged before the
    // dropped link is let go.
    WaitForScan(cycle + 1);
    if (cycle == 2) baselineObjects = radio.LiveObjects();
  }
  EXPECT_EQ(FirePresses(), kCycles);
  EXPECT_LE(radio.LiveObjects(), baselineObjects) << "objects of dropped links are released";
  controller->Deactivate();
}

} // namespace
} // namespace linktest
