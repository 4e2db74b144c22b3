// Which adapter the backend uses when BlueZ has more than one.
#include <gtest/gtest.h>

#include "ble/bluez/bluez_objects.h"

namespace {

using namespace ble::bluez;

void SetAdapter(ObjectMap &map, const std::string &path, bool powered) {
  BluezObject &adapter = map.objects()[path];
  adapter.isAdapter = true;
  adapter.powered = powered;
}

TEST(BluezAdapterChoice, TheFirstPoweredAdapterWinsWhicheverBluetoothdPoweredFirst) {
  ObjectMap map;
  // A restarted bluetoothd may report hci1 before hci0, and power it first.
  SetAdapter(map, "/org/bluez/hci1", false);
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci1");
  SetAdapter(map, "/org/bluez/hci1", true);
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci1");
  SetAdapter(map, "/org/bluez/hci0", false);
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci1") << "an unpowered adapter takes nothing over";
  SetAdapter(map, "/org/bluez/hci0", true);
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci0");
}

TEST(BluezAdapterChoice, ALinkInUseKeepsItsAdapterAndNoPoweredAdapterKeepsTheCurrentOne) {
  ObjectMap map;
  SetAdapter(map, "/org/bluez/hci1", true);
  map.ChooseAdapter();
  const std::string pistol = "/org/bluez/hci1/dev_AA_BB_CC_DD_EE_FF";
  map.HoldDevicePath(pistol);
  SetAdapter(map, "/org/bluez/hci0", true);
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci1");
  EXPECT_TRUE(map.ReleaseDevicePath(pistol));
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci0");

  SetAdapter(map, "/org/bluez/hci0", false);
  SetAdapter(map, "/org/bluez/hci1", false);
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci0");
  map.objects().erase("/org/bluez/hci0");
  map.ChooseAdapter();
  EXPECT_EQ(map.AdapterPath(), "/org/bluez/hci1");
}

} // namespace
