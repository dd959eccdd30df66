// The twelve element operations generated from one layout type L (see
// encode.h). The n-element forms are plain loops over the inline element
// routines, so they contain no indirect calls.
#pragma once

#include <cstring>

#include "format/encode.h"
#include "format/format.h"

namespace qvenc {

template <class L>
struct Ops {
  static void Clear(void* element) { std::memset(element, 0, L::kSize); }
  static void ClearN(void* elements, uint32_t count) { std::memset(elements, 0, (size_t)L::kSize * count); }
  static void Copy(void* dst, const void* src) { std::memcpy(dst, src, L::kSize); }
  static void CopyN(void* dst, const void* src, uint32_t count) { std::memmove(dst, src, (size_t)L::kSize * count); }

  static inline void SwapOne(uint8_t* p) {
    if constexpr (L::kUnit > 1) {
      for (uint32_t u = 0; u < L::kSize; u += L::kUnit) {
        for (uint32_t i = 0; i < L::kUnit / 2; ++i) {
          uint8_t t = p[u + i];
          p[u + i] = p[u + L::kUnit - 1 - i];
          p[u + L::kUnit - 1 - i] = t;
        }
      }
    }
  }
  static void SwapBytes(void* element) { SwapOne((uint8_t*)element); }
  static void SwapBytesN(void* elements, uint32_t count) {
    if constexpr (L::kUnit > 1) {
      uint8_t* p = (uint8_t*)elements;
      for (uint32_t i = 0; i < count; ++i, p += L::kSize) {
        SwapOne(p);
      }
    }
  }

  static void Pack(void* dst, const float* channels) { L::Pack(dst, channels); }
  static void PackN(void* dst, const float* channels, uint32_t count) {
    uint8_t* d = (uint8_t*)dst;
    for (uint32_t i = 0; i < count; ++i, d += L::kSize, channels += L::kComps) {
      L::Pack(d, channels);
    }
  }
  static void Unpack(const void* src, float* channels) { L::Unpack(src, channels); }
  static void UnpackN(const void* src, float* channels, uint32_t count) {
    const uint8_t* s = (const uint8_t*)src;
    for (uint32_t i = 0; i < count; ++i, s += L::kSize, channels += L::kRead) {
      L::Unpack(s, channels);
    }
  }
  static void UnpackScaled(const void* src, float w, float* channels) {
    float t[4];
    L::Unpack(src, t);
    for (uint32_t c = 0; c < L::kRead; ++c) {
      channels[c] = t[c] * w;
    }
  }
  static void UnpackScaledAdd(const void* src, float w, float* channels) {
    float t[4];
    L::Unpack(src, t);
    for (uint32_t c = 0; c < L::kRead; ++c) {
      channels[c] += t[c] * w;
    }
  }

  static constexpr FormatOps kOps = {Clear, ClearN, Copy, CopyN, SwapBytes, SwapBytesN,
                                     Pack, PackN, Unpack, UnpackN, UnpackScaled, UnpackScaledAdd};
};

} // namespace qvenc
