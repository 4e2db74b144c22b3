#pragma once

// The Windows Runtime interfaces the Bluetooth backend calls, declared on the
// raw ABI: vtable order, __stdcall, HRESULT results, out-parameters last.
// mingw-w64 gives only IInspectable, IActivationFactory, IBuffer and the
// event token; everything else is declared in the abi_*.h headers. Interfaces
// list only the methods up to the last one called; later slots are left out.
// This one holds the generic interfaces the others instantiate.

#include <cstdint>

#include "support/win32/com_ptr.h"
#include "support/win32/parameterized_iid.h"

#include <activation.h>
#include <eventtoken.h>

namespace winrt_abi {

struct TimeSpan {
  INT64 Duration;
};
struct DateTime {
  INT64 UniversalTime;
};

template <class I> inline constexpr GUID iid_of{};

struct IAsyncInfo : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(INT32 *status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *errorCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
template <>
inline constexpr GUID iid_of<IAsyncInfo>{0x00000036, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IClosable : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
template <>
inline constexpr GUID iid_of<IClosable>{0x30d5a829, 0x7fa4, 0x4026, {0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e}};

template <class TAbi> struct IAsyncOperation;

// AsyncOperationCompletedHandler<T>
template <class TAbi> struct IAsyncOperationCompletedHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation<TAbi> *asyncInfo, INT32 status) = 0;
};

template <class TAbi> struct IAsyncOperation : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncOperationCompletedHandler<TAbi> *handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncOperationCompletedHandler<TAbi> **handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(TAbi *results) = 0;
};

template <class TSender, class TArgs> struct ITypedEventHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(TSender sender, TArgs args) = 0;
};

template <class TAbi> struct IVectorView : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, TAbi *item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) = 0;
  virtual HRESULT STDMETHODCALLTYPE IndexOf(TAbi value, UINT32 *index, boolean *found) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 startIndex, UINT32 capacity, TAbi *items, UINT32 *actual) = 0;
};

// Type signatures of the parameterized instances: a runtime class by name and
// default interface, and the generic interfaces over their arguments.
#define VK5_RC(name, iid) "rc(" name ";{" iid "})"
#define VK5_IAO(arg) "pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};" arg ")"
#define VK5_AOCH(arg) "pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};" arg ")"
#define VK5_TEH(sender, args) "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};" sender ";" args ")"
#define VK5_IVV(arg) "pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};" arg ")"

} // namespace winrt_abi
