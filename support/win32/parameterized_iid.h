#pragma once

// The interface identifier of a parameterized interface instance
// (IAsyncOperation<X>, TypedEventHandler<X, Y>, ...), computed from its type
// signature at compile time: a name-based (SHA-1, version 5) UUID in the
// runtime's pinterface namespace {11f47ad5-7b73-42c0-abae-878b1e16adee}.

#include <array>
#include <cstdint>
#include <string_view>

#include <guiddef.h>

namespace winrt_abi {

namespace detail {

constexpr std::uint32_t Rotl(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

constexpr std::array<std::uint8_t, 16> kPinterfaceNamespace{0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                                            0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};

// SHA-1 over the namespace bytes followed by the signature text.
constexpr std::array<std::uint8_t, 20> Sha1OfSignature(std::string_view signature) {
  const std::uint64_t length = kPinterfaceNamespace.size() + signature.size();
  const std::uint64_t padded = ((length + 8) / 64 + 1) * 64;
  auto byteAt = [&](std::uint64_t i) -> std::uint8_t {
    if (i < kPinterfaceNamespace.size()) return kPinterfaceNamespace[i];
    if (i < length) return static_cast<std::uint8_t>(signature[i - kPinterfaceNamespace.size()]);
    if (i == length) return 0x80;
    if (i >= padded - 8) return static_cast<std::uint8_t>((length * 8) >> (8 * (padded - 1 - i)));
    return 0;
  };
  std::uint32_t h[5]{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  for (std::uint64_t block = 0; block < padded; block += 64) {
    std::uint32_t w[80]{};
    for (int t = 0; t < 16; ++t)
      for (int b = 0; b < 4; ++b) w[t] = (w[t] << 8) | byteAt(block + static_cast<std::uint64_t>(t * 4 + b));
    for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      std::uint32_t f = 0, k = 0;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t next = Rotl(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> digest{};
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

} // namespace detail

constexpr GUID ParameterizedIid(std::string_view signature) {
  const auto d = detail::Sha1OfSignature(signature);
  GUID iid{};
  iid.Data1 = (static_cast<std::uint32_t>(d[0]) << 24) | (static_cast<std::uint32_t>(d[1]) << 16) |
              (static_cast<std::uint32_t>(d[2]) << 8) | d[3];
  iid.Data2 = static_cast<unsigned short>((d[4] << 8) | d[5]);
  // Version 5 and the RFC 4122 variant.
  iid.Data3 = static_cast<unsigned short>((((d[6] << 8) | d[7]) & 0x0FFF) | 0x5000);
  for (int i = 0; i < 8; ++i) iid.Data4[i] = d[8 + i];
  iid.Data4[0] = static_cast<unsigned char>((iid.Data4[0] & 0x3F) | 0x80);
  return iid;
}

} // namespace winrt_abi
