#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "support/platform_error.h"

#ifdef _WIN32
#include "support/win32/system_headers.h"
#endif

namespace {

// Raises the code and reports the dynamic class and code of what came out.
template <class Expected> void ExpectRaisedAs(std::uint32_t pattern) {
  const auto code = static_cast<HRESULT>(pattern);
  try {
    raise_platform_error(code);
    FAIL() << "nothing raised for " << std::hex << pattern;
  } catch (const hresult_error &error) {
    EXPECT_EQ(typeid(error), typeid(Expected)) << std::hex << pattern;
    EXPECT_EQ(error.code(), code);
  }
}

TEST(RaisePlatformError, PicksTheClassByExactCode) {
  ExpectRaisedAs<hresult_out_of_bounds>(0x8000000B);
  ExpectRaisedAs<hresult_changed_state>(0x8000000C);
  ExpectRaisedAs<hresult_illegal_state_change>(0x8000000D);
  ExpectRaisedAs<hresult_illegal_method_call>(0x8000000E);
  ExpectRaisedAs<hresult_illegal_delegate_assignment>(0x80000018);
  ExpectRaisedAs<hresult_not_implemented>(0x80004001);
  ExpectRaisedAs<hresult_no_interface>(0x80004002);
  ExpectRaisedAs<hresult_wrong_thread>(0x8001010E);
  ExpectRaisedAs<hresult_class_not_available>(0x80040111);
  ExpectRaisedAs<hresult_class_not_registered>(0x80040154);
  ExpectRaisedAs<hresult_access_denied>(0x80070005);
  ExpectRaisedAs<hresult_invalid_argument>(0x80070057);
  ExpectRaisedAs<hresult_canceled>(0x800704C7);
}

TEST(RaisePlatformError, OtherFailuresArePlainErrorsWithTheirCode) {
  ExpectRaisedAs<hresult_error>(0x80004005);
  ExpectRaisedAs<hresult_error>(0x8000000A); // a neighbour of a table code
  ExpectRaisedAs<hresult_error>(0x800705B4); // the wait timeout's code is not in the table
  ExpectRaisedAs<hresult_error>(0x80000000);
}

TEST(RaisePlatformError, OutOfMemoryIsTheStandardAllocationFailure) {
  EXPECT_THROW(raise_platform_error(kEOutOfMemory), std::bad_alloc);
}

TEST(RaisePlatformError, ASuccessCodeStillRaisesAFailure) {
  for (HRESULT code : {0, 1, 0x7FFFFFFF}) {
    try {
      raise_platform_error(code);
      FAIL();
    } catch (const hresult_error &error) {
      EXPECT_EQ(error.code(), kEFail) << code;
    }
  }
}

// The calling thread's last system error: GetLastError on Windows, errno elsewhere.
void SetLastSystemError(int error) {
#ifdef _WIN32
  SetLastError(static_cast<DWORD>(error));
#else
  errno = error;
#endif
}

HRESULT LastErrorCode(int error) {
  SetLastSystemError(error);
  try {
    raise_last_error();
  } catch (const hresult_error &raised) {
    return raised.code();
  }
  return kSOk;
}

TEST(RaiseLastError, FollowsTheSystemErrorRule) {
  EXPECT_EQ(LastErrorCode(8), static_cast<HRESULT>(0x80070008));
  EXPECT_EQ(LastErrorCode(0x12345), static_cast<HRESULT>(0x80072345));
  EXPECT_EQ(LastErrorCode(0), kEFail);
  EXPECT_EQ(HresultFromSystemError(5), kEAccessDenied);
  EXPECT_EQ(HresultFromSystemError(0x80004005u), kEFail);
  SetLastSystemError(5);
  EXPECT_THROW(raise_last_error(), hresult_access_denied);
}

template <class Error> HRESULT CodeReturnedFor(Error error) {
  return handler_boundary([&] { throw error; });
}

TEST(HandlerBoundary, HandsEveryEscapingErrorBackAsItsCode) {
  EXPECT_EQ(handler_boundary([] {}), kSOk);
  EXPECT_EQ(CodeReturnedFor(hresult_wrong_thread()), static_cast<HRESULT>(0x8001010E));
  EXPECT_EQ(CodeReturnedFor(hresult_error(static_cast<HRESULT>(0x80070490))), static_cast<HRESULT>(0x80070490));
  EXPECT_EQ(CodeReturnedFor(std::bad_alloc()), static_cast<HRESULT>(0x8007000E));
  EXPECT_EQ(CodeReturnedFor(std::out_of_range("index")), static_cast<HRESULT>(0x8000000B));
  EXPECT_EQ(CodeReturnedFor(std::invalid_argument("value")), static_cast<HRESULT>(0x80070057));
  EXPECT_EQ(CodeReturnedFor(std::runtime_error("other")), static_cast<HRESULT>(0x80004005));
  // Derived standard errors keep their base's code.
  EXPECT_EQ(CodeReturnedFor(std::bad_array_new_length()), static_cast<HRESULT>(0x8007000E));
  EXPECT_EQ(CodeReturnedFor(std::length_error("long")), static_cast<HRESULT>(0x80004005));
}

TEST(HandlerBoundary, SomethingThatIsNoExceptionClassDoesNotEscape) {
  EXPECT_EQ(CodeReturnedFor(42), kEFail);
  EXPECT_EQ(CodeReturnedFor(std::string("text")), kEFail);
}

TEST(HandlerBoundary, WhatTheHandlerDidBeforeFailingStaysDone) {
  int steps = 0;
  const HRESULT code = handler_boundary([&] {
    ++steps;
    raise_platform_error(kEAccessDenied);
    ++steps;
  });
  EXPECT_EQ(code, kEAccessDenied);
  EXPECT_EQ(steps, 1);
}

TEST(CurrentFailureCode, OutsideAHandlerIsAFailure) {
  EXPECT_EQ(current_failure_code(), kEFail);
}

} // namespace
