// Notification packets: which exact bytes press which button, and the log line.
#include <vector>

#include <gtest/gtest.h>

#include "ble/input_latches.h"
#include "ble/packet_decoder.h"
#include "tools/host/dev_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Decoder, TriggerPacketIgnoresItsMiddleBytes) {
  for (const Bytes &packet : {Bytes{0x5B, 0, 0, 0, 0, 0x5D}, Bytes{0x5B, 0xFF, 0xFF, 0xFF, 0xFF, 0x5D},
                              Bytes{0x5B, 0x5C, 0x5C, 0x5C, 0x5C, 0x5D}})
    EXPECT_EQ(DecodeNotification(packet), PistolButton::Fire);
}

TEST(Decoder, MagazinePacketsMatchExactly) {
  EXPECT_EQ(DecodeNotification(Bytes{0x5C, 0x00, 0x5C, 0x5D}), PistolButton::EjectMag);
  EXPECT_EQ(DecodeNotification(Bytes{0x5C, 0x01, 0x5D, 0x5D}), PistolButton::LoadMag);
  for (const Bytes &packet : {Bytes{0x5C, 0x00, 0x5D, 0x5D}, Bytes{0x5C, 0x01, 0x5C, 0x5D},
                              Bytes{0x5C, 0x02, 0x5D, 0x5D}, Bytes{0x5D, 0x00, 0x5C, 0x5D}})
    EXPECT_EQ(DecodeNotification(packet), PistolButton::None);
}

TEST(Decoder, LengthMustMatchExactly) {
  for (const Bytes &packet : {Bytes{}, Bytes{0x5B, 0, 0, 0, 0, 0x5C}, Bytes{0x5C, 0x00, 0x5C, 0x5D, 0x00},
                              Bytes{0x5B, 0, 0, 0, 0, 0x5D, 0x00}, Bytes{0x5B, 0, 0, 0, 0x5D}, Bytes{0x5B, 0x5D}})
    EXPECT_EQ(DecodeNotification(packet), PistolButton::None);
}

TEST(Decoder, LogLineListsEveryByteInDecimal) {
  EXPECT_EQ(ReceivedDataLine(Bytes{0x5C, 0x00, 0x5C, 0x5D}), "Received data: 92 0 92 93 END");
  EXPECT_EQ(ReceivedDataLine(Bytes{0x5B, 0, 0, 0, 0, 0x5C}), "Received data: 91 0 0 0 0 92 END");
  EXPECT_EQ(ReceivedDataLine(Bytes{}), "Received data: END");
  EXPECT_EQ(ReceivedDataLine(Bytes{0xFF, 0x00, 0x0A, 0x64}), "Received data: 255 0 10 100 END");
}

class Notification : public ::testing::Test {
protected:
  void SetUp() override { vr::VRDriverContext() = &host; }
  void TearDown() override { vr::CleanupDriverContext(); }
  devhost::DevHost host;
  InputLatches latches;
};

TEST_F(Notification, SetsOnlyItsLatchThenLogs) {
  // Sampled as the line reaches the host: a frame that sees the line must find the latch set.
  bool latchSetWhenLogged = false;
  host.SetListener([&](const devhost::Event &e) {
    if (e.kind == devhost::Event::Kind::Log) latchSetWhenLogged = latches.load_mag.load();
  });
  HandleNotification(Bytes{0x5C, 0x01, 0x5D, 0x5D}, latches);
  EXPECT_TRUE(latchSetWhenLogged);
  EXPECT_FALSE(latches.fire.load());
  EXPECT_FALSE(latches.eject_mag.load());
  EXPECT_TRUE(latches.load_mag.load());
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Received data: 92 1 93 93 END"});
}

TEST_F(Notification, RepeatedTriggerIsOneEventUntilTaken) {
  HandleNotification(Bytes{0x5B, 0, 0, 0, 0, 0x5D}, latches);
  HandleNotification(Bytes{0x5B, 1, 2, 3, 4, 0x5D}, latches);
  EXPECT_TRUE(latches.fire.exchange(false));
  EXPECT_FALSE(latches.fire.load());
  EXPECT_EQ(host.LogLines().size(), 2u);
}

TEST_F(Notification, GarbageIsOnlyLogged) {
  HandleNotification(Bytes{0x5B, 0, 0, 0, 0, 0x5C}, latches);
  EXPECT_FALSE(latches.fire.load() || latches.eject_mag.load() || latches.load_mag.load());
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Received data: 91 0 0 0 0 92 END"});
}

} // namespace
