// The parameterized interface identifiers: the compile-time computation
// against values published for the same instances.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ble/winrt/abi.h"

namespace {

using namespace winrt_abi;

std::string Text(const GUID &g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// Computed during compilation, not at run time.
static_assert(SameGuid(ParameterizedIid("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};b1)"),
                       GUID{0xcdb5efb3, 0x5788, 0x509d, {0x9b, 0xe1, 0x71, 0xcc, 0xb8, 0xa3, 0x36, 0x2a}}));

TEST(ParameterizedIid, KnownFoundationInstances) {
  // IAsyncOperation<Boolean>, IVectorView<String>.
  EXPECT_EQ(Text(ParameterizedIid("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};b1)")),
            "cdb5efb3-5788-509d-9be1-71ccb8a3362a");
  EXPECT_EQ(Text(ParameterizedIid("pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};string)")),
            "2f13c006-a03a-5f69-b090-75a43e33423e");
  // A signature longer than one SHA-1 block with its padding.
  EXPECT_EQ(Text(iid_of<WatcherStoppedHandler>), "9936a4db-dc99-55c3-9e9b-bf4854bd9eab");
}

TEST(ParameterizedIid, EveryInstanceTheBackendMeets) {
  EXPECT_EQ(Text(iid_of<IAsyncOperation<IBluetoothLEDevice *>>), "375f9d67-74a2-5f91-a11d-169093718d41");
  EXPECT_EQ(Text(iid_of<IAsyncOperationCompletedHandler<IBluetoothLEDevice *>>),
            "9156b79f-c54a-5277-8f8b-d2cc43c7e004");
  EXPECT_EQ(Text(iid_of<IAsyncOperation<IGattDeviceServicesResult *>>), "e7c667f6-e874-500f-86ff-760ca6f07a58");
  EXPECT_EQ(Text(iid_of<IAsyncOperationCompletedHandler<IGattDeviceServicesResult *>>),
            "74ab0892-a631-5d6c-b1b4-bd2e1a741a9b");
  EXPECT_EQ(Text(iid_of<IAsyncOperation<IGattCharacteristicsResult *>>), "0972194a-ac1c-5536-9886-27e58a18f273");
  EXPECT_EQ(Text(iid_of<IAsyncOperationCompletedHandler<IGattCharacteristicsResult *>>),
            "d6a15475-1e72-5c56-98e8-88f4bc3e0313");
  EXPECT_EQ(Text(iid_of<IAsyncOperation<GattCommunicationStatusAbi>>), "3ff69516-1bfb-52e9-9ee6-e5cdb78e1683");
  EXPECT_EQ(Text(iid_of<IAsyncOperationCompletedHandler<GattCommunicationStatusAbi>>),
            "2154117a-978d-59db-99cf-6b690cb3389b");
  EXPECT_EQ(Text(iid_of<WatcherReceivedHandler>), "90eb4eca-d465-5ea0-a61c-033c8c5ecef2");
  EXPECT_EQ(Text(iid_of<WatcherStoppedHandler>), "9936a4db-dc99-55c3-9e9b-bf4854bd9eab");
  EXPECT_EQ(Text(iid_of<DeviceEventHandler>), "a90661e2-372e-5d1e-bbbb-b8a2ce0e7c4d");
  EXPECT_EQ(Text(iid_of<ValueChangedHandler>), "c1f420f6-6292-5760-a2c9-9ddf98683cfc");
  EXPECT_EQ(Text(iid_of<IVectorView<IGattDeviceService *>>), "7c8e7fdd-a1a1-528a-81d1-296769227a08");
  EXPECT_EQ(Text(iid_of<IVectorView<IGattCharacteristic *>>), "cb3ab3ae-b561-504f-a808-599deceb2df4");
}

} // namespace
