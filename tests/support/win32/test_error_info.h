#pragma once

// A stand-in for a thread's restricted error information, counting its
// references and answering no interface.

#include <atomic>

#include "support/win32/error_info.h"

class TestErrorInfo final : public winrt_abi::IRestrictedErrorInfo {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR *, HRESULT *, BSTR *, BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReference(BSTR *) override { return E_NOTIMPL; }
  std::atomic<ULONG> refs{1};
};
