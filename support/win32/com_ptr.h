#pragma once

// The few COM and Windows Runtime pieces the platform code shares: a reference
// holder, GUID constants comparable at compile time, and HSTRING helpers.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "support/platform_error.h"
#include "support/win32/system_headers.h"

#include <inspectable.h>
#include <winstring.h>

namespace winrt_abi {

// A GUID built in a constant expression; the platform's GUID is an aggregate,
// so constants of it need no storage in a library.
constexpr bool SameGuid(const GUID &a, const GUID &b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

inline constexpr GUID kIidIUnknown{0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIidIInspectable{0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
inline constexpr GUID kIidIActivationFactory{
    0x00000035, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIidIAgileObject{0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
inline constexpr GUID kIidIMarshal{0x00000003, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr HRESULT kCoENotInitialized = static_cast<HRESULT>(0x800401F0);

inline void check(HRESULT result) {
  if (result < 0) raise_platform_error(result);
}

// Holds one reference to a COM object.
template <class T> class com_ptr {
public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  com_ptr(const com_ptr &other) noexcept : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr &operator=(com_ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~com_ptr() { reset(); }

  // Takes over a reference the caller owns (an out-parameter's).
  static com_ptr attach(T *p) noexcept {
    com_ptr result;
    result.p_ = p;
    return result;
  }
  // Adds a reference of its own (a borrowed in-parameter).
  static com_ptr borrow(T *p) noexcept {
    if (p) p->AddRef();
    return attach(p);
  }

  T *get() const noexcept { return p_; }
  T *operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T **put() noexcept {
    reset();
    return &p_;
  }
  void **put_void() noexcept { return reinterpret_cast<void **>(put()); }
  T *detach() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (T *p = std::exchange(p_, nullptr)) p->Release();
  }

  // The object's interface `iid` as U, or empty when it has none.
  template <class U> com_ptr<U> try_as(const GUID &iid) const noexcept {
    com_ptr<U> result;
    if (p_ && p_->QueryInterface(iid, result.put_void()) < 0) result.reset();
    return result;
  }
  // As try_as, but raises the query's failure.
  template <class U> com_ptr<U> as(const GUID &iid) const {
    com_ptr<U> result;
    check(p_ ? p_->QueryInterface(iid, result.put_void()) : kENoInterface);
    if (!result) raise_platform_error(kENoInterface);
    return result;
  }

private:
  T *p_ = nullptr;
};

// An HSTRING the caller owns.
class hstring {
public:
  hstring() noexcept = default;
  explicit hstring(std::wstring_view text) {
    check(WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), &h_));
  }
  hstring(const hstring &) = delete;
  hstring &operator=(const hstring &) = delete;
  ~hstring() {
    if (h_) WindowsDeleteString(h_);
  }
  HSTRING get() const noexcept { return h_; }
  HSTRING *put() noexcept {
    if (h_) WindowsDeleteString(h_);
    h_ = nullptr;
    return &h_;
  }
  std::u16string u16() const {
    UINT32 length = 0;
    const wchar_t *raw = WindowsGetStringRawBuffer(h_, &length);
    return std::u16string(reinterpret_cast<const char16_t *>(raw), length);
  }

private:
  HSTRING h_ = nullptr;
};

} // namespace winrt_abi
