// The link road on Windows, as a black box: the development host loads the
// built module from a driver folder; the module reaches the Bluetooth classes
// through its fallback lookup, which finds the fake class module beside it
// (this runtime has no Bluetooth classes of its own), and finds the pistol,
// subscribes, and turns its trigger packet into a press on the host.
#include <thread>

#include "tests/blackbox/windows_link_road.h"

namespace {

using namespace windows_road;

TEST_F(WindowsLinkRoad, FindsThePistolSubscribesAndATriggerPacketBecomesA21FramePress) {
  Start();
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 10s));
  const std::vector<std::string> lines = LinkLines();
  const std::vector<std::string> expected{"Vantorelle Running",
                                          "Starting the advertisement watcher.",
                                          "Found device: Pistol (Address: 187723572702975)",
                                          "Target device found.",
                                          "Connecting to device: 187723572702975",
                                          std::string("Found GATT service: ") + kService,
                                          std::string("Subscribing to characteristic: ") + kCharacteristic,
                                          std::string("Successfully subscribed to notifications for characteristic: ") +
                                              kCharacteristic,
                                          "Device successfully connected."};
  ASSERT_GE(lines.size(), expected.size());
  const auto first = std::find(lines.begin(), lines.end(), expected.front());
  ASSERT_NE(first, lines.end());
  EXPECT_EQ(std::vector<std::string>(first, first + static_cast<std::ptrdiff_t>(
                                                        std::min<std::size_t>(expected.size(), lines.end() - first))),
            expected);
  EXPECT_EQ(fake_.Count("subscribed"), 1);

  const std::uint8_t trigger[] = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};
  ASSERT_EQ(fake_.Notify(kPistol, trigger, sizeof trigger), 1);
  ASSERT_TRUE(host_.WaitForLog("Received data: 91 0 0 0 0 93 END", 3s));

  // Frame by frame: the press, held, then released.
  int pressedAt = -1, releasedAt = -1;
  std::size_t seen = host_.Events().size();
  for (int frame = 1; frame <= 100 && releasedAt < 0; ++frame) {
    provider_->RunFrame();
    const std::vector<Event> events = host_.Events();
    for (std::size_t i = seen; i < events.size(); ++i) {
      const Event &e = events[i];
      if (e.kind != Event::Kind::BooleanUpdate || host_.ComponentName(e.handle) != "/input/fire/click") continue;
      if (e.value == 1.0 && pressedAt < 0) pressedAt = frame;
      if (e.value == 0.0 && pressedAt >= 0) releasedAt = frame;
    }
    seen = events.size();
  }
  ASSERT_GE(pressedAt, 1);
  EXPECT_EQ(pressedAt, 1) << "the latch was set before the first frame";
  EXPECT_EQ(releasedAt - pressedAt, 21) << "pressed for 21 frames, released on the next";

  Stop();
  // Every registration was revoked before the worker ended.
  EXPECT_EQ(fake_.Count("handlers"), 0);
}

TEST_F(WindowsLinkRoad, ADropIsLoggedAndThePistolIsFoundAgain) {
  Start();
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 10s));
  fake_.Drop(kPistol);
  ASSERT_TRUE(host_.WaitForLog("Device connection lost.", 5s));
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 10s, 2));
  EXPECT_EQ(host_.CountLog("Starting the advertisement watcher."), 2u);
  EXPECT_EQ(host_.CountLog("Disconnected from device: Pistol"), 1u);
  EXPECT_EQ(fake_.Count("subscribed"), 1);
  Stop();
  EXPECT_EQ(fake_.Count("handlers"), 0);
}

TEST_F(WindowsLinkRoad, DeactivateReturnsPromptlyWhileAnOperationNeverCompletes) {
  fake_.NeverComplete("FromBluetoothAddressAsync", true);
  const long canceledBefore = fake_.Count("canceled");
  Start();
  ASSERT_TRUE(host_.WaitForLog("Connecting to device: 187723572702975", 10s));
  std::this_thread::sleep_for(200ms);
  EXPECT_LT(Stop(), 1000ms);
  EXPECT_EQ(fake_.Count("canceled"), canceledBefore + 1);
  EXPECT_FALSE(host_.WaitForLog("Device successfully connected.", 0ms));
}

