// The pure translations of the BlueZ backend: text forms and the error table.
#include <cerrno>

#include <gtest/gtest.h>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_text.h"

namespace {

using namespace ble::bluez;

TEST(BluezText, AddressesParseInNumericOrderAndRoundTrip) {
  EXPECT_EQ(ParseAddress("AA:BB:CC:DD:EE:FF"), 0xAABBCCDDEEFFu);
  EXPECT_EQ(ParseAddress("aa:bb:cc:dd:ee:ff"), 0xAABBCCDDEEFFu);
  EXPECT_EQ(ParseAddress("00:00:00:00:00:01"), 1u);
  EXPECT_EQ(FormatAddress(0xAABBCCDDEEFFu), "AA:BB:CC:DD:EE:FF");
  EXPECT_EQ(FormatAddress(0x0000000A0B0Cu), "00:00:00:0A:0B:0C");
  // Bits above the 48-bit address are not part of it.
  EXPECT_EQ(FormatAddress(0xFFFF000000000001u), "00:00:00:00:00:01");
  EXPECT_EQ(DevicePath("/org/bluez/hci1", 0xAABBCCDDEEFFu), "/org/bluez/hci1/dev_AA_BB_CC_DD_EE_FF");
}

TEST(BluezText, MalformedAddressesAreRejected) {
  for (const char *bad : {"", "AA:BB:CC:DD:EE", "AA:BB:CC:DD:EE:FF:00", "AA-BB-CC-DD-EE-FF", "AA:BB:CC:DD:EE:FG",
                          "AABBCCDDEEFF00000", " AA:BB:CC:DD:EE:F"}) {
    EXPECT_FALSE(ParseAddress(bad)) << bad;
  }
}

TEST(BluezText, UuidsParseCaseInsensitivelyIntoTheGuidLayout) {
  const auto uuid = ParseUuid("0000FFF1-0000-1000-8000-00805f9b34fb");
  ASSERT_TRUE(uuid);
  EXPECT_EQ(*uuid, BluetoothUuid(0xFFF1));
  EXPECT_NE(*ParseUuid("0000fff0-0000-1000-8000-00805f9b34fb"), BluetoothUuid(0xFFF1));
  EXPECT_FALSE(ParseUuid("0000fff1-0000-1000-8000-00805f9b34f"));
  EXPECT_FALSE(ParseUuid("0000fff1+0000-1000-8000-00805f9b34fb"));
  EXPECT_FALSE(ParseUuid("0000fff1-0000-1000-8000-00805f9b34fx"));
  EXPECT_FALSE(ParseUuid("fff1"));
}

TEST(BluezText, NamesBecomeUtf16AndBadBytesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("Pistol K12"), u"Pistol K12");
  EXPECT_EQ(Utf8ToUtf16("Pistol\xC3\xA9"), u"Pistol\u00E9");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x94\xAB"), u"\U0001F52B");
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");       // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");     // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD"); // a lone surrogate
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"
                        "x"),
            u"\uFFFDx"); // the x survives
  EXPECT_EQ(Utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(BluezErrors, RefusalsAreAccessDeniedAndEverythingUnknownIsAFailure) {
  EXPECT_EQ(HresultFromBusError("org.bluez.Error.NotPermitted"), kEAccessDenied);
  EXPECT_EQ(HresultFromBusError("org.bluez.Error.NotAuthorized"), kEAccessDenied);
  EXPECT_EQ(HresultFromBusError("org.bluez.Error.NotReady"), kErrorNotReady);
  EXPECT_EQ(HresultFromBusError("org.bluez.Error.InProgress"), kErrorBusy);
  EXPECT_EQ(HresultFromBusError("org.freedesktop.DBus.Error.NoReply"), kErrorTimeout);
  EXPECT_EQ(HresultFromBusError("org.freedesktop.DBus.Error.ServiceUnknown"), kErrorServiceNotActive);
  EXPECT_EQ(HresultFromBusError("org.bluez.Error.Failed"), kEFail);
  EXPECT_EQ(HresultFromBusError("org.example.Whatever"), kEFail);
  EXPECT_EQ(HresultFromBusError(""), kEFail);
  EXPECT_EQ(HresultFromErrno(-ENOENT), kErrorNoBus);
  EXPECT_EQ(HresultFromErrno(-ECONNREFUSED), kErrorNoBus);
  EXPECT_EQ(HresultFromErrno(-ENOMEM), kEOutOfMemory);
  EXPECT_EQ(HresultFromErrno(-EINVAL), kEFail);
  // Every mapped code is a failure, so none can pass for success.
  for (const char *name : {"org.bluez.Error.NotReady", "org.bluez.Error.NotConnected", "org.bluez.Error.NotSupported",
                           "org.freedesktop.DBus.Error.UnknownObject"}) {
    EXPECT_LT(HresultFromBusError(name), 0) << name;
  }
  EXPECT_EQ(GattStatusFromCode(kEAccessDenied), ble::GattCommunicationStatus::AccessDenied);
  EXPECT_EQ(GattStatusFromCode(kErrorTimeout), ble::GattCommunicationStatus::Unreachable);
  EXPECT_EQ(GattStatusFromCode(kSOk), ble::GattCommunicationStatus::Success);
}

} // namespace
