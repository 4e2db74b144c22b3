#include <gtest/gtest.h>
#include <openvr_driver.h>

#include <string>
#include <vector>

#include "support/host_log.h"
#include "support/log_text.h"

namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string out;
  for (unsigned value : values) out += static_cast<char>(value);
  return out;
}

TEST(PlatformText, EncodesEveryUtf8Length) {
  EXPECT_EQ(utf8_from_platform_text(u"Pistol K12"), "Pistol K12");
  EXPECT_EQ(utf8_from_platform_text(u"\u00E9"), Bytes({0xC3, 0xA9}));
  EXPECT_EQ(utf8_from_platform_text(u"\u20AC"), Bytes({0xE2, 0x82, 0xAC}));
  EXPECT_EQ(utf8_from_platform_text(u"\U0001F52B"), Bytes({0xF0, 0x9F, 0x94, 0xAB}));
  EXPECT_EQ(utf8_from_platform_text(u"\u07FF\u0800\uFFFF"), Bytes({0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
}

TEST(PlatformText, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string replacement = Bytes({0xEF, 0xBF, 0xBD});
  const char16_t lowAlone[] = {u'a', 0xDC00, u'b'};
  const char16_t highAtEnd[] = {u'a', 0xD83D};
  const char16_t highThenLetter[] = {0xD83D, u'x'};
  const char16_t reversedPair[] = {0xDC2B, 0xD83D};
  EXPECT_EQ(utf8_from_platform_text(lowAlone, 3), "a" + replacement + "b");
  EXPECT_EQ(utf8_from_platform_text(highAtEnd, 2), "a" + replacement);
  EXPECT_EQ(utf8_from_platform_text(highThenLetter, 2), replacement + "x");
  EXPECT_EQ(utf8_from_platform_text(reversedPair, 2), replacement + replacement);
}

TEST(PlatformText, ConvertsByLengthNotByTerminator) {
  const char16_t withNul[] = {u'P', 0, u'x'};
  EXPECT_EQ(utf8_from_platform_text(withNul, 3), std::string("P\0x", 3));
  EXPECT_EQ(utf8_from_platform_text(u"Pistol", 3), "Pis");
  EXPECT_EQ(utf8_from_platform_text(u""), "");
  EXPECT_EQ(utf8_from_platform_text(nullptr, 0), "");
}

TEST(UuidText, IsTheUpperCaseRegistryForm) {
  EXPECT_EQ(uuid_text(BluetoothUuid(0xFFF1)), "{0000FFF1-0000-1000-8000-00805F9B34FB}");
  EXPECT_EQ(uuid_text(BluetoothUuid(0xFFF0)), "{0000FFF0-0000-1000-8000-00805F9B34FB}");
  const Guid mixed{0x0A0B0C0D, 0xabcd, 0x00ef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
  EXPECT_EQ(uuid_text(mixed), "{0A0B0C0D-ABCD-00EF-0123-456789ABCDEF}");
  EXPECT_EQ(uuid_text(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(DecimalText, HasNoLeadingZerosSignOrHex) {
  EXPECT_EQ(decimal_text(0), "0");
  EXPECT_EQ(decimal_text(0x5B), "91");
  EXPECT_EQ(decimal_text(255), "255");
  EXPECT_EQ(decimal_text(0xAABBCCDDEEFF), "187723572702975");
  EXPECT_EQ(decimal_text(0xFFFFFFFFFFFF), "281474976710655");
  EXPECT_EQ(decimal_text(UINT64_MAX), "18446744073709551615");
}

// A host that keeps every line it is given.
class RecordingHost final : public vr::IVRDriverContext, public vr::IVRDriverLog {
public:
  RecordingHost() {
    vr::VRDriverContext() = this;
    vr::OpenVRInternal_ModuleServerDriverContext().Clear();
  }
  ~RecordingHost() { vr::CleanupDriverContext(); }
  void *GetGenericInterface(const char *version, vr::EVRInitError *error) override {
    if (error) *error = vr::VRInitError_None;
    return std::string(version) == vr::IVRDriverLog_Version ? static_cast<vr::IVRDriverLog *>(this) : nullptr;
  }
  vr::DriverHandle_t GetDriverHandle() override { return 1; }
  void Log(const char *line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

TEST(LogLine, ANameWithANulIsLoggedUpToIt) {
  RecordingHost host;
  const char16_t name[] = {u'P', u'i', 0, u'x'};
  LogLine("Connected to device: " + utf8_from_platform_text(name, 4));
  LogLine("Connected to device: " + utf8_from_platform_text(u""));
  ASSERT_EQ(host.lines.size(), 2u);
  EXPECT_EQ(host.lines[0], "Connected to device: Pi");
  EXPECT_EQ(host.lines[1], "Connected to device: ");
}

} // namespace
