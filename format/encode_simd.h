// Vector paths for the direct pairs that move 8-bit unorm data to and from
// float32 (SSE2, the x86-64 baseline). Each gives exactly the bits of the
// scalar element routine: same clamps (a NaN takes the lower bound), same
// single-precision multiply and truncation.
#pragma once

#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "format/encode.h"

// Eight-lane version of the four-float to four-byte path where the processor
// has AVX2: converts a leading multiple of eight elements and returns how
// many; byte j of an element takes channel (order >> 8j) & 3. 0 without AVX2.
uint32_t PackFloat4ToUnorm8Wide(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t order);

namespace qvenc {

// Run(dst, src, count) converts a leading part of the elements and returns
// how many it did; the caller finishes the rest element by element.
template <class D, class S, class Enable = void>
struct SimdPath {
  static constexpr bool kAvailable = false;
  static inline uint32_t Run(uint8_t*, const uint8_t*, uint32_t) { return 0; }
};

#if defined(__SSE2__)

template <class L> constexpr bool kIsU8x4 = std::is_same_v<typename L::Enc, EncU8> && L::kSize == 4 && L::kComps == 4;
// Fp32Vec4 / Fp32RGBA: four floats in channel order.
template <class L>
constexpr bool kIsF32x4 = std::is_same_v<typename L::Enc, EncF32> && L::kSize == 16 && L::kComps == 4 &&
                          L::kSlot[0] == 0 && L::kSlot[1] == 1 && L::kSlot[2] == 2 && L::kSlot[3] == 3;
// Fp32RGB: three floats, alpha read as 1.0.
template <class L>
constexpr bool kIsF32RGB = std::is_same_v<typename L::Enc, EncF32> && L::kSize == 12 && L::kRead == 4 &&
                           L::kSlot[0] == 0 && L::kSlot[1] == 1 && L::kSlot[2] == 2;

// Memory slot j of layout L holds channel kChannelAt<L>(j).
template <class L>
constexpr int ChannelAt(int slot) {
  for (int c = 0; c < 4; ++c) {
    if (L::kSlot[c] == slot) {
      return c;
    }
  }
  return 0;
}

// Four 8-bit unorm components (any order) to four floats in channel order.
template <class D, class S>
struct SimdPath<D, S, std::enable_if_t<kIsU8x4<S> && kIsF32x4<D>>> {
  static constexpr bool kAvailable = true;
  static inline __m128 Element(__m128i bytesAsInts, __m128 scale) {
    __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(bytesAsInts), scale);
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(S::kSlot[3], S::kSlot[2], S::kSlot[1], S::kSlot[0]));
  }
  static inline uint32_t Run(uint8_t* dst, const uint8_t* src, uint32_t count) {
    const __m128 scale = _mm_set1_ps(kInv255);
    const __m128i zero = _mm_setzero_si128();
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4, src += 16, dst += 64) {
      __m128i bytes = _mm_loadu_si128((const __m128i*)src);
      __m128i lo = _mm_unpacklo_epi8(bytes, zero);
      __m128i hi = _mm_unpackhi_epi8(bytes, zero);
      _mm_storeu_ps((float*)dst, Element(_mm_unpacklo_epi16(lo, zero), scale));
      _mm_storeu_ps((float*)(dst + 16), Element(_mm_unpackhi_epi16(lo, zero), scale));
      _mm_storeu_ps((float*)(dst + 32), Element(_mm_unpacklo_epi16(hi, zero), scale));
      _mm_storeu_ps((float*)(dst + 48), Element(_mm_unpackhi_epi16(hi, zero), scale));
    }
    return i;
  }
};

// Four floats (or three and alpha 1.0) to four 8-bit unorm components in
// the destination's order: max with 0 first so a NaN becomes 0, then min
// with 1, multiply by 255 and truncate, exactly as the scalar rule.
template <class D, class S>
struct SimdPath<D, S, std::enable_if_t<(kIsF32x4<S> || kIsF32RGB<S>) && kIsU8x4<D>>> {
  static constexpr bool kAvailable = true;
  static inline __m128i Element(const uint8_t* src) {
    __m128 v = _mm_loadu_ps((const float*)src);
    if constexpr (kIsF32RGB<S>) {
      const __m128 rgbMask = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
      v = _mm_or_ps(_mm_and_ps(v, rgbMask), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f));
    }
    v = _mm_max_ps(v, _mm_setzero_ps());
    v = _mm_min_ps(v, _mm_set1_ps(1.0f));
    __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, _mm_set1_ps(255.0f)));
    return _mm_shuffle_epi32(q, _MM_SHUFFLE(ChannelAt<D>(3), ChannelAt<D>(2), ChannelAt<D>(1), ChannelAt<D>(0)));
  }
  static inline uint32_t Run(uint8_t* dst, const uint8_t* src, uint32_t count) {
    // A 16-byte load of a 12-byte element reads into the next one, so the
    // last element is always left to the scalar loop.
    const uint32_t limit = kIsF32RGB<S> ? (count > 0 ? count - 1 : 0) : count;
    uint32_t i = 0;
    if constexpr (kIsF32x4<S>) {
      if (count >= 8) {
        constexpr uint32_t kOrder = (uint32_t)ChannelAt<D>(0) | (uint32_t)ChannelAt<D>(1) << 8 |
                                    (uint32_t)ChannelAt<D>(2) << 16 | (uint32_t)ChannelAt<D>(3) << 24;
        i = PackFloat4ToUnorm8Wide(dst, src, count, kOrder);
        src += (size_t)i * S::kSize;
        dst += (size_t)i * 4;
      }
    }
    for (; i + 4 <= limit; i += 4, src += 4 * S::kSize, dst += 16) {
      __m128i a = _mm_packs_epi32(Element(src), Element(src + S::kSize));
      __m128i b = _mm_packs_epi32(Element(src + 2 * S::kSize), Element(src + 3 * S::kSize));
      _mm_storeu_si128((__m128i*)dst, _mm_packus_epi16(a, b));
    }
    return i;
  }
};

#endif // __SSE2__

} // namespace qvenc
