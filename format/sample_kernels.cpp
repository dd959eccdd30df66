// Texture sampling: one kernel template specialised by element size, format
// kind, layout, filter group and addressing, and the 576-entry table that
// SampleSurface dispatches through (row = surface kernelRow, column =
// sampler kernel number).
//
// Coordinates are fixed point with 8 fractional bits. Float-to-integer
// conversions that can see NaN, infinities or huge values behave like the
// x86 truncating conversion: anything outside the int32 range (and NaN)
// becomes 0x80000000. Integer sums that may leave the range wrap (two's
// complement) instead of being undefined. Every coordinate is clamped or
// wrapped into the level before it is turned into an address, so no input
// reads outside the level's texels.
#include <array>
#include <atomic>
#include <cstring>
#include <utility>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "format/format.h"
#include "format/format_testing.h"
#include "format/surface_internal.h"

namespace {

constexpr int kAny = -1; // decided per call from the surface or the sampler
constexpr uint32_t kMaxTaps = 8;

inline int32_t TruncToInt32(float f) {
#if defined(__SSE__)
  return _mm_cvtt_ss2si(_mm_set_ss(f));
#else
  if (f >= -2147483648.0f && f < 2147483648.0f) return static_cast<int32_t>(f);
  return INT32_MIN;
#endif
}

inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// 256 x log2(rho), read off the float's bit pattern, plus the bias. rho <= 0
// (-0.0 included) has no logarithm and reads as +0.0, the lowest value the
// bit pattern gives, so it selects the finest level like +0.0 does; a sign
// bit left in would wrap the difference and select the coarsest one instead.
inline int32_t LevelOfDetail(const Sampler* sampler, float rho) {
  uint32_t bits;
  if (rho <= 0.0f) rho = 0.0f;
  memcpy(&bits, &rho, sizeof(bits));
  int32_t diff = static_cast<int32_t>(bits - 0x3F800000u);
  int32_t steps = static_cast<int32_t>(static_cast<float>(diff) * 0x1p-15f); // |.| <= 2^16
  return WrapAdd(sampler->lodBias, steps);
}

// Level in 1/256 steps. The final floor at 0 only matters for samplers whose
// minLod or maxLod is negative, which would otherwise select level -1.
inline int32_t ClampLod(const Surface* surface, const Sampler* sampler, int32_t t) {
  int32_t hi = sampler->maxLod < surface->lodLimit ? sampler->maxLod : surface->lodLimit;
  if (t < sampler->minLod) t = sampler->minLod;
  if (t > hi) t = hi;
  return t < 0 ? 0 : t;
}

struct Taps {
  const uint8_t* texel[kMaxTaps];
  float weight[kMaxTaps];
  uint32_t count;
};

template <int ES, int FP32, int POW2, int MORTON, int GROUP, int ADDR>
struct Kernel {
  static uint32_t ElementSize(const Surface* s) {
    if constexpr (ES != 0) return ES;
    else return s->elementSize;
  }
  static bool IsFp32(const Surface* s) {
    if constexpr (FP32 == kAny) return s->isFp32 != 0;
    else return FP32 != 0;
  }
  static bool IsPow2(const Surface* s) {
    if constexpr (POW2 == kAny) return s->isPow2 != 0;
    else return POW2 != 0;
  }
  static bool IsMorton(const Surface* s) {
    if constexpr (MORTON == kAny) return s->layout != kLayoutLinear;
    else return MORTON != 0;
  }

  // Clamps or wraps one axis; in Morton layout the result is the spread code.
  static uint32_t Axis(const Surface* s, int32_t c, int32_t maxC, uint32_t spreadMask, bool clamp) {
    if (clamp) {
      c = c < 0 ? 0 : (c > maxC ? maxC : c);
      return IsMorton(s) ? SpreadBits16(static_cast<uint32_t>(c)) : static_cast<uint32_t>(c);
    }
    if (IsMorton(s)) return SpreadBits16(static_cast<uint32_t>(c)) & spreadMask;
    if (IsPow2(s)) return static_cast<uint32_t>(c) & static_cast<uint32_t>(maxC);
    int32_t n = maxC + 1;
    return static_cast<uint32_t>(c >= 0 ? c % n : maxC + (c + 1) % n);
  }

  static const uint8_t* Address(const Surface* s, int32_t level, uint32_t x, uint32_t y) {
    const SurfaceLevel& l = s->levels[level];
    if (IsMorton(s)) return l.start + static_cast<uint64_t>(x | (y << 1)) * ElementSize(s);
    return l.start + static_cast<uint64_t>(x) * ElementSize(s) + static_cast<uint64_t>(y) * l.pitch;
  }

