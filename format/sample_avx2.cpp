// Point sampling of a single-level, linear, four-float surface (the text
// atlas) eight pixels at a time, compiled for AVX2 and used only when the
// processor reports it. The same steps as the four-lane routine; offsets are
// 32-bit, so it is only chosen for levels under 4 GiB.
#include <cstring>

#include "format/format.h"
#include "format/surface_internal.h"
#include "runtime/avx2.h"

#if QV_HAVE_AVX2_CODE
#include <immintrin.h>

QV_AVX2_BEGIN

namespace {

template <int CLAMP>
void RunPointFloat8(const Surface* s, const Sampler*, const float* u, const float* v, const float*, uint32_t count,
                    float* out) {
  constexpr uint32_t kChunk = 256;
  const SurfaceLevel& l = s->levels[0];
  const __m256 scaleX = _mm256_set1_ps(s->scaleX), scaleY = _mm256_set1_ps(s->scaleY);
  const __m256i offsetX = _mm256_set1_epi32(s->offsetX + 128), offsetY = _mm256_set1_epi32(s->offsetY + 128);
  const __m256i maxX = _mm256_set1_epi32(s->levelMaxX[0]), maxY = _mm256_set1_epi32(s->levelMaxY[0]);
  const __m256i pitch = _mm256_set1_epi32((int32_t)l.pitch);
  alignas(32) uint32_t offset[kChunk];
  for (uint32_t first = 0; first < count; first += kChunk) {
    const uint32_t n = count - first < kChunk ? count - first : kChunk;
    for (uint32_t i = 0; i < n; i += 8) {
      __m256 fu, fv;
      if (n - i >= 8) {
        fu = _mm256_loadu_ps(u + first + i);
        fv = _mm256_loadu_ps(v + first + i);
      } else {
        alignas(32) float tu[8] = {0, 0, 0, 0, 0, 0, 0, 0}, tv[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (uint32_t k = 0; k < n - i; ++k) tu[k] = u[first + i + k], tv[k] = v[first + i + k];
        fu = _mm256_load_ps(tu);
        fv = _mm256_load_ps(tv);
      }
      // (X + offset) + 128 wraps like the two WrapAdds; cvttps gives
      // 0x80000000 for NaN and out-of-range values, like cvttss2si.
      __m256i x = _mm256_srai_epi32(_mm256_add_epi32(_mm256_cvttps_epi32(_mm256_mul_ps(scaleX, fu)), offsetX), 8);
      __m256i y = _mm256_srai_epi32(_mm256_add_epi32(_mm256_cvttps_epi32(_mm256_mul_ps(scaleY, fv)), offsetY), 8);
      if (CLAMP) {
        x = _mm256_min_epi32(_mm256_max_epi32(x, _mm256_setzero_si256()), maxX);
        y = _mm256_min_epi32(_mm256_max_epi32(y, _mm256_setzero_si256()), maxY);
      } else {
        x = _mm256_and_si256(x, maxX);
        y = _mm256_and_si256(y, maxY);
      }
      const __m256i at = _mm256_add_epi32(_mm256_slli_epi32(x, 4), _mm256_mullo_epi32(y, pitch));
      _mm256_store_si256(reinterpret_cast<__m256i*>(offset + i), at);
    }
    for (uint32_t i = 0; i < n; ++i) _mm_prefetch(reinterpret_cast<const char*>(l.start + offset[i]), _MM_HINT_T0);
    float* o = out + 4 * first;
    uint32_t i = 0;
    for (; i + 2 <= n; i += 2) {
      const __m256 pair = _mm256_loadu2_m128(reinterpret_cast<const float*>(l.start + offset[i + 1]),
                                             reinterpret_cast<const float*>(l.start + offset[i]));
      _mm256_storeu_ps(o + 4 * i, pair);
    }
    if (i < n) memcpy(o + 4 * i, l.start + offset[i], 16);
  }
}

} // namespace

QV_AVX2_END

SampleBatchFn WidePointBatch(const Surface* surface, int32_t clamp) {
  const SurfaceLevel& l = surface->levels[0];
  if (!CpuHasAvx2() || (uint64_t)l.pitch * l.height > 0xFFFFFFFFull) return nullptr;
  return clamp ? &RunPointFloat8<1> : &RunPointFloat8<0>;
}

#else

SampleBatchFn WidePointBatch(const Surface*, int32_t) { return nullptr; }

#endif
