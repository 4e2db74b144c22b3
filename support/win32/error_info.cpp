#include "support/win32/error_info.h"

#include <atomic>
#include <memory>

namespace winrt_abi {
namespace {

std::wstring_view TrimTrailingSpace(std::wstring_view text) {
  const auto end = text.find_last_not_of(L" \t\r\n\f\v");
  return end == std::wstring_view::npos ? std::wstring_view{} : text.substr(0, end + 1);
}

std::wstring LegacyDescription(const ErrorInfoFunctions &functions) {
  if (!functions.getLegacy) return {};
  com_ptr<IErrorInfo> legacy;
  if (functions.getLegacy(0, legacy.put()) != kSOk || !legacy) return {};
  BSTR description = nullptr;
  if (legacy->GetDescription(&description) < 0 || !description) return {};
  std::wstring text(TrimTrailingSpace(std::wstring_view(description, SysStringLen(description))));
  SysFreeString(description);
  return text;
}

error_info Wrap(std::shared_ptr<ErrorInformation> information) {
  return error_info(std::shared_ptr<void>(information, information.get()));
}

template <class Fn> Fn Lookup(HMODULE module, const char *name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}

} // namespace

const ErrorInfoFunctions &PlatformErrorInfoFunctions() {
  // Built once; a second thread racing the first builds the same values.
  static std::atomic<const ErrorInfoFunctions *> cached{nullptr};
  if (const ErrorInfoFunctions *functions = cached.load(std::memory_order_acquire)) return *functions;
  auto *built = new ErrorInfoFunctions;
  const HMODULE combase = LoadLibraryW(L"combase.dll");
  built->getRestricted = Lookup<decltype(built->getRestricted)>(combase, "GetRestrictedErrorInfo");
  built->setRestricted = Lookup<decltype(built->setRestricted)>(combase, "SetRestrictedErrorInfo");
  built->originate = Lookup<decltype(built->originate)>(combase, "RoOriginateLanguageException");
  built->getLegacy = &GetErrorInfo;
  const ErrorInfoFunctions *expected = nullptr;
  if (!cached.compare_exchange_strong(expected, built, std::memory_order_acq_rel)) {
    delete built;
    return *expected;
  }
  return *built;
}

com_ptr<IRestrictedErrorInfo> TakeRestrictedErrorInfo(const ErrorInfoFunctions &functions) {
  com_ptr<IRestrictedErrorInfo> info;
  if (!functions.getRestricted) return info;
  IRestrictedErrorInfo *raw = nullptr;
  // S_FALSE (none) and Wine's E_NOTIMPL both mean no information.
  if (functions.getRestricted(&raw) == kSOk && raw) info = com_ptr<IRestrictedErrorInfo>::attach(raw);
  return info;
}

error_info OriginateErrorInfo(HRESULT code, std::wstring_view message, const ErrorInfoFunctions &functions) {
  auto information = std::make_shared<ErrorInformation>();
  if (!functions.originate) {
    information->fallback.code = code;
    information->fallback.text = SystemMessage(code);
    return Wrap(std::move(information));
  }
  // Made without raising: this runs while an error is being raised.
  HSTRING text = nullptr;
  if (!message.empty() && WindowsCreateString(message.data(), static_cast<UINT32>(message.size()), &text) < 0)
    text = nullptr;
  // The platform keeps the new error as the thread's current one; take it
  // back so it travels with the hresult_error.
  const BOOL originated = functions.originate(code, text, nullptr);
  if (text) WindowsDeleteString(text);
  if (originated) information->restricted = TakeRestrictedErrorInfo(functions);
  if (!information->restricted) return {};
  return Wrap(std::move(information));
}

error_info CaptureErrorInfo(HRESULT code, const ErrorInfoFunctions &functions) {
  if (com_ptr<IRestrictedErrorInfo> restricted = TakeRestrictedErrorInfo(functions)) {
    // Where the error passes through here, for the debugger's stack of it.
    if (auto context = restricted.try_as<ILanguageExceptionErrorInfo2>(kIidILanguageExceptionErrorInfo2))
      context->CapturePropagationContext(nullptr);
    auto information = std::make_shared<ErrorInformation>();
    information->restricted = std::move(restricted);
    return Wrap(std::move(information));
  }
  return OriginateErrorInfo(code, LegacyDescription(functions), functions);
}

void RestoreErrorInfo(const error_info &info, const ErrorInfoFunctions &functions) {
  const ErrorInformation *information = ErrorInformationOf(info);
  if (information && information->restricted && functions.setRestricted)
    functions.setRestricted(information->restricted.get());
}

const ErrorInformation *ErrorInformationOf(const error_info &info) noexcept {
  return static_cast<const ErrorInformation *>(info.get().get());
}

std::wstring SystemMessage(HRESULT code) {
  wchar_t *buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
  std::wstring text;
  if (buffer) {
    text = TrimTrailingSpace(std::wstring_view(buffer, length));
    LocalFree(buffer);
  }
  return text;
}

} // namespace winrt_abi
