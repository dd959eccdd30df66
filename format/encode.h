// Component encodings: how one float channel becomes a stored component and
// back. Shared by the catalogue, the converters and the tests. Everything is
// inline so the n-element loops compile to straight code.
#pragma once

#include <cstdint>
#include <cstring>

namespace qvenc {

inline uint32_t FloatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

inline float BitsFloat(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// Reciprocals as the nearest single-precision values.
constexpr float kInv3 = 1.0f / 3.0f;
constexpr float kInv31 = 1.0f / 31.0f;
constexpr float kInv63 = 1.0f / 63.0f;
constexpr float kInv127 = 1.0f / 127.0f;
constexpr float kInv255 = 1.0f / 255.0f;
constexpr float kInv1023 = 1.0f / 1023.0f;
constexpr float kInv32767 = 1.0f / 32767.0f;
constexpr float kInv65535 = 1.0f / 65535.0f;
constexpr float kTwoPowM31 = 1.0f / 2147483648.0f;
constexpr float kTwoPowM32 = 1.0f / 4294967296.0f;

// Clamps in max-then-min order: a NaN fails the first compare and becomes
// the lower bound.
inline float ClampUnit(float c) {
  float t = c > 0.0f ? c : 0.0f;
  return t < 1.0f ? t : 1.0f;
}

inline float ClampSigned(float c) {
  float t = c > -1.0f ? c : -1.0f;
  return t < 1.0f ? t : 1.0f;
}

// u(c, n): clamp to [0, 1], scale, truncate.
inline uint32_t UnormBits(float c, float n) { return (uint32_t)(int32_t)(ClampUnit(c) * n); }

// Rounds to the nearest integer, ties away from zero; |t| < 2^23. The
// fraction t - trunc(t) is exact in single precision.
inline int32_t RoundHalfAway(float t) {
  int32_t k = (int32_t)t;
  float fraction = t - (float)k;
  if (fraction >= 0.5f) {
    k += 1;
  } else if (fraction <= -0.5f) {
    k -= 1;
  }
  return k;
}

// Keeps the bits shifted out as a sticky low bit, so that a value just above
// a tie is not mistaken for the tie by the rounding that follows.
inline uint32_t ShiftRightSticky(uint32_t value, uint32_t shift) {
  if (shift > 31) {
    return value != 0 ? 1u : 0u;
  }
  uint32_t lost = value & ((1u << shift) - 1u);
  return (value >> shift) | (lost != 0 ? 1u : 0u);
}

inline uint16_t HalfFromFloat(float value) {
  uint32_t a = FloatBits(value);
  uint32_t m = a & 0x7FFFFFFFu;
  uint32_t s = (a >> 16) & 0x8000u;
  if (m > 0x477FE000u) {
    if ((m >> 23) == 255 && (m & 0x7FFFFFu) != 0) {
      return (uint16_t)(s | 0x7E00u);
    }
    return (uint16_t)(s | 0x7C00u);
  }
  if (m == 0) {
    return (uint16_t)s;
  }
  if (m >= 0x38800000u) {
    m -= 0x38000000u;
  } else {
    uint32_t shift = 113u - (m >> 23);
    m = ShiftRightSticky((m & 0x7FFFFFu) | 0x800000u, shift);
  }
  return (uint16_t)(s | (((m + ((m >> 13) & 1u) + 0xFFFu) >> 13) & 0x7FFFu));
}

inline float FloatFromHalf(uint16_t h) {
  uint32_t sign = (uint32_t)(h & 0x8000u) << 16;
  uint32_t e = (h >> 10) & 31u;
  uint32_t f = h & 0x3FFu;
  if (e == 31) {
    return BitsFloat(sign | 0x7F800000u | (f << 13));
  }
  if (e != 0) {
    return BitsFloat(sign | ((e + 112u) << 23) | (f << 13));
  }
  // Zero or subnormal: f * 2^-24 is exact and normal in single precision.
  return BitsFloat(sign | FloatBits((float)f * 5.9604644775390625e-8f));
}

// ---- Component types -------------------------------------------------------
// Each has the stored type, the stored encoding of 1.0, Pack and Unpack.

struct EncF32 {
  typedef uint32_t Store; // bits, so NaN payloads travel unchanged
  static constexpr Store kOne = 0x3F800000u;
  static inline Store Pack(float c) { return FloatBits(c); }
  static inline float Unpack(Store v) { return BitsFloat(v); }
};

struct EncF16 {
  typedef uint16_t Store;
  static constexpr Store kOne = 0x3C00u;
  static inline Store Pack(float c) { return HalfFromFloat(c); }
  static inline float Unpack(Store v) { return FloatFromHalf(v); }
};

struct EncU8 {
  typedef uint8_t Store;
  static constexpr Store kOne = 255;
  static inline Store Pack(float c) { return (Store)(int32_t)(ClampUnit(c) * 255.0f); }
  static inline float Unpack(Store v) { return (float)v * kInv255; }
};

struct EncU16 {
  typedef uint16_t Store;
  static constexpr Store kOne = 65535;
  static inline Store Pack(float c) { return (Store)(int32_t)(ClampUnit(c) * 65535.0f); }
  static inline float Unpack(Store v) { return (float)v * kInv65535; }
};

struct EncS8 {
  typedef int8_t Store;
  static constexpr Store kOne = 127;
  static inline Store Pack(float c) { return (Store)(int32_t)(ClampSigned(c) * 127.0f); }
  static inline float Unpack(Store v) { return (float)v * kInv127; }
};

struct EncS16 {
  typedef int16_t Store;
  static constexpr Store kOne = 32767;
  static inline Store Pack(float c) { return (Store)(int32_t)(ClampSigned(c) * 32767.0f); }
  static inline float Unpack(Store v) { return (float)v * kInv32767; }
};

// 23 significant bits, the top bits replicated into the low ones.
struct EncU32 {
  typedef uint32_t Store;
  static constexpr Store kOne = 0xFFFFFFFFu;
  static inline Store Pack(float c) {
    float t = c * 8388607.0f;
    t = t > 0.0f ? t : 0.0f;
    t = t < 8388607.0f ? t : 8388607.0f;
    uint32_t k = (uint32_t)RoundHalfAway(t);
    return (k << 9) | (k >> 14);
  }
  static inline float Unpack(Store v) { return (float)v * kTwoPowM32; }
};

struct EncS32 {
  typedef int32_t Store;
  static constexpr Store kOne = 0x7FFFFFFF;
  static inline Store Pack(float c) {
    float t = c * 8388607.0f;
    t = t > -8388607.0f ? t : -8388607.0f;
    t = t < 8388607.0f ? t : 8388607.0f;
    int32_t k = RoundHalfAway(t);
    return (int32_t)(((uint32_t)k << 8) | ((uint32_t)(k >> 15) & 0xFFu));
  }
  static inline float Unpack(Store v) { return (float)v * kTwoPowM31; }
};

// ---- Packed formats ----------------------------------------------------------
inline uint32_t R11G11B10Channel(float value, int32_t bits) {
  uint32_t a = FloatBits(value);
  uint32_t m = a & 0x7FFFFFFFu;
  if ((m >> 23) == 255) {
    if ((m & 0x7FFFFFu) != 0) {
      if (bits == 11) {
        return 0x7C0u | (((m >> 17) | (m >> 11) | (m >> 6) | m) & 0x3Fu);
      }
      // This fold misses mantissa bits 8-12; a NaN with only those bits
      // would come out as infinity, so it keeps a non-zero mantissa.
      uint32_t fold = ((m >> 18) | (m >> 13) | (m >> 3) | m) & 0x1Fu;
      return 0x3E0u | (fold != 0 ? fold : 1u);
    }
    if (a & 0x80000000u) {
      return 0;
    }
    return bits == 11 ? 0x7C0u : 0x3E0u;
  }
  if (a & 0x80000000u) {
    return 0;
  }
  if (bits == 11) {
    if (m > 0x477E0000u) {
      return 0x7BFu;
    }
  } else if (m > 0x477C0000u) {
    return 0x3DFu;
  }
  if (m >= 0x38800000u) {
    m -= 0x38000000u;
  } else {
    m = ShiftRightSticky((m & 0x7FFFFFu) | 0x800000u, 113u - (m >> 23));
  }
  if (bits == 11) {
    return (m + 0xFFFFu + ((m >> 17) & 1u)) >> 17;
  }
  return ((m + 0x1FFFFu + ((m >> 18) & 1u)) >> 18) & 0x3FFu;
}

// Exact decode of a 5-bit exponent field with a mantissaBits mantissa.
inline float SmallFloatValue(uint32_t field, int32_t mantissaBits) {
  uint32_t mantissa = field & ((1u << mantissaBits) - 1u);
  uint32_t e = field >> mantissaBits;
  int32_t up = 23 - mantissaBits;
  if (e == 31) {
    return BitsFloat(0x7F800000u | (mantissa << up));
  }
  if (e != 0) {
    return BitsFloat(((e + 112u) << 23) | (mantissa << up));
  }
  // n * 2^-20 (6-bit) or n * 2^-19 (5-bit); exact.
  return (float)mantissa * BitsFloat((uint32_t)(127 - 14 - mantissaBits) << 23);
}

struct PackedB5G6R5 {
  static constexpr uint32_t kSize = 2, kComps = 3, kRead = 4, kUnit = 2;
  static inline void Pack(void* dst, const float* ch) {
    uint16_t w = (uint16_t)((UnormBits(ch[0], 31.0f) << 11) | (UnormBits(ch[1], 63.0f) << 5) | UnormBits(ch[2], 31.0f));
    std::memcpy(dst, &w, 2);
  }
  static inline void Unpack(const void* src, float* ch) {
    uint16_t w;
    std::memcpy(&w, src, 2);
    ch[0] = (float)(w >> 11) * kInv31;
    ch[1] = (float)((w >> 5) & 63u) * kInv63;
    ch[2] = (float)(w & 31u) * kInv31;
    ch[3] = 1.0f;
  }
};

struct PackedB5G5R5A1 {
  static constexpr uint32_t kSize = 2, kComps = 4, kRead = 4, kUnit = 2;
  static inline void Pack(void* dst, const float* ch) {
    uint16_t w = (uint16_t)((UnormBits(ch[3], 1.0f) << 15) | (UnormBits(ch[0], 31.0f) << 10) |
                            (UnormBits(ch[1], 31.0f) << 5) | UnormBits(ch[2], 31.0f));
    std::memcpy(dst, &w, 2);
  }
  static inline void Unpack(const void* src, float* ch) {
    uint16_t w;
    std::memcpy(&w, src, 2);
    ch[0] = (float)((w >> 10) & 31u) * kInv31;
    ch[1] = (float)((w >> 5) & 31u) * kInv31;
    ch[2] = (float)(w & 31u) * kInv31;
    ch[3] = (w >> 15) ? 1.0f : 0.0f;
  }
};

struct PackedB4G4R4A4 {
  static constexpr uint32_t kSize = 2, kComps = 4, kRead = 4, kUnit = 2;
  static inline uint32_t Quantise4(float c) { return (UnormBits(c, 255.0f) * 15u + 127u) / 255u; }
  static inline void Pack(void* dst, const float* ch) {
    uint16_t w = (uint16_t)((Quantise4(ch[3]) << 12) | (Quantise4(ch[0]) << 8) | (Quantise4(ch[1]) << 4) | Quantise4(ch[2]));
    std::memcpy(dst, &w, 2);
  }
  static inline void Unpack(const void* src, float* ch) {
    uint16_t w;
    std::memcpy(&w, src, 2);
    ch[0] = (float)(((w >> 8) & 15u) * 17u) * kInv255;
    ch[1] = (float)(((w >> 4) & 15u) * 17u) * kInv255;
    ch[2] = (float)((w & 15u) * 17u) * kInv255;
    ch[3] = (float)((w >> 12) * 17u) * kInv255;
  }
};

struct PackedR10G10B10A2 {
  static constexpr uint32_t kSize = 4, kComps = 4, kRead = 4, kUnit = 4;
  static inline void Pack(void* dst, const float* ch) {
    uint32_t w = (UnormBits(ch[3], 3.0f) << 30) | (UnormBits(ch[2], 1023.0f) << 20) | (UnormBits(ch[1], 1023.0f) << 10) |
                 UnormBits(ch[0], 1023.0f);
    std::memcpy(dst, &w, 4);
  }
  static inline void Unpack(const void* src, float* ch) {
    uint32_t w;
    std::memcpy(&w, src, 4);
    ch[0] = (float)(w & 1023u) * kInv1023;
    ch[1] = (float)((w >> 10) & 1023u) * kInv1023;
    ch[2] = (float)((w >> 20) & 1023u) * kInv1023;
    ch[3] = (float)(w >> 30) * kInv3;
  }
};

struct PackedR9G9B9E5 {
  static constexpr uint32_t kSize = 4, kComps = 3, kRead = 4, kUnit = 4;
  static inline float Clamp(float c) {
    float t = c > 0.0f ? c : 0.0f;
    return t < 65408.0f ? t : 65408.0f;
  }
  static inline uint32_t Mantissa(float c, float scale) {
    // Adding 1.5 * 2^23 rounds to an integer, ties to even, in the low bits.
    return FloatBits(c * scale + 12582912.0f) & 0xFFFFu;
  }
  static inline void Pack(void* dst, const float* ch) {
    float r = Clamp(ch[0]), g = Clamp(ch[1]), b = Clamp(ch[2]);
    float m = 1.52587890625e-5f; // 2^-16
    m = r > m ? r : m;
    m = g > m ? g : m;
    m = b > m ? b : m;
    uint32_t e = (FloatBits(m) + 0x4000u) >> 23;
    float scale = BitsFloat((262u - e) << 23);
    uint32_t w = (((e - 111u) & 31u) << 27) | (Mantissa(b, scale) << 18) | (Mantissa(g, scale) << 9) | Mantissa(r, scale);
    std::memcpy(dst, &w, 4);
  }
  static inline void Unpack(const void* src, float* ch) {
    uint32_t w;
    std::memcpy(&w, src, 4);
    float scale = BitsFloat(((w >> 4) & 0xF800000u) + 0x33800000u);
    ch[0] = (float)(w & 511u) * scale;
    ch[1] = (float)((w >> 9) & 511u) * scale;
    ch[2] = (float)((w >> 18) & 511u) * scale;
    ch[3] = 1.0f;
  }
};

struct PackedR11G11B10 {
  static constexpr uint32_t kSize = 4, kComps = 3, kRead = 4, kUnit = 4;
  static inline void Pack(void* dst, const float* ch) {
    uint32_t w = (R11G11B10Channel(ch[2], 10) << 22) | ((R11G11B10Channel(ch[1], 11) & 0x7FFu) << 11) |
                 (R11G11B10Channel(ch[0], 11) & 0x7FFu);
    std::memcpy(dst, &w, 4);
  }
  static inline void Unpack(const void* src, float* ch) {
    uint32_t w;
    std::memcpy(&w, src, 4);
    ch[0] = SmallFloatValue(w & 0x7FFu, 6);
    ch[1] = SmallFloatValue((w >> 11) & 0x7FFu, 6);
    ch[2] = SmallFloatValue(w >> 22, 5);
    ch[3] = 1.0f;
  }
};

// ---- Component layouts -----------------------------------------------------
// E: component type; kStored components in memory (an X slot included);
// channel c (x/R, y/G, z/B, w/A) lives in memory slot S_c; kX is the memory
// slot of X, or -1. Channels from kComps up to kRead are a synthesised 1.0.
template <class E, uint32_t kStored, uint32_t kCompsT, uint32_t kReadT, int S0, int S1, int S2, int S3, int kX>
struct Layout {
  typedef E Enc;
  typedef typename E::Store Store;
  static constexpr uint32_t kSize = kStored * (uint32_t)sizeof(Store);
  static constexpr uint32_t kComps = kCompsT;
  static constexpr uint32_t kRead = kReadT;
  static constexpr uint32_t kUnit = (uint32_t)sizeof(Store);
  static constexpr int kSlot[4] = {S0, S1, S2, S3};

  static inline void Pack(void* dst, const float* ch) {
    Store v[kStored];
    for (uint32_t c = 0; c < kComps; ++c) {
      v[kSlot[c]] = E::Pack(ch[c]);
    }
    if constexpr (kX >= 0) {
      v[kX] = E::kOne;
    }
    std::memcpy(dst, v, sizeof v);
  }
  static inline void Unpack(const void* src, float* ch) {
    Store v[kStored];
    std::memcpy(v, src, sizeof v);
    for (uint32_t c = 0; c < kComps; ++c) {
      ch[c] = E::Unpack(v[kSlot[c]]);
    }
    for (uint32_t c = kComps; c < kRead; ++c) {
      ch[c] = 1.0f;
    }
  }
};

template <class E> using LVec1 = Layout<E, 1, 1, 1, 0, 0, 0, 0, -1>;
template <class E> using LVec2 = Layout<E, 2, 2, 2, 0, 1, 0, 0, -1>;
template <class E> using LVec3 = Layout<E, 3, 3, 3, 0, 1, 2, 0, -1>;
template <class E> using LVec4 = Layout<E, 4, 4, 4, 0, 1, 2, 3, -1>;
template <class E> using LRGB = Layout<E, 3, 3, 4, 0, 1, 2, 0, -1>;
template <class E> using LRGBA = Layout<E, 4, 4, 4, 0, 1, 2, 3, -1>;
template <class E> using LRGBX = Layout<E, 4, 3, 4, 0, 1, 2, 0, 3>;
template <class E> using LBGR = Layout<E, 3, 3, 4, 2, 1, 0, 0, -1>;
template <class E> using LBGRA = Layout<E, 4, 4, 4, 2, 1, 0, 3, -1>;
template <class E> using LBGRX = Layout<E, 4, 3, 4, 2, 1, 0, 0, 3>;
template <class E> using LARGB = Layout<E, 4, 4, 4, 1, 2, 3, 0, -1>;

} // namespace qvenc