  static void AddPoint(Taps* taps, const Surface* s, int32_t level, int32_t X, int32_t Y, float weight,
                       bool clampU, bool clampV) {
    int32_t x = WrapAdd(X, 128) >> (level + 8);
    int32_t y = WrapAdd(Y, 128) >> (level + 8);
    uint32_t ax = Axis(s, x, s->levelMaxX[level], s->levelSpreadX[level], clampU);
    uint32_t ay = Axis(s, y, s->levelMaxY[level], s->levelSpreadY[level], clampV);
    taps->texel[taps->count] = Address(s, level, ax, ay);
    taps->weight[taps->count] = weight;
    ++taps->count;
  }

  static void AddBilinear(Taps* taps, const Surface* s, int32_t level, int32_t X, int32_t Y, float scale,
                          bool clampU, bool clampV) {
    int32_t x0 = X >> (level + 8), y0 = Y >> (level + 8);
    float fx = static_cast<float>((X >> level) & 255) * (1.0f / 256.0f);
    float fy = static_cast<float>((Y >> level) & 255) * (1.0f / 256.0f);
    uint32_t ax0 = Axis(s, x0, s->levelMaxX[level], s->levelSpreadX[level], clampU);
    uint32_t ax1 = Axis(s, x0 + 1, s->levelMaxX[level], s->levelSpreadX[level], clampU);
    uint32_t ay0 = Axis(s, y0, s->levelMaxY[level], s->levelSpreadY[level], clampV);
    uint32_t ay1 = Axis(s, y0 + 1, s->levelMaxY[level], s->levelSpreadY[level], clampV);
    uint32_t n = taps->count;
    // Multiples of 1/256 multiplied together: every weight is exact.
    taps->texel[n + 0] = Address(s, level, ax0, ay0);
    taps->weight[n + 0] = (1.0f - fx) * (1.0f - fy) * scale;
    taps->texel[n + 1] = Address(s, level, ax1, ay0);
    taps->weight[n + 1] = fx * (1.0f - fy) * scale;
    taps->texel[n + 2] = Address(s, level, ax0, ay1);
    taps->weight[n + 2] = (1.0f - fx) * fy * scale;
    taps->texel[n + 3] = Address(s, level, ax1, ay1);
    taps->weight[n + 3] = fx * fy * scale;
    taps->count = n + 4;
  }

  // Gather every tap (there is always at least one), then one conversion;
  // float32 surfaces are read as is, laid out exactly as unpackN writes.
  // Returns the channels per tap in values.
  static inline uint32_t Gather(const Surface* s, const Taps* taps, float* values) {
    uint32_t channels;
    uint32_t es = ElementSize(s);
    if (IsFp32(s)) {
      uint32_t stored = es / 4;
      if constexpr (ES != 0 && FP32 == 1) channels = ES / 4;
      else channels = s->readChannels;
      uint32_t t = 0;
      do {
        memcpy(values + t * channels, taps->texel[t], stored * sizeof(float));
        for (uint32_t c = stored; c < channels; ++c) values[t * channels + c] = 1.0f;
      } while (++t < taps->count);
    } else {
      channels = s->readChannels;
      alignas(16) uint8_t raw[kMaxTaps * 16];
      uint32_t t = 0;
      do {
        if constexpr (ES != 0) memcpy(raw + t * ES, taps->texel[t], ES);
        else memcpy(raw + t * es, taps->texel[t], es);
      } while (++t < taps->count);
      s->ops.unpackN(raw, values, taps->count);
    }
    return channels;
  }

