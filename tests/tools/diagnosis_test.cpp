// Reading the driver's log lines as the diagnostics tool does: phases,
// packets, and the verdict a user gets.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/doctor/diagnosis.h"

namespace {

using doctor::Diagnosis;
using doctor::Verdict;

Diagnosis Read(const std::vector<std::string> &lines) {
  Diagnosis d;
  for (const std::string &line : lines) d.Observe(line);
  return d;
}

TEST(Diagnosis, AFullLinkIsSubscribedAndItsPacketsNamed) {
  Diagnosis d;
  EXPECT_EQ(d.Observe("Starting the advertisement watcher."), "phase: scanning");
  EXPECT_FALSE(d.Observe("Found device: Pistol (Address: 187723572702975)"));
  EXPECT_EQ(d.Observe("Target device found."), "phase: pistol found");
  EXPECT_EQ(d.Observe("Device successfully connected."), "phase: connected");
  EXPECT_EQ(d.Observe("Received data: 91 0 0 0 0 93 END"), "packet: trigger");
  EXPECT_EQ(d.Observe("Received data: 92 0 92 93 END"), "packet: magazine eject");
  EXPECT_EQ(d.Observe("Received data: 92 1 93 93 END"), "packet: magazine load");
  EXPECT_EQ(d.Observe("Received data: END"), "packet: not a button (ignored)");
  EXPECT_EQ(d.verdict(), Verdict::Subscribed);
  EXPECT_EQ(d.packets(), 4);
}

TEST(Diagnosis, PistolWithoutItsServiceOrConnection) {
  EXPECT_EQ(Read({"Starting the advertisement watcher.", "Target device found.", "Target characteristic not found."})
                .verdict(),
            Verdict::ServiceMissing);
  EXPECT_EQ(
      Read({"Starting the advertisement watcher.", "Target device found.", "Failed to get GATT services."}).verdict(),
      Verdict::ConnectionFailed);
}

TEST(Diagnosis, MissingRadioSettlesAtOnce) {
  const Diagnosis noBus = Read({"Vantorelle Running", "Link error: 0x800704C9."});
  EXPECT_EQ(noBus.verdict(), Verdict::NoBluetoothService);
  EXPECT_TRUE(noBus.Settled());
  EXPECT_EQ(Read({"Link error: 0x80070426."}).verdict(), Verdict::NoBluetoothService);
  EXPECT_EQ(Read({"Link error: 0x800710DF."}).verdict(), Verdict::NoAdapter);
  // An adapter that is off fails when scanning starts.
  EXPECT_EQ(Read({"Starting the advertisement watcher.", "Link error: 0x80070015."}).verdict(), Verdict::AdapterOff);
}

TEST(Diagnosis, ScanningWithoutThePistol) {
  EXPECT_EQ(Read({"Starting the advertisement watcher."}).verdict(), Verdict::NothingHeard);
  const Diagnosis others = Read({"Starting the advertisement watcher.", "Found device: Phone (Address: 1)"});
  EXPECT_EQ(others.verdict(), Verdict::NoPistolHeard);
  EXPECT_FALSE(others.Settled());
}

} // namespace
