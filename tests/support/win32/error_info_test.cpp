// The platform's error information: kept, originated or replaced by the
// fallback record, and made current again only when it can be restored.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/platform_error.h"
#include "support/win32/error_info.h"
#include "tests/support/win32/test_error_info.h"

namespace {

using namespace winrt_abi;

// A plain error object with a description, as an earlier call may leave.
class TestLegacy final : public IErrorInfo {
public:
  explicit TestLegacy(const wchar_t *description) : description_(description) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR *description) override {
    *description = SysAllocString(description_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *) override { return E_NOTIMPL; }
  std::atomic<ULONG> refs{1};

private:
  const wchar_t *description_;
};

struct Thread {
  IRestrictedErrorInfo *restricted = nullptr; // what GetRestrictedErrorInfo hands out next
  bool notImplemented = false;                // answers like Wine 8
  IErrorInfo *legacy = nullptr;
  IRestrictedErrorInfo *originated = nullptr; // what originating makes current
  std::vector<std::pair<HRESULT, std::wstring>> originateCalls;
  std::vector<IRestrictedErrorInfo *> setCalls;
};
Thread thread;

HRESULT WINAPI GetRestricted(IRestrictedErrorInfo **info) {
  *info = nullptr;
  if (thread.notImplemented) return E_NOTIMPL;
  *info = std::exchange(thread.restricted, nullptr);
  return *info ? S_OK : S_FALSE;
}
HRESULT WINAPI SetRestricted(IRestrictedErrorInfo *info) {
  thread.setCalls.push_back(info);
  return S_OK;
}
BOOL WINAPI Originate(HRESULT code, HSTRING message, IUnknown *) {
  UINT32 length = 0;
  const wchar_t *text = WindowsGetStringRawBuffer(message, &length);
  thread.originateCalls.emplace_back(code, std::wstring(text, length));
  if (!thread.originated) return FALSE;
  thread.restricted = std::exchange(thread.originated, nullptr);
  return TRUE;
}
HRESULT WINAPI GetLegacy(ULONG, IErrorInfo **info) {
  *info = std::exchange(thread.legacy, nullptr);
  return *info ? S_OK : S_FALSE;
}

const ErrorInfoFunctions kAll{&GetRestricted, &SetRestricted, &Originate, &GetLegacy};
const ErrorInfoFunctions kNoOriginate{&GetRestricted, &SetRestricted, nullptr, &GetLegacy};

class ErrorInformationTest : public ::testing::Test {
protected:
  void SetUp() override { thread = Thread{}; }
};

TEST_F(ErrorInformationTest, RestrictedInformationOfTheThreadIsKeptAndRestoredAsItWas) {
  TestErrorInfo current;
  thread.restricted = &current;
  const error_info info = CaptureErrorInfo(kEAccessDenied, kAll);
  ASSERT_NE(ErrorInformationOf(info), nullptr);
  EXPECT_EQ(ErrorInformationOf(info)->restricted.get(), &current);
  EXPECT_TRUE(thread.originateCalls.empty());
  RestoreErrorInfo(info, kAll);
  EXPECT_EQ(thread.setCalls, std::vector<IRestrictedErrorInfo *>{&current});
}

TEST_F(ErrorInformationTest, WithoutRestrictedInformationAnErrorIsOriginatedWithTheOldDescriptionTrimmed) {
  TestLegacy legacy(L"The radio is off. \r\n\t ");
  TestErrorInfo originated;
  thread.legacy = &legacy;
  thread.originated = &originated;
  const error_info info = CaptureErrorInfo(kErrorDeviceNotAvailable, kAll);
  ASSERT_EQ(thread.originateCalls.size(), 1u);
  EXPECT_EQ(thread.originateCalls[0].first, kErrorDeviceNotAvailable);
  EXPECT_EQ(thread.originateCalls[0].second, L"The radio is off.");
  // The originated error travels with the hresult_error.
  ASSERT_NE(ErrorInformationOf(info), nullptr);
  EXPECT_EQ(ErrorInformationOf(info)->restricted.get(), &originated);
  // The thread's reference to the old object was taken over and dropped.
  EXPECT_EQ(legacy.refs, 0u);
}

TEST_F(ErrorInformationTest, OnARuntimeThatCannotSayNothingIsEverRestored) {
  // Wine 8: no restricted information, originating does nothing, and
  // SetRestrictedErrorInfo would abort the process.
  thread.notImplemented = true;
  const error_info info = CaptureErrorInfo(kEFail, kAll);
  EXPECT_EQ(ErrorInformationOf(info), nullptr);
  RestoreErrorInfo(info, kAll);
  RestoreErrorInfo(error_info{}, kAll);
  EXPECT_TRUE(thread.setCalls.empty());
}

TEST_F(ErrorInformationTest, WithoutTheOriginateFunctionTheFallbackHoldsTheSystemMessage) {
  const error_info info = CaptureErrorInfo(kEAccessDenied, kNoOriginate);
  const ErrorInformation *information = ErrorInformationOf(info);
  ASSERT_NE(information, nullptr);
  EXPECT_FALSE(information->restricted);
  EXPECT_EQ(information->fallback.code, kEAccessDenied);
  EXPECT_EQ(information->fallback.text, SystemMessage(kEAccessDenied));
  RestoreErrorInfo(info, kNoOriginate);
  EXPECT_TRUE(thread.setCalls.empty());
}

TEST_F(ErrorInformationTest, SystemMessagesLoseTheirTrailingLineBreak) {
  const std::wstring text = SystemMessage(kEAccessDenied);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), L'\n');
  EXPECT_NE(text.back(), L' ');
}

TEST_F(ErrorInformationTest, ANewErrorHasNoMessageWhenNoneIsGiven) {
  TestErrorInfo originated;
  thread.originated = &originated;
  const error_info info = OriginateErrorInfo(kErrorCancelled, {}, kAll);
  ASSERT_EQ(thread.originateCalls.size(), 1u);
  EXPECT_EQ(thread.originateCalls[0].second, L"");
  ASSERT_NE(ErrorInformationOf(info), nullptr);
}

// On this runtime, for real: raising and handing codes back never reaches
// SetRestrictedErrorInfo unless GetRestrictedErrorInfo gave an object.
TEST(ErrorInformationOnThisRuntime, RaisedErrorsGoBackToThePlatformAsTheirCodes) {
  EXPECT_EQ(handler_boundary([] { raise_platform_error(kEAccessDenied); }), kEAccessDenied);
  EXPECT_EQ(handler_boundary([] { raise_platform_error(static_cast<HRESULT>(0x80004005)); }), kEFail);
  EXPECT_EQ(handler_boundary([] { throw std::out_of_range("index 7 of 3"); }), kEBounds);
  EXPECT_EQ(handler_boundary([] { throw std::invalid_argument("no"); }), kEInvalidArg);
  EXPECT_EQ(handler_boundary([] { throw hresult_canceled(new_error_info(kErrorCancelled)); }), kErrorCancelled);
}

} // namespace
