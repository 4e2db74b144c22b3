#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

// Negative is failure; zero and positive are success. A 32-bit long where
// long has 32 bits, so the type is the very one the platform headers declare.
using HRESULT = std::conditional_t<sizeof(long) == 4, long, std::int32_t>;
static_assert(sizeof(HRESULT) == 4);

// Codes the system raises or returns by name. Spelled with a k prefix because
// the platform headers define the plain names as macros.
inline constexpr HRESULT kSOk = 0;
inline constexpr HRESULT kEBounds = static_cast<HRESULT>(0x8000000B);
inline constexpr HRESULT kEChangedState = static_cast<HRESULT>(0x8000000C);
inline constexpr HRESULT kEIllegalStateChange = static_cast<HRESULT>(0x8000000D);
inline constexpr HRESULT kEIllegalMethodCall = static_cast<HRESULT>(0x8000000E);
inline constexpr HRESULT kRoEClosed = static_cast<HRESULT>(0x80000013);
inline constexpr HRESULT kEIllegalDelegateAssignment = static_cast<HRESULT>(0x80000018);
inline constexpr HRESULT kENotImpl = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT kENoInterface = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT kRpcEWrongThread = static_cast<HRESULT>(0x8001010E);
inline constexpr HRESULT kClassENotAvailable = static_cast<HRESULT>(0x80040111);
inline constexpr HRESULT kRegdbEClassNotReg = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT kEAccessDenied = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT kEOutOfMemory = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT kEInvalidArg = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT kErrorCancelled = static_cast<HRESULT>(0x800704C7);
inline constexpr HRESULT kErrorTimeout = static_cast<HRESULT>(0x800705B4);
inline constexpr HRESULT kErrorDeviceNotAvailable = static_cast<HRESULT>(0x800710DF);

// The platform's HRESULT_FROM_WIN32 rule for a system error number.
// A number that already reads as a failure code (negative) is passed through.
constexpr HRESULT HresultFromSystemError(std::uint32_t error) {
  const auto asCode = static_cast<HRESULT>(error);
  return asCode > 0 ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu)) : asCode;
}

// The platform's error information for one failure. Opaque: empty here; the
// Windows build keeps the restricted error information in it.
class error_info {
public:
  error_info() = default;
  explicit error_info(std::shared_ptr<void> platformInfo) noexcept : info_(std::move(platformInfo)) {}
  const std::shared_ptr<void> &get() const noexcept { return info_; }

private:
  std::shared_ptr<void> info_;
};

// The error object of a failed platform call. Not a std::exception: its text
// is never shown, only its code matters.
class hresult_error {
public:
  // A code that does not mean failure is kept as E_FAIL, so that an error can
  // never reach the platform as a success.
  explicit hresult_error(HRESULT code, error_info info = {}) noexcept
      : code_(code < 0 ? code : kEFail), info_(std::move(info)) {}
  virtual ~hresult_error() = default;

  HRESULT code() const noexcept { return code_; }
  const error_info &info() const noexcept { return info_; }

private:
  HRESULT code_;
  error_info info_;
};

#define VK5_HRESULT_CLASS(name, value)                                                                                 \
  class name : public hresult_error {                                                                                  \
  public:                                                                                                              \
    explicit name(error_info info = {}) noexcept : hresult_error(value, std::move(info)) {}                            \
  }

VK5_HRESULT_CLASS(hresult_out_of_bounds, kEBounds);
VK5_HRESULT_CLASS(hresult_changed_state, kEChangedState);
VK5_HRESULT_CLASS(hresult_illegal_state_change, kEIllegalStateChange);
VK5_HRESULT_CLASS(hresult_illegal_method_call, kEIllegalMethodCall);
VK5_HRESULT_CLASS(hresult_illegal_delegate_assignment, kEIllegalDelegateAssignment);
VK5_HRESULT_CLASS(hresult_not_implemented, kENotImpl);
VK5_HRESULT_CLASS(hresult_no_interface, kENoInterface);
VK5_HRESULT_CLASS(hresult_wrong_thread, kRpcEWrongThread);
VK5_HRESULT_CLASS(hresult_class_not_available, kClassENotAvailable);
VK5_HRESULT_CLASS(hresult_class_not_registered, kRegdbEClassNotReg);
VK5_HRESULT_CLASS(hresult_access_denied, kEAccessDenied);
VK5_HRESULT_CLASS(hresult_invalid_argument, kEInvalidArg);
VK5_HRESULT_CLASS(hresult_canceled, kErrorCancelled);
// Raised only by the bounded wait when its time runs out; raise_platform_error
// gives plain hresult_error for this code, like for any code outside the table.
VK5_HRESULT_CLASS(hresult_wait_timeout, kErrorTimeout);

#undef VK5_HRESULT_CLASS

// Raises the class the code belongs to (0x8007000E raises std::bad_alloc),
// carrying the thread's error information for the failure.
[[noreturn]] void raise_platform_error(HRESULT code);

// Error information for a failure the system itself reports (a canceled or
// timed-out wait): new, without a message. Empty off Windows.
error_info new_error_info(HRESULT code);

// Raises the calling thread's last system error (errno off Windows).
[[noreturn]] void raise_last_error();

// Inside a catch handler: the code to hand back to the platform for the error
// being handled. Outside one it answers E_FAIL.
HRESULT current_failure_code() noexcept;

// Runs one platform event handler and gives the platform its result: 0, or the
// code of whatever escaped it. Nothing is logged here; what the handler did
// before failing stays done.
template <class Handler> HRESULT handler_boundary(Handler &&handler) noexcept {
  try {
    std::forward<Handler>(handler)();
    return kSOk;
  } catch (...) {
    return current_failure_code();
  }
}
