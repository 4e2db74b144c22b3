#pragma once

// The platform's error information for a failed call: what an hresult_error
// keeps of it, how it is made when the failing call left none, and how it is
// made current again when the code goes back to the platform.

#include <string>
#include <string_view>

#include "support/platform_error.h"
#include "support/win32/com_ptr.h"

#include <oaidl.h>

namespace winrt_abi {

struct IRestrictedErrorInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR *description, HRESULT *error, BSTR *restrictedDescription,
                                                    BSTR *capabilitySid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR *reference) = 0;
};

struct ILanguageExceptionErrorInfo2 : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLanguageException(IUnknown **languageException) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPreviousLanguageExceptionErrorInfo(ILanguageExceptionErrorInfo2 **previous) = 0;
  virtual HRESULT STDMETHODCALLTYPE CapturePropagationContext(IUnknown *languageException) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropagationContextHead(ILanguageExceptionErrorInfo2 **head) = 0;
};

inline constexpr GUID kIidIRestrictedErrorInfo{
    0x82ba7092, 0x4c88, 0x427d, {0xa7, 0xbc, 0x16, 0xdd, 0x93, 0xfe, 0xb6, 0x7e}};
inline constexpr GUID kIidILanguageExceptionErrorInfo2{
    0x5746e5c4, 0x5b97, 0x424c, {0xb6, 0x20, 0x28, 0x22, 0x91, 0x57, 0x34, 0xdd}};

// Used when the platform cannot originate an error: the system's message for the code.
struct error_info_fallback {
  HRESULT code = kSOk;
  std::wstring text;
};

// What an hresult_error holds on Windows (behind error_info's opaque pointer).
// `restricted` is only ever an object GetRestrictedErrorInfo returned, so
// putting it back is always a restore (Wine aborts in SetRestrictedErrorInfo
// for anything else, and even for null).
struct ErrorInformation {
  com_ptr<IRestrictedErrorInfo> restricted;
  error_info_fallback fallback;
};

// The platform functions involved; any may be missing (null).
struct ErrorInfoFunctions {
  HRESULT(WINAPI *getRestricted)(IRestrictedErrorInfo **info) = nullptr;
  HRESULT(WINAPI *setRestricted)(IRestrictedErrorInfo *info) = nullptr;
  BOOL(WINAPI *originate)(HRESULT error, HSTRING message, IUnknown *languageException) = nullptr;
  // The thread's plain (legacy) error object, whose description becomes the message.
  HRESULT(WINAPI *getLegacy)(ULONG reserved, IErrorInfo **info) = nullptr;
};

// combase's and oleaut32's, looked up once.
const ErrorInfoFunctions &PlatformErrorInfoFunctions();

// For a failed call: the thread's restricted error information if it has
// one, else a new error originated for the code with the old description.
error_info CaptureErrorInfo(HRESULT code, const ErrorInfoFunctions &functions = PlatformErrorInfoFunctions());

// A new error for the code with this message (none when empty).
error_info OriginateErrorInfo(HRESULT code, std::wstring_view message,
                              const ErrorInfoFunctions &functions = PlatformErrorInfoFunctions());

// Makes the information current on the calling thread again, when it holds
// restricted error information; anything else is left alone.
void RestoreErrorInfo(const error_info &info, const ErrorInfoFunctions &functions = PlatformErrorInfoFunctions());

// The information an error_info made here holds; null for an empty one.
const ErrorInformation *ErrorInformationOf(const error_info &info) noexcept;

// The system message table's text for the code, trailing white space removed.
std::wstring SystemMessage(HRESULT code);

// The thread's restricted error information, taken off the thread; empty when
// there is none or the platform cannot say (Wine answers E_NOTIMPL).
com_ptr<IRestrictedErrorInfo> TakeRestrictedErrorInfo(const ErrorInfoFunctions &functions);

} // namespace winrt_abi
