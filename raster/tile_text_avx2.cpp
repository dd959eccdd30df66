// Eight-lane drawing of text batches, compiled for AVX2 and used only when
// the processor reports it.
#include <cmath>
#include <cstring>

#include "raster/tile_text.h"
#include "runtime/avx2.h"

#if QV_HAVE_AVX2_CODE
#include <immintrin.h>

QV_AVX2_BEGIN

namespace {

// Eight AVX2 lanes: half a tile row. A group's sources are four registers
// of two pixels each (pixel 2j in the low half of register j, 2j + 1 in the
// high half), as they lie in the texel array.
struct Lanes8 {
  typedef __m256 F;
  static constexpr int32_t kLanes = 8;
  struct Src {
    __m256 p[4];
  };
  static F Zero() { return _mm256_setzero_ps(); }
  static F Ones() { return _mm256_castsi256_ps(_mm256_set1_epi32(-1)); }
  static F Set1(float v) { return _mm256_set1_ps(v); }
  static F Load(const float* p) { return _mm256_load_ps(p); }
  static void Store(float* p, F v) { _mm256_store_ps(p, v); }
  static F Add(F a, F b) { return _mm256_add_ps(a, b); }
  static F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F Div(F a, F b) { return _mm256_div_ps(a, b); }
  static F And(F a, F b) { return _mm256_and_ps(a, b); }
  static F Or(F a, F b) { return _mm256_or_ps(a, b); }
  // Masks are whole lanes, so the sign bit blendv looks at decides alike.
  static F Select(F mask, F a, F b) { return _mm256_blendv_ps(b, a, mask); }
  static F Lt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static F Gt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static F Ge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
  static F Eq(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
  static F Nge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NGE_UQ); }
  static F Ngt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NGT_UQ); }
  static F Nlt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NLT_UQ); }
  static F Neq(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NEQ_UQ); }
  static F Ord(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_ORD_Q); }
  static F Unord(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_UNORD_Q); }
  static uint32_t MoveMask(F v) { return (uint32_t)_mm256_movemask_ps(v); }
  static F LaneMask(uint32_t bits) {
    const __m256i lanes = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32((int32_t)bits), lanes), lanes));
  }
  static F PixelX(int32_t x) {
    return _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
  }
  static uint32_t Count(uint32_t bits) { return kBitCount[bits & 15] + kBitCount[bits >> 4]; }
  static F Colour(const float* c) { return _mm256_broadcast_ps(reinterpret_cast<const __m128*>(c)); }
  // Texel times colour for each pixel; returns the eight alphas in pixel
  // order.
  static F Sources(const float* texels, F colour, Src* s) {
    for (int32_t j = 0; j < 4; j++) s->p[j] = _mm256_mul_ps(_mm256_load_ps(texels + 8 * j), colour);
    // (a0 a2 a4 a6 | a1 a3 a5 a7), then into order.
    const __m256 pairs = _mm256_shuffle_ps(_mm256_unpackhi_ps(s->p[0], s->p[1]), _mm256_unpackhi_ps(s->p[2], s->p[3]),
                                           _MM_SHUFFLE(3, 2, 3, 2));
    return _mm256_permutevar8x32_ps(pairs, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
  }
  // (1 - a) * target + a * source in the first three channels and a in the
  // fourth for the two pixels at d. Each pixel's alpha is the fourth channel
  // of its own source.
  static __m256 Mixed(const float* d, __m256 src) {
    const __m256 keepRgb = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, 0, -1, -1, -1, 0));
    const __m256 va = _mm256_shuffle_ps(src, src, _MM_SHUFFLE(3, 3, 3, 3));
    const __m256 blended =
        _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(1.0f), va), _mm256_load_ps(d)), _mm256_mul_ps(va, src));
    return Select(keepRgb, blended, va);
  }
  // Written for the pixels of mask, two pixels a register.
  static void Blend(float* row, const Src& s, F, uint32_t mask) {
    if (mask == 0xFF) {
      // Every pixel written (the usual case inside a glyph): no keep masks.
      for (int32_t j = 0; j < 4; j++) _mm256_store_ps(row + 8 * j, Mixed(row + 8 * j, s.p[j]));
      return;
    }
    const __m256i pixelBits = _mm256_setr_epi32(1, 1, 1, 1, 2, 2, 2, 2);
    for (int32_t j = 0; j < 4; j++) {
      const __m256i bits = _mm256_set1_epi32((int32_t)((mask >> (2 * j)) & 3));
      const __m256 keep = _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(bits, pixelBits), pixelBits));
      float* d = row + 8 * j;
      _mm256_store_ps(d, Select(keep, Mixed(d, s.p[j]), _mm256_load_ps(d)));
    }
  }
};

} // namespace

#include "raster/tile_text_draw.inl"

namespace {

void DrawTextBatch8(TileContext* t, TextTile* tt, Groups* gs, const Batch* b) { DrawTextBatchLanes<Lanes8>(t, tt, gs, b); }

} // namespace

QV_AVX2_END

TextBatchFn TextBatch8() { return CpuHasAvx2() ? &DrawTextBatch8 : nullptr; }

#else

TextBatchFn TextBatch8() { return nullptr; }

#endif
