// The simulator's command language: what the demo's and the developers'
// scripts are made of, and the mistakes it must refuse rather than misread.
#include <gtest/gtest.h>

#include "tools/pistol-sim/script.h"

namespace {

using namespace pistolsim;
using Kind = Command::Kind;

Command Parse(std::string_view line) {
  const ParseResult result = ParseLine(line);
  EXPECT_TRUE(result.error.empty()) << line << ": " << result.error;
  EXPECT_TRUE(result.command) << line;
  return result.command.value_or(Command{});
}

TEST(PistolScript, ButtonsSendTheirExactPackets) {
  EXPECT_EQ(Parse("fire").bytes, (std::vector<std::uint8_t>{0x5B, 0, 0, 0, 0, 0x5D}));
  EXPECT_EQ(Parse("  eject  # magazine out").bytes, (std::vector<std::uint8_t>{0x5C, 0x00, 0x5C, 0x5D}));
  EXPECT_EQ(Parse("load").bytes, (std::vector<std::uint8_t>{0x5C, 0x01, 0x5D, 0x5D}));
  const Command raw = Parse("raw 5b FF 0 5d");
  EXPECT_EQ(raw.kind, Kind::Send);
  EXPECT_EQ(raw.label, "raw");
  EXPECT_EQ(raw.bytes, (std::vector<std::uint8_t>{0x5B, 0xFF, 0x00, 0x5D}));
}

TEST(PistolScript, WaitsTakeMillisecondsOrSecondsAndConditionWaitsHaveABound) {
  EXPECT_EQ(Parse("wait 200ms").duration, std::chrono::milliseconds(200));
  EXPECT_EQ(Parse("wait 1.5s").duration, std::chrono::milliseconds(1500));
  EXPECT_EQ(Parse("wait 0ms").duration, std::chrono::milliseconds(0));
  const Command subscribed = Parse("wait-subscribed");
  EXPECT_EQ(subscribed.kind, Kind::WaitSubscribed);
  EXPECT_GT(subscribed.duration, std::chrono::milliseconds(0));
  EXPECT_EQ(Parse("wait-connected 3s").duration, std::chrono::milliseconds(3000));
}

TEST(PistolScript, BlankAndCommentLinesAreNothing) {
  for (std::string_view line : {"", "   ", "# a comment", "\t# indented\r"}) {
    const ParseResult result = ParseLine(line);
    EXPECT_FALSE(result.command) << line;
    EXPECT_TRUE(result.error.empty()) << line;
  }
}

TEST(PistolScript, MistakesAreRefusedWithAReason) {
  for (std::string_view line : {"shoot",
                                "wait",
                                "wait 200",
                                "wait -1s",
                                "wait 2m",
                                "fire twice",
                                "raw",
                                "raw 5bb",
                                "raw zz",
                                "use 0",
                                "use x",
                                "set hide-service maybe",
                                "set explode on",
                                "service",
                                "service restart",
                                "adapter on",
                                "power",
                                "stall StartNotify",
                                "stall on",
                                "burst 1000",
                                "burst 0 1s",
                                "burst 1e3 1s",
                                "burst 1000 30"}) {
    const ParseResult result = ParseLine(line);
    EXPECT_FALSE(result.command) << line;
    EXPECT_FALSE(result.error.empty()) << line;
  }
}

TEST(PistolScript, MisbehaviourAndPistolSelectionAreCommandsToo) {
  const Command set = Parse("set fail-notify on");
  EXPECT_EQ(set.kind, Kind::Set);
  EXPECT_EQ(set.flag, "fail-notify");
  EXPECT_TRUE(set.on);
  EXPECT_FALSE(Parse("set hang-connect off").on);
  EXPECT_EQ(Parse("use 2").pistol, 2);
  EXPECT_EQ(Parse("drop").kind, Kind::Drop);
  EXPECT_EQ(Parse("reappear").kind, Kind::Reappear);
  EXPECT_EQ(Parse("quit").kind, Kind::Quit);
}

TEST(PistolScript, OutagesStallsAndBurstsSayWhichWayTheyGo) {
  const Command stop = Parse("service stop");
  EXPECT_EQ(stop.kind, Kind::Service);
  EXPECT_FALSE(stop.on);
  EXPECT_TRUE(Parse("service start").on);
  EXPECT_FALSE(Parse("adapter remove").on);
  EXPECT_TRUE(Parse("adapter add").on);
  EXPECT_EQ(Parse("power off").kind, Kind::Power);
  EXPECT_TRUE(Parse("power on").on);
  const Command stall = Parse("stall GetManagedObjects on");
  EXPECT_EQ(stall.kind, Kind::Stall);
  EXPECT_EQ(stall.flag, "GetManagedObjects");
  EXPECT_TRUE(stall.on);
  const Command burst = Parse("burst 1000 30s");
  EXPECT_EQ(burst.kind, Kind::Burst);
  EXPECT_EQ(burst.rate, 1000);
  EXPECT_EQ(burst.duration, std::chrono::seconds(30));
}

} // namespace