  static void Run(const Surface* s, const Sampler* sampler, const float* pixel, float* result) {
    bool clampU, clampV;
    if constexpr (ADDR == kAny) {
      clampU = sampler->addressU == 1;
      clampV = sampler->addressV == 1;
    } else {
      clampU = clampV = ADDR == 0;
    }

    int32_t lambda = LevelOfDetail(sampler, pixel[3]);
    int32_t X = WrapAdd(TruncToInt32(s->scaleX * pixel[0]), s->offsetX);
    int32_t Y = WrapAdd(TruncToInt32(s->scaleY * pixel[1]), s->offsetY);

    // Zeroed so the optimiser can see every tap read below was written (the
    // paths above always add at least one).
    Taps taps = {};
    bool nearest, bilinearFine, bilinearCoarse;
    if constexpr (GROUP == 0) {
      nearest = true, bilinearFine = false, bilinearCoarse = false;
    } else if constexpr (GROUP == 1) {
      nearest = true, bilinearFine = true, bilinearCoarse = true;
    } else if constexpr (GROUP == 2) {
      nearest = false, bilinearFine = true, bilinearCoarse = true;
    } else {
      nearest = sampler->mipFilter == 1;
      if (nearest) {
        bilinearFine = bilinearCoarse = sampler->coarseFilter == 2 || sampler->fineFilter == 2;
      } else {
        bilinearFine = sampler->fineFilter != 1;
        bilinearCoarse = sampler->coarseFilter != 1;
      }
    }

    if (nearest) {
      int32_t level = ClampLod(s, sampler, WrapAdd(lambda, 128)) >> 8;
      if (bilinearFine) AddBilinear(&taps, s, level, X, Y, 1.0f, clampU, clampV);
      else AddPoint(&taps, s, level, X, Y, 1.0f, clampU, clampV);
    } else {
      int32_t l0 = ClampLod(s, sampler, lambda) >> 8;
      int32_t l1 = ClampLod(s, sampler, WrapAdd(lambda, 256)) >> 8;
      float blend = static_cast<float>(lambda & 255) * (1.0f / 256.0f);
      if (bilinearFine) AddBilinear(&taps, s, l0, X, Y, 1.0f - blend, clampU, clampV);
      else AddPoint(&taps, s, l0, X, Y, 1.0f - blend, clampU, clampV);
      if (bilinearCoarse) AddBilinear(&taps, s, l1, X, Y, blend, clampU, clampV);
      else AddPoint(&taps, s, l1, X, Y, blend, clampU, clampV);
    }

    float values[kMaxTaps * 4];
    const uint32_t channels = Gather(s, &taps, values);
    if (taps.count == 1) {
      for (uint32_t c = 0; c < channels; ++c) result[c] = values[c];
      return;
    }
    for (uint32_t c = 0; c < channels; ++c) {
      float sum = values[c] * taps.weight[0];
      for (uint32_t t = 1; t < taps.count; ++t) sum += values[t * channels + c] * taps.weight[t];
      result[c] = sum;
    }
  }
};

using GeneralKernel = Kernel<0, kAny, kAny, kAny, 3, kAny>;

// The kernel's own code inlined into a loop over the pixels.
template <class K>
void RunBatch(const Surface* s, const Sampler* sampler, const float* u, const float* v, const float* rho,
              uint32_t count, float* out) {
  for (uint32_t i = 0; i < count; ++i) {
    const float pixel[4] = {u[i], v[i], 0.0f, rho[i]};
    float texel[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    K::Run(s, sampler, pixel, texel);
    memcpy(out + 4 * i, texel, sizeof(texel));
  }
}

// Point sampling of float texels: every texel address first, with a
// prefetch, then the reads, so the cache misses of a batch overlap.
template <class K, int ES, int ADDR>
void RunPointBatch(const Surface* s, const Sampler* sampler, const float* u, const float* v, const float* rho,
                   uint32_t count, float* out) {
  constexpr uint32_t kChunk = 256;
  constexpr uint32_t kFloats = ES / 4;
  const bool clampU = ADDR == 0, clampV = ADDR == 0;
  const uint8_t* texel[kChunk];
  for (uint32_t first = 0; first < count; first += kChunk) {
    const uint32_t n = count - first < kChunk ? count - first : kChunk;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t p = first + i;
      const int32_t lambda = LevelOfDetail(sampler, rho[p]);
      const int32_t X = WrapAdd(TruncToInt32(s->scaleX * u[p]), s->offsetX);
      const int32_t Y = WrapAdd(TruncToInt32(s->scaleY * v[p]), s->offsetY);
      const int32_t level = ClampLod(s, sampler, WrapAdd(lambda, 128)) >> 8;
      Taps taps;
      taps.count = 0;
      K::AddPoint(&taps, s, level, X, Y, 1.0f, clampU, clampV);
      texel[i] = taps.texel[0];
#if defined(__SSE__)
      _mm_prefetch(reinterpret_cast<const char*>(texel[i]), _MM_HINT_T0);
#endif
    }
    for (uint32_t i = 0; i < n; ++i) {
      float* o = out + 4 * (first + i);
      memcpy(o, texel[i], ES);
      for (uint32_t c = kFloats; c < 4; ++c) o[c] = 0.0f;
    }
  }
}

#if defined(__SSE2__)
// Point sampling of a single-level, linear, four-float surface (the text
// atlas), four pixels per step. With one level the level of detail always
// selects level 0, so rho is not read. Wrap needs a power-of-two size
// (a mask); clamp works for any size. Same steps as AddPoint and Axis.
template <int CLAMP>
void RunPointFloat4(const Surface* s, const Sampler*, const float* u, const float* v, const float*, uint32_t count,
                    float* out) {
  constexpr uint32_t kChunk = 256;
  const SurfaceLevel& l = s->levels[0];
  const __m128 scaleX = _mm_set1_ps(s->scaleX), scaleY = _mm_set1_ps(s->scaleY);
  const __m128i offsetX = _mm_set1_epi32(s->offsetX + 128), offsetY = _mm_set1_epi32(s->offsetY + 128);
  const __m128i maxX = _mm_set1_epi32(s->levelMaxX[0]), maxY = _mm_set1_epi32(s->levelMaxY[0]);
  const __m128i zero = _mm_setzero_si128();
  alignas(16) uint32_t ax[kChunk], ay[kChunk];
  uint64_t offset[kChunk];
  for (uint32_t first = 0; first < count; first += kChunk) {
    const uint32_t n = count - first < kChunk ? count - first : kChunk;
    for (uint32_t i = 0; i < n; i += 4) {
      __m128 fu, fv;
      if (n - i >= 4) {
        fu = _mm_loadu_ps(u + first + i);
        fv = _mm_loadu_ps(v + first + i);
      } else {
        alignas(16) float tu[4] = {0, 0, 0, 0}, tv[4] = {0, 0, 0, 0};
        for (uint32_t k = 0; k < n - i; ++k) tu[k] = u[first + i + k], tv[k] = v[first + i + k];
        fu = _mm_load_ps(tu);
        fv = _mm_load_ps(tv);
      }
      // (X + offset) + 128 wraps like the two WrapAdds; cvttps gives
      // 0x80000000 for NaN and out-of-range values, like cvttss2si.
      __m128i x = _mm_srai_epi32(_mm_add_epi32(_mm_cvttps_epi32(_mm_mul_ps(scaleX, fu)), offsetX), 8);
      __m128i y = _mm_srai_epi32(_mm_add_epi32(_mm_cvttps_epi32(_mm_mul_ps(scaleY, fv)), offsetY), 8);
      if (CLAMP) {
        x = _mm_andnot_si128(_mm_cmplt_epi32(x, zero), x);
        y = _mm_andnot_si128(_mm_cmplt_epi32(y, zero), y);
        const __m128i overX = _mm_cmpgt_epi32(x, maxX), overY = _mm_cmpgt_epi32(y, maxY);
        x = _mm_or_si128(_mm_and_si128(overX, maxX), _mm_andnot_si128(overX, x));
        y = _mm_or_si128(_mm_and_si128(overY, maxY), _mm_andnot_si128(overY, y));
      } else {
        x = _mm_and_si128(x, maxX);
        y = _mm_and_si128(y, maxY);
      }
      _mm_store_si128(reinterpret_cast<__m128i*>(ax + i), x);
      _mm_store_si128(reinterpret_cast<__m128i*>(ay + i), y);
      for (uint32_t k = 0; k < 4; ++k) {
        offset[i + k] = uint64_t(ax[i + k]) * 16 + uint64_t(ay[i + k]) * l.pitch;
        _mm_prefetch(reinterpret_cast<const char*>(l.start + offset[i + k]), _MM_HINT_T0);
      }
    }
    for (uint32_t i = 0; i < n; ++i) memcpy(out + 4 * (first + i), l.start + offset[i], 16);
  }
}
#endif

void ZeroBatch(const Surface*, const Sampler*, const float*, const float*, const float*, uint32_t count, float* out) {
  memset(out, 0, sizeof(float) * 4 * count);
}

constexpr uint32_t kBlockElementSize[6] = {1, 2, 4, 8, 16, 0};

// Table index = size block (96 entries) + kind (24) + layout (12) + kernel.
// Kinds: Fp32 power-of-two, Fp32 other, converted power-of-two, converted
// other. Kernels: four filters (k / 3) by three columns (k % 3): clamp,
// wrap, and the general kernel.
template <uint32_t I>
struct EntryOf {
  static constexpr uint32_t block = I / 96, kind = (I / 24) % 4, k = I % 12;
  static constexpr int size = static_cast<int>(kBlockElementSize[block]);
  static constexpr int fp32 = kind < 2 ? 1 : 0;
  static constexpr int pow2 = kind % 2 == 0 ? 1 : 0;
  static constexpr int morton = static_cast<int>((I / 12) % 2);
  static constexpr int filter = static_cast<int>(k / 3), address = static_cast<int>(k % 3);
  static constexpr bool empty = (fp32 && block < 2) || (morton && !pow2);
  static constexpr bool general = address == 2;
};

template <uint32_t I>
constexpr SampleKernelFn KernelAt() {
  using E = EntryOf<I>;
  if constexpr (E::empty) {
    return nullptr;
  } else if constexpr (E::general) {
    return &GeneralKernel::Run;
  } else {
    return &Kernel<E::size, E::fp32, E::pow2, E::morton, E::filter, E::address>::Run;
  }
}

// Same layout as the kernel table, each entry looping over its kernel.
template <uint32_t I>
constexpr SampleBatchFn BatchAt() {
  using E = EntryOf<I>;
  if constexpr (E::empty) {
    return nullptr;
  } else if constexpr (E::general) {
    return &RunBatch<GeneralKernel>;
  } else if constexpr (E::fp32 && E::block >= 2 && E::block <= 4 && E::filter == 0) {
    return &RunPointBatch<Kernel<E::size, 1, E::pow2, E::morton, 0, E::address>, E::size, E::address>;
  } else {
    return &RunBatch<Kernel<E::size, E::fp32, E::pow2, E::morton, E::filter, E::address>>;
  }
}

template <size_t... I>
constexpr std::array<SampleKernelFn, sizeof...(I)> MakeKernelTable(std::index_sequence<I...>) {
  return {{KernelAt<static_cast<uint32_t>(I)>()...}};
}

template <size_t... I>
constexpr std::array<SampleBatchFn, sizeof...(I)> MakeBatchTable(std::index_sequence<I...>) {
  return {{BatchAt<static_cast<uint32_t>(I)>()...}};
}

constexpr std::array<SampleKernelFn, kSampleKernelCount> kSampleKernels =
    MakeKernelTable(std::make_index_sequence<kSampleKernelCount>());
constexpr std::array<SampleBatchFn, kSampleKernelCount> kSampleBatches =
    MakeBatchTable(std::make_index_sequence<kSampleKernelCount>());

} // namespace

