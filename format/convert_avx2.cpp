// Four floats to four 8-bit unorm components eight elements at a time,
// compiled for AVX2 and used only when the processor reports it: per
// element exactly the SSE2 path's steps (max with 0 so a NaN becomes 0, min
// with 1, times 255, truncation), then the bytes are put in the
// destination's order.
#include "format/encode_simd.h"
#include "runtime/avx2.h"

#if QV_HAVE_AVX2_CODE
#include <immintrin.h>

QV_AVX2_BEGIN

namespace {

uint32_t PackEight(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t order) {
  // Byte j of each destination element takes channel ((order >> 8j) & 3)
  // of the same element (the byte shuffle works within 16-byte halves).
  const __m256i first = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0, 0, 0, 4, 4, 4, 4, 8,
                                         8, 8, 8, 12, 12, 12, 12);
  const __m256i shuffle = _mm256_add_epi8(first, _mm256_set1_epi32((int32_t)(order & 0x03030303u)));
  // After the packs, 32-bit slot k holds element 0, 2, 4, 6, 1, 3, 5, 7.
  const __m256i inOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f), scale = _mm256_set1_ps(255.0f);
  uint32_t i = 0;
  for (; i + 8 <= count; i += 8, src += 128, dst += 32) {
    __m256i q[4];
    for (int k = 0; k < 4; ++k) {
      __m256 v = _mm256_loadu_ps(reinterpret_cast<const float*>(src + 32 * k));
      v = _mm256_min_ps(_mm256_max_ps(v, zero), one);
      q[k] = _mm256_cvttps_epi32(_mm256_mul_ps(v, scale));
    }
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(q[0], q[1]), _mm256_packs_epi32(q[2], q[3]));
    const __m256i elements = _mm256_permutevar8x32_epi32(bytes, inOrder);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_shuffle_epi8(elements, shuffle));
  }
  return i;
}

} // namespace

QV_AVX2_END

uint32_t PackFloat4ToUnorm8Wide(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t order) {
  return CpuHasAvx2() ? PackEight(dst, src, count, order) : 0;
}

#else

uint32_t PackFloat4ToUnorm8Wide(uint8_t*, const uint8_t*, uint32_t, uint32_t) { return 0; }

#endif
