// The direct pair table: specialised routines for the most used pairs (8-bit
// formats to and from float32 formats, and 8-bit reorderings). Each gives
// the same bits as the generic path through unpack and pack, except the
// Snorm8 reorderings, which keep every byte (see ShuffleOne).
#include <type_traits>

#include "format/encode_simd.h"
#include "format/encode.h"
#include "format/format.h"
#include "format/format_testing.h"

namespace {

using namespace qvenc;

template <int F> struct Lay;
#define QV_LAYOUT(fmt, L) \
  template <> struct Lay<fmt> { typedef L Type; }
QV_LAYOUT(Fp32, LVec1<EncF32>);
QV_LAYOUT(Fp32Vec2, LVec2<EncF32>);
QV_LAYOUT(Fp32Vec3, LVec3<EncF32>);
QV_LAYOUT(Fp32Vec4, LVec4<EncF32>);
QV_LAYOUT(Unorm8, LVec1<EncU8>);
QV_LAYOUT(Unorm8Vec2, LVec2<EncU8>);
QV_LAYOUT(Unorm8Vec3, LVec3<EncU8>);
QV_LAYOUT(Unorm8Vec4, LVec4<EncU8>);
QV_LAYOUT(Snorm8, LVec1<EncS8>);
QV_LAYOUT(Snorm8Vec2, LVec2<EncS8>);
QV_LAYOUT(Snorm8Vec3, LVec3<EncS8>);
QV_LAYOUT(Snorm8Vec4, LVec4<EncS8>);
QV_LAYOUT(Fp32RGB, LRGB<EncF32>);
QV_LAYOUT(Fp32RGBA, LRGBA<EncF32>);
QV_LAYOUT(Unorm8RGB, LRGB<EncU8>);
QV_LAYOUT(Unorm8RGBA, LRGBA<EncU8>);
QV_LAYOUT(Snorm8RGB, LRGB<EncS8>);
QV_LAYOUT(Snorm8RGBA, LRGBA<EncS8>);
QV_LAYOUT(Unorm8BGR, LBGR<EncU8>);
QV_LAYOUT(Unorm8BGRA, LBGRA<EncU8>);
QV_LAYOUT(Unorm8ARGB, LARGB<EncU8>);
#undef QV_LAYOUT

template <class L> constexpr bool kIsU8 = std::is_same_v<typename L::Enc, EncU8>;
template <class L> constexpr bool kIsS8 = std::is_same_v<typename L::Enc, EncS8>;
template <class D, class S>
constexpr bool kIsByteShuffle = (kIsU8<D> && kIsU8<S>) || (kIsS8<D> && kIsS8<S>);

// 8-bit to 8-bit of the same kind is a byte shuffle, with the encoding of
// 1.0 (255 or 127) for a synthesised alpha. For Unorm8 this equals the float
// round trip. For Snorm8 it does not: the trip through floats truncates most
// values by one code (9 becomes 8, -128 becomes -127), so a plain reorder of
// identical components would corrupt them; these pairs keep the bytes.
template <class D, class S>
inline void ShuffleOne(uint8_t* d, const uint8_t* s) {
  uint8_t out[D::kSize];
  for (uint32_t c = 0; c < D::kComps; ++c) {
    out[D::kSlot[c]] = c < S::kComps ? s[S::kSlot[c]] : (uint8_t)D::Enc::kOne;
  }
  std::memcpy(d, out, D::kSize);
}

template <class D, class S>
struct Direct {
  static inline void Element(void* dst, const void* src) {
    if constexpr (kIsByteShuffle<D, S>) {
      ShuffleOne<D, S>((uint8_t*)dst, (const uint8_t*)src);
    } else {
      float channels[4];
      S::Unpack(src, channels);
      D::Pack(dst, channels);
    }
  }
  static void One(void* dst, const void* src) { Element(dst, src); }
  static void Many(void* dst, const void* src, uint32_t count) {
    uint8_t* d = (uint8_t*)dst;
    const uint8_t* s = (const uint8_t*)src;
    uint32_t i = 0;
    if constexpr (SimdPath<D, S>::kAvailable) {
      i = SimdPath<D, S>::Run(d, s, count);
      d += (size_t)i * D::kSize;
      s += (size_t)i * S::kSize;
    }
    for (; i < count; ++i, d += D::kSize, s += S::kSize) {
      Element(d, s);
    }
  }
};

#define QV_PAIR(dst, src)                                        \
  {(uint32_t)(dst) * kFormatCount + (uint32_t)(src),              \
   Direct<Lay<dst>::Type, Lay<src>::Type>::One, Direct<Lay<dst>::Type, Lay<src>::Type>::Many}

constexpr DirectPair kPairs[77] = {
    QV_PAIR(Fp32, Unorm8),
    QV_PAIR(Fp32, Snorm8),
    QV_PAIR(Fp32Vec2, Unorm8Vec2),
    QV_PAIR(Fp32Vec2, Snorm8Vec2),
    QV_PAIR(Fp32Vec3, Unorm8Vec3),
    QV_PAIR(Fp32Vec3, Snorm8Vec3),
    QV_PAIR(Fp32Vec4, Unorm8Vec4),
    QV_PAIR(Fp32Vec4, Snorm8Vec4),
    QV_PAIR(Fp32Vec4, Fp32RGB),
    QV_PAIR(Fp32Vec4, Unorm8RGB),
    QV_PAIR(Fp32Vec4, Unorm8RGBA),
    QV_PAIR(Fp32Vec4, Snorm8RGB),
    QV_PAIR(Fp32Vec4, Snorm8RGBA),
    QV_PAIR(Fp32Vec4, Unorm8BGR),
    QV_PAIR(Fp32Vec4, Unorm8BGRA),
    QV_PAIR(Fp32Vec4, Unorm8ARGB),
    QV_PAIR(Unorm8, Fp32),
    QV_PAIR(Unorm8Vec2, Fp32Vec2),
    QV_PAIR(Unorm8Vec3, Fp32Vec3),
    QV_PAIR(Unorm8Vec4, Fp32Vec4),
    QV_PAIR(Unorm8Vec4, Fp32RGB),
    QV_PAIR(Unorm8Vec4, Fp32RGBA),
    QV_PAIR(Unorm8Vec4, Unorm8RGB),
    QV_PAIR(Unorm8Vec4, Unorm8BGR),
    QV_PAIR(Unorm8Vec4, Unorm8BGRA),
    QV_PAIR(Unorm8Vec4, Unorm8ARGB),
    QV_PAIR(Snorm8, Fp32),
    QV_PAIR(Snorm8Vec2, Fp32Vec2),
    QV_PAIR(Snorm8Vec3, Fp32Vec3),
    QV_PAIR(Snorm8Vec4, Fp32Vec4),
    QV_PAIR(Snorm8Vec4, Fp32RGB),
    QV_PAIR(Snorm8Vec4, Fp32RGBA),
    QV_PAIR(Snorm8Vec4, Snorm8RGB),
    QV_PAIR(Fp32RGB, Unorm8Vec3),
    QV_PAIR(Fp32RGB, Snorm8Vec3),
    QV_PAIR(Fp32RGBA, Unorm8Vec4),
    QV_PAIR(Fp32RGBA, Snorm8Vec4),
    QV_PAIR(Fp32RGBA, Fp32RGB),
    QV_PAIR(Fp32RGBA, Unorm8RGB),
    QV_PAIR(Fp32RGBA, Unorm8RGBA),
    QV_PAIR(Fp32RGBA, Snorm8RGB),
    QV_PAIR(Fp32RGBA, Snorm8RGBA),
    QV_PAIR(Fp32RGBA, Unorm8BGR),
    QV_PAIR(Fp32RGBA, Unorm8BGRA),
    QV_PAIR(Fp32RGBA, Unorm8ARGB),
    QV_PAIR(Unorm8RGB, Fp32Vec3),
    QV_PAIR(Unorm8RGBA, Fp32Vec4),
    QV_PAIR(Unorm8RGBA, Fp32RGB),
    QV_PAIR(Unorm8RGBA, Fp32RGBA),
    QV_PAIR(Unorm8RGBA, Unorm8RGB),
    QV_PAIR(Unorm8RGBA, Unorm8BGR),
    QV_PAIR(Unorm8RGBA, Unorm8BGRA),
    QV_PAIR(Unorm8RGBA, Unorm8ARGB),
    QV_PAIR(Snorm8RGB, Fp32Vec3),
    QV_PAIR(Snorm8RGBA, Fp32Vec4),
    QV_PAIR(Snorm8RGBA, Fp32RGB),
    QV_PAIR(Snorm8RGBA, Fp32RGBA),
    QV_PAIR(Snorm8RGBA, Snorm8RGB),
    QV_PAIR(Unorm8BGR, Fp32Vec3),
    QV_PAIR(Unorm8BGR, Unorm8Vec3),
    QV_PAIR(Unorm8BGRA, Fp32Vec4),
    QV_PAIR(Unorm8BGRA, Unorm8Vec4),
    QV_PAIR(Unorm8BGRA, Fp32RGB),
    QV_PAIR(Unorm8BGRA, Fp32RGBA),
    QV_PAIR(Unorm8BGRA, Unorm8RGB),
    QV_PAIR(Unorm8BGRA, Unorm8RGBA),
    QV_PAIR(Unorm8BGRA, Unorm8BGR),
    QV_PAIR(Unorm8BGRA, Unorm8ARGB),
    QV_PAIR(Unorm8ARGB, Fp32Vec4),
    QV_PAIR(Unorm8ARGB, Unorm8Vec4),
    QV_PAIR(Unorm8ARGB, Fp32RGB),
    QV_PAIR(Unorm8ARGB, Fp32RGBA),
    QV_PAIR(Unorm8ARGB, Unorm8RGB),
    QV_PAIR(Unorm8ARGB, Unorm8RGBA),
    QV_PAIR(Unorm8ARGB, Unorm8BGR),
    QV_PAIR(Unorm8ARGB, Unorm8BGRA),
    {(uint32_t)kFormatCount * kFormatCount, nullptr, nullptr},
};
#undef QV_PAIR

constexpr bool PairsAscending() {
  for (int i = 1; i < 77; ++i) {
    if (kPairs[i - 1].key >= kPairs[i].key) {
      return false;
    }
  }
  return true;
}
static_assert(PairsAscending(), "the pair table must be in ascending key order");

} // namespace

const DirectPair* DirectPairTable(uint32_t* count) {
  if (count != nullptr) {
    *count = 76;
  }
  return kPairs;
}
