// Test inputs shared by the catalogue and converter tests: boundary floats,
// a small deterministic generator, and byte buffers with guard bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qvtest {

inline uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

inline float FromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// xorshift64*: reproducible across platforms.
struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  uint32_t Next32() { return (uint32_t)(Next() >> 32); }
  float Uniform(float lo, float hi) { return lo + (hi - lo) * (float)(Next32() >> 8) * (1.0f / 16777216.0f); }
};

// Values at and around every clamp, rounding and overflow boundary of the
// encodings, with both zeros, infinities and several NaNs.
inline std::vector<float> BoundaryFloats() {
  std::vector<float> v = {
      0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 0.999f, 2.0f, -2.0f, 0.25f, 0.75f, 1.0f / 3.0f,
      FromBits(0x3F7FFFFF), FromBits(0x3F800001), FromBits(0xBF7FFFFF), FromBits(0xBF800001), // around +-1
      FromBits(0x00000001), FromBits(0x80000001), FromBits(0x007FFFFF), FromBits(0x00800000),  // denormals
      1e-8f, -1e-8f, 1e-3f, 1.0f / 255.0f, 0.5f / 255.0f, 254.5f / 255.0f, 1.0f / 65535.0f,
      1.0f / 127.0f, -1.0f / 127.0f, 0.5f / 8388607.0f, 1.5f / 8388607.0f, -0.5f / 8388607.0f,
      65504.0f, 65505.0f, 65519.0f, 65520.0f, 65536.0f, -65504.0f, -65505.0f,
      FromBits(0x33000000), FromBits(0x33000001), FromBits(0x33400000), FromBits(0x38800000), FromBits(0x387FFFFF),
      FromBits(0x37800000), 65408.0f, 65409.0f, 65024.0f, 65025.0f, 64512.0f, 64513.0f, 1e6f, 1e9f, -1e9f,
      3.4028235e38f, -3.4028235e38f,
      FromBits(0x7F800000), FromBits(0xFF800000),                        // infinities
      FromBits(0x7FC00000), FromBits(0xFFC00000), FromBits(0x7F800001), // NaNs: quiet, negative, signalling
      FromBits(0x7FBFFFFF), FromBits(0xFF812345), FromBits(0x7FC0A5A5),
  };
  return v;
}

inline bool IsNan(float f) { return (Bits(f) & 0x7FFFFFFFu) > 0x7F800000u; }

// A float drawn from a mix that hits the interesting ranges often.
inline float MixedFloat(Rng& rng) {
  static const std::vector<float> boundary = BoundaryFloats();
  switch (rng.Next32() % 5) {
  case 0: return boundary[rng.Next32() % boundary.size()];
  case 1: return FromBits(rng.Next32());
  case 2: return rng.Uniform(-1.25f, 1.25f);
  case 3: return rng.Uniform(0.0f, 1.0f);
  default: return rng.Uniform(-70000.0f, 70000.0f);
  }
}

// A byte buffer with a guard pattern behind the payload, to catch writes
// past the end.
struct Guarded {
  static constexpr uint32_t kGuard = 64;
  static constexpr uint8_t kFill = 0xA5;
  std::vector<uint8_t> bytes;
  explicit Guarded(size_t size) : bytes(size + kGuard, kFill) {}
  uint8_t* data() { return bytes.data(); }
  bool GuardIntact(size_t size) const {
    for (size_t i = size; i < bytes.size(); ++i) {
      if (bytes[i] != kFill) {
        return false;
      }
    }
    return true;
  }
};

} // namespace qvtest

namespace qvtest {

// Independent model of rounding a non-negative finite float onto the grid
// of a small float with a 5-bit exponent (bias 15) and mantBits mantissa
// bits, ties to even, computed exactly in double precision. Returns the
// code (exponent field << mantBits | mantissa); overflow is the caller's.
inline uint32_t RefSmallFloatCode(float magnitude, int mantBits) {
  int32_t exponent = (int32_t)((Bits(magnitude) >> 23) & 255u) - 127;
  bool subnormal = exponent < -14;
  int32_t gridExponent = (subnormal ? -14 : exponent) - mantBits;
  uint64_t spacingBits = (uint64_t)(gridExponent + 1023) << 52;
  double spacing;
  std::memcpy(&spacing, &spacingBits, 8);
  double q = (double)magnitude / spacing; // exact: divides by a power of two
  const double kShift = 4503599627370496.0; // 2^52: adding it rounds to an integer, ties to even
  q = (q + kShift) - kShift;
  uint32_t n = (uint32_t)q;
  if (subnormal) {
    return n;
  }
  return ((uint32_t)(exponent + 15) << mantBits) + n - (1u << mantBits);
}

// The half encoding: NaN to a quiet NaN, every magnitude above 65504 to
// infinity, the rest rounded to nearest even.
inline uint16_t RefHalf(float value) {
  uint32_t a = Bits(value);
  uint16_t sign = (uint16_t)((a >> 16) & 0x8000u);
  uint32_t m = a & 0x7FFFFFFFu;
  if (m > 0x7F800000u) {
    return sign | 0x7E00;
  }
  if (FromBits(m) > 65504.0f) {
    return sign | 0x7C00;
  }
  return (uint16_t)(sign | RefSmallFloatCode(FromBits(m), 10));
}

} // namespace qvtest
