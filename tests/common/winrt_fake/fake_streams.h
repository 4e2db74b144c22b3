#pragma once

// The stream classes: the buffer a notification carries and the DataReader
// class (its statics) that reads it.

#include <cstring>
#include <vector>

#include "tests/common/winrt_fake/fake_object.h"

namespace fake {

class ByteBuffer final : public Implements<IBuffer, IBufferByteAccess> {
public:
  explicit ByteBuffer(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  HRESULT STDMETHODCALLTYPE get_Capacity(UINT32 *value) override {
    *value = static_cast<UINT32>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) override {
    *value = static_cast<UINT32>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Length(UINT32) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Buffer(BYTE **value) override {
    *value = bytes_.data();
    return S_OK;
  }

private:
  std::vector<BYTE> bytes_;
};

class DataReader final : public Implements<IDataReader, IClosable> {
public:
  explicit DataReader(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) override {
    *value = static_cast<UINT32>(bytes_.size() - read_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32 *value) override {
    *value = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32 *value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReadByte(BYTE *value) override { return ReadBytes(1, value); }
  HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 count, BYTE *value) override {
    if (closed_) return kClosed;
    if (count > bytes_.size() - read_) return kBounds;
    if (count) std::memcpy(value, bytes_.data() + read_, count);
    read_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    closed_ = true;
    return S_OK;
  }

private:
  std::vector<BYTE> bytes_;
  size_t read_ = 0;
  bool closed_ = false;
};

class DataReaderStatics final : public Implements<IActivationFactory, IDataReaderStatics> {
public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }
  // Reads the buffer through its byte access: the buffer may come from
  // another module (the Bluetooth fake is a separate copy of this one).
  HRESULT STDMETHODCALLTYPE FromBuffer(IBuffer *buffer, IDataReader **reader) override {
    if (!buffer || !reader) return E_INVALIDARG;
    UINT32 length = 0;
    HRESULT result = buffer->get_Length(&length);
    if (result < 0) return result;
    IBufferByteAccess *access = nullptr;
    result = buffer->QueryInterface(iid_of<IBufferByteAccess>, reinterpret_cast<void **>(&access));
    if (result < 0) return result;
    BYTE *bytes = nullptr;
    result = access->Buffer(&bytes);
    access->Release();
    if (result < 0) return result;
    *reader = new DataReader(std::vector<BYTE>(bytes, bytes + length));
    return S_OK;
  }
};

} // namespace fake