const SampleKernelFn* SampleKernelTable() { return kSampleKernels.data(); }

SampleKernelFn SelectSampleKernel(const Surface* surface, const Sampler* sampler) {
  // Empty entries, kernel numbers past the row and surfaces without levels
  // or a format answer zeros instead of jumping through a null pointer.
  if (sampler->kernel < 12 && surface->levelCount != 0 && surface->ops.unpackN)
    return kSampleKernels[surface->kernelRow + sampler->kernel];
  return nullptr;
}

namespace {

std::atomic<int32_t> s_wideSamplingOff{0};

// Point sampling of a single-level, linear, four-float surface, clamped
// (kernel 0) or wrapped by mask (kernel 1 on a power-of-two size): the text
// atlas. One level means level 0 whatever rho says.
int32_t IsPointFloat4(const Surface* surface, const Sampler* sampler) {
  const uint32_t k = sampler->kernel;
  return surface->isFp32 && surface->elementSize == 16 && surface->layout == kLayoutLinear && surface->lodLimit == 0 &&
         (k == 0 || (k == 1 && surface->isPow2));
}

} // namespace

void SetWideSamplingForTest(int32_t enabled) { s_wideSamplingOff.store(enabled ? 0 : 1); }

SampleBatchFn SelectSampleBatch(const Surface* surface, const Sampler* sampler) {
  if (!SelectSampleKernel(surface, sampler)) return &ZeroBatch;
#if defined(__SSE2__)
  if (IsPointFloat4(surface, sampler)) {
    const int32_t clamp = sampler->kernel == 0;
    if (s_wideSamplingOff.load(std::memory_order_relaxed) == 0)
      if (const SampleBatchFn wide = WidePointBatch(surface, clamp)) return wide;
    return clamp ? &RunPointFloat4<1> : &RunPointFloat4<0>;
  }
#endif
  return kSampleBatches[surface->kernelRow + sampler->kernel];
}

int32_t SampleBatchReadsRho(const Surface* surface, const Sampler* sampler) {
  if (!SelectSampleKernel(surface, sampler)) return 0;
#if defined(__SSE2__)
  if (IsPointFloat4(surface, sampler)) return 0;
#endif
  return 1;
}

void SampleSurface(const Surface* surface, const Sampler* sampler, const float* pixel, float* result) {
  float local[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  SampleKernelFn kernel = SelectSampleKernel(surface, sampler);
  if (kernel) kernel(surface, sampler, pixel, local);
  memcpy(result, local, sizeof(local));
}