// The radio switched off and on again (in the system's settings): the link
// comes back by itself within 5 s of the radio, without a new activation.
TEST_F(WindowsLinkRoad, TheRadioSwitchedOffAndOnWhileConnectedBringsTheLinkBack) {
  Start();
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 10s));
  fake_.Radio(false);
  ASSERT_TRUE(host_.WaitForLog("Device connection lost.", 5s));
  // Scans started while the radio is off abort at once, and are tried again.
  ASSERT_TRUE(host_.WaitForLog("Watcher stopped.", 5s, 2));
  ASSERT_TRUE(host_.WaitForLog("Starting the advertisement watcher.", 5s, 3));
  fake_.Radio(true);
  const auto on = std::chrono::steady_clock::now();
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 5s, 2)) << "not back within 5 s of the radio";
  RecordProperty("recovery_ms", static_cast<int>((std::chrono::steady_clock::now() - on) / 1ms));
  EXPECT_EQ(fake_.Count("subscribed"), 1);
  Stop();
  EXPECT_EQ(fake_.Count("handlers"), 0);
}

TEST_F(WindowsLinkRoad, TheRadioSwitchedOffAndOnWhileScanningBringsTheLinkBack) {
  fake_.Reset(); // the pistol is still switched off
  Start();
  ASSERT_TRUE(host_.WaitForLog("Starting the advertisement watcher.", 10s));
  std::this_thread::sleep_for(100ms);
  fake_.Radio(false);
  ASSERT_TRUE(host_.WaitForLog("Watcher stopped.", 5s));
  ASSERT_TRUE(host_.WaitForLog("Starting the advertisement watcher.", 5s, 2));
  fake_.Radio(true);
  fake_.AddPistol(kPistol, L"Pistol");
  const auto on = std::chrono::steady_clock::now();
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 5s)) << "not back within 5 s of the radio";
  RecordProperty("recovery_ms", static_cast<int>((std::chrono::steady_clock::now() - on) / 1ms));
  EXPECT_EQ(fake_.Count("subscribed"), 1);
  Stop();
  EXPECT_EQ(fake_.Count("handlers"), 0);
}

// The runtime may call into the module after the host has unloaded it: the
// completion of a wait that Deactivate abandoned, and deliveries already under
// way when the registrations were revoked. Neither may crash the host or
// reach its interfaces. The parameter is how the held lookup ends.
class WindowsLinkRoadAfterUnload : public WindowsLinkRoad, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(WindowsLinkRoadAfterUnload, LateCompletionsAndDeliveriesReachNothing) {
  fake_.KeepLateDeliveries(true);
  Start();
  ASSERT_TRUE(host_.WaitForLog("Device successfully connected.", 10s));
  // The link drops; the next lookup never answers while the device is active.
  fake_.Hold("FromBluetoothAddressAsync", true);
  const long canceledBefore = fake_.Count("canceled");
  fake_.Drop(kPistol);
  ASSERT_TRUE(host_.WaitForLog("Connecting to device: 187723572702975", 10s, 2));
  std::this_thread::sleep_for(100ms);
  EXPECT_LT(Stop(), 1000ms);
  EXPECT_EQ(fake_.Count("canceled"), canceledBefore + 1) << "Deactivate asks the lookup to cancel";
  EXPECT_EQ(fake_.Count("handlers"), 0);
  const std::size_t linesAtCleanup = host_.LogLines().size();
  const std::size_t eventsAtCleanup = host_.Events().size();
  module_.Close();

  EXPECT_EQ(fake_.FinishHeld(GetParam()), 1);
  // Watcher (Received, Stopped), device (status) and characteristic (value).
  EXPECT_GE(fake_.DeliverLate(), 4);
  EXPECT_EQ(host_.LogLines().size(), linesAtCleanup) << "nothing is logged after Cleanup";
  EXPECT_EQ(host_.Events().size(), eventsAtCleanup) << "the host is not called after Cleanup";

  // Loaded again, the module starts without the trigger packet that came late.
  fake_.Reset();
  Start();
  for (int frame = 0; frame < 5; ++frame) provider_->RunFrame();
  for (const Event &e : host_.Events())
    if (e.kind == Event::Kind::BooleanUpdate && e.value != 0.0) ADD_FAILURE() << "a press nobody made reached the host";
}

INSTANTIATE_TEST_SUITE_P(Ends, WindowsLinkRoadAfterUnload, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<std::int32_t> &param) {
                           return param.param == 1 ? "Completed" : "Canceled";
                         });

} // namespace
