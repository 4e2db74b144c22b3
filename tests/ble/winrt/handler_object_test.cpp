// Handler objects handed to the runtime: their identity, agility, reference
// counts and the boundary every invocation runs behind.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "ble/winrt/abi_device.h"
#include "ble/winrt/delegate.h"

namespace {

using namespace winrt_abi;

auto MakeStatusHandler(std::function<void()> body) {
  return MakeDelegate<DeviceEventHandler, IBluetoothLEDevice *, IInspectable *>(
      [body = std::move(body)](IBluetoothLEDevice *, IInspectable *) { body(); });
}

TEST(HandlerObject, AnswersItsOwnInterfaceAndAgilityWithOneIdentity) {
  auto handler = MakeStatusHandler([] {});
  com_ptr<IUnknown> unknown, own, agile, marshal, other;
  EXPECT_EQ(handler->QueryInterface(kIidIUnknown, unknown.put_void()), S_OK);
  EXPECT_EQ(handler->QueryInterface(iid_of<DeviceEventHandler>, own.put_void()), S_OK);
  EXPECT_EQ(handler->QueryInterface(kIidIAgileObject, agile.put_void()), S_OK);
  EXPECT_EQ(unknown.get(), own.get());
  EXPECT_EQ(agile.get(), own.get());
  // Free-threaded marshaling, through the aggregated marshaler.
  EXPECT_EQ(handler->QueryInterface(kIidIMarshal, marshal.put_void()), S_OK);
  EXPECT_TRUE(marshal);
  // Another handler type's identifier is not ours.
  EXPECT_EQ(handler->QueryInterface(iid_of<ValueChangedHandler>, other.put_void()), kENoInterface);
  EXPECT_FALSE(other);
}

TEST(HandlerObject, LivesUntilItsLastReferenceGoes) {
  const long before = LiveHandlerObjects().load();
  {
    auto handler = MakeStatusHandler([] {});
    EXPECT_EQ(LiveHandlerObjects().load(), before + 1);
    handler->AddRef();
    EXPECT_EQ(handler->Release(), 1u);
    com_ptr<IUnknown> marshal;
    handler->QueryInterface(kIidIMarshal, marshal.put_void());
    marshal.reset();
    EXPECT_EQ(LiveHandlerObjects().load(), before + 1);
  }
  EXPECT_EQ(LiveHandlerObjects().load(), before);
}

TEST(HandlerObject, FailuresReachThePlatformAsCodes) {
  EXPECT_EQ(MakeStatusHandler([] {})->Invoke(nullptr, nullptr), S_OK);
  EXPECT_EQ(MakeStatusHandler([] { throw hresult_wrong_thread(); })->Invoke(nullptr, nullptr), kRpcEWrongThread);
  EXPECT_EQ(MakeStatusHandler([] { throw std::bad_alloc(); })->Invoke(nullptr, nullptr), kEOutOfMemory);
  EXPECT_EQ(MakeStatusHandler([] { throw std::out_of_range("x"); })->Invoke(nullptr, nullptr), kEBounds);
  EXPECT_EQ(MakeStatusHandler([] { throw 42; })->Invoke(nullptr, nullptr), kEFail);
}

} // namespace
