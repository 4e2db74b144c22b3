#pragma once

// The runtime's stream types: the buffer a notification carries and the
// reader that takes its bytes.

#include "ble/winrt/abi_generic.h"

#include <windows.storage.streams.h>

namespace winrt_abi {

using ABI::Windows::Storage::Streams::IBuffer;

// Read the bytes of an IBuffer directly (the fake's DataReader does).
struct IBufferByteAccess : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Buffer(BYTE **value) = 0;
};
template <>
inline constexpr GUID iid_of<IBufferByteAccess>{
    0x905a0fef, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
template <>
inline constexpr GUID iid_of<IBuffer>{0x905a0fe0, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};

struct IDataReader : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32 *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadByte(BYTE *value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 count, BYTE *value) = 0;
};
template <>
inline constexpr GUID iid_of<IDataReader>{0xe2b50029, 0xb4c1, 0x4314, {0xa4, 0xb8, 0xfb, 0x81, 0x3a, 0x2f, 0x27, 0x5e}};

struct IDataReaderStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE FromBuffer(IBuffer *buffer, IDataReader **reader) = 0;
};
template <>
inline constexpr GUID iid_of<IDataReaderStatics>{
    0x11fcbfc8, 0xf93a, 0x471b, {0xb1, 0x21, 0xf3, 0x79, 0xe3, 0x49, 0x31, 0x3c}};

// The runtime class name.
inline constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";

} // namespace winrt_abi
