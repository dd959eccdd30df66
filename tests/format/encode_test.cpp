// Component encodings and packed formats, against golden values and against
// reference models written here from the numeric rules (libm clamps and
// rounding, exact double arithmetic) rather than from the bit tricks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "format/format.h"
#include "tests/format/encode_test_values.h"

using namespace qvtest;

namespace {

float Clamp(float c, float lo, float hi) {
  if (std::isnan(c)) {
    return lo;
  }
  return std::fmin(std::fmax(c, lo), hi);
}

uint32_t RefUnorm(float c, uint32_t n) {
  float product = Clamp(c, 0.0f, 1.0f) * (float)n;
  return (uint32_t)std::trunc(product);
}

int32_t RefSnorm(float c, int32_t n) {
  float product = Clamp(c, -1.0f, 1.0f) * (float)n;
  return (int32_t)std::trunc(product);
}

uint32_t RefUnorm32(float c) {
  float t = Clamp(c * 8388607.0f, 0.0f, 8388607.0f);
  uint32_t k = (uint32_t)std::lround(t); // ties away from zero
  return (k << 9) | (k >> 14);
}

uint32_t RefSnorm32(float c) {
  float t = Clamp(c * 8388607.0f, -8388607.0f, 8388607.0f);
  int32_t k = (int32_t)std::lround(t);
  // k * 256 plus the top 8 bits of the 23-bit magnitude pattern
  int32_t top = (int32_t)std::floor((double)k / 32768.0);
  return (uint32_t)((int64_t)k * 256) | ((uint32_t)top & 0xFFu);
}

float Recip(double n) { return (float)(1.0 / n); }

template <class T>
T PackOne(int32_t f, float c) {
  float ch[4] = {c, c, c, c};
  T out{};
  formatInfo(f)->ops.pack(&out, ch);
  return out;
}

template <class T>
float UnpackOne(int32_t f, T v) {
  float ch[4] = {};
  formatInfo(f)->ops.unpack(&v, ch);
  return ch[0];
}

uint32_t PackWord(int32_t f, float r, float g, float b, float a) {
  float ch[4] = {r, g, b, a};
  uint32_t w = 0;
  formatInfo(f)->ops.pack(&w, ch);
  return w;
}

void UnpackWord(int32_t f, uint32_t w, float* ch) { formatInfo(f)->ops.unpack(&w, ch); }

// Inputs for the sampled checks: boundaries, a mix, and a stride over all
// bit patterns.
template <class Fn>
void ForSampledFloats(uint64_t seed, Fn fn) {
  for (float c : BoundaryFloats()) {
    fn(c);
  }
  Rng rng(seed);
  for (int i = 0; i < 100000; ++i) {
    fn(MixedFloat(rng));
  }
  for (uint64_t b = seed % 4093; b <= 0xFFFFFFFFull; b += 4093) {
    fn(FromBits((uint32_t)b));
  }
}

} // namespace

TEST(Encoding, GoldenNormalizedValues) {
  const float nan = FromBits(0x7FC00000);
  EXPECT_EQ(PackOne<uint8_t>(Unorm8, 1.0f), 255);
  EXPECT_EQ(PackOne<uint8_t>(Unorm8, 0.999f), 254);
  EXPECT_EQ(PackOne<uint8_t>(Unorm8, -0.5f), 0);
  EXPECT_EQ(PackOne<uint8_t>(Unorm8, nan), 0);
  EXPECT_EQ(PackOne<uint8_t>(Unorm8, 2.0f), 255);
  EXPECT_EQ(PackOne<uint8_t>(Snorm8, -1.0f), 0x81);
  EXPECT_EQ(PackOne<uint8_t>(Snorm8, -7.0f), 0x81);
  EXPECT_EQ(PackOne<uint8_t>(Snorm8, nan), 0x81);
  EXPECT_EQ(PackOne<uint16_t>(Snorm16, nan), 0x8001);
  EXPECT_FLOAT_EQ(UnpackOne<int8_t>(Snorm8, -128), -1.0078740f);
  EXPECT_FLOAT_EQ(UnpackOne<int16_t>(Snorm16, -32768), -1.0000305f);
  EXPECT_EQ(UnpackOne<uint16_t>(Unorm16, 65535), 1.0f);
  EXPECT_EQ(UnpackOne<uint8_t>(Unorm8, 255), 1.0f);
  EXPECT_EQ(PackOne<uint32_t>(Unorm32, 1.0f), 0xFFFFFFFFu);
  EXPECT_EQ(PackOne<uint32_t>(Unorm32, 0.0f), 0u);
  EXPECT_EQ(PackOne<uint32_t>(Unorm32, 0.5f), 0x80000100u);
  EXPECT_EQ(PackOne<uint32_t>(Unorm32, nan), 0u);
  EXPECT_EQ(UnpackOne<uint32_t>(Unorm32, 0xFFFFFFFFu), 1.0f);
  EXPECT_EQ(PackOne<uint32_t>(Snorm32, 1.0f), 0x7FFFFFFFu);
  EXPECT_EQ(PackOne<uint32_t>(Snorm32, -1.0f), 0x80000100u);
  EXPECT_EQ(UnpackOne<int32_t>(Snorm32, 0x7FFFFFFF), 1.0f);
}

TEST(Encoding, GoldenHalfValues) {
  const float nan = FromBits(0x7FC00000);
  EXPECT_EQ(FloatToHalf(65504.0f), 0x7BFF);
  EXPECT_EQ(FloatToHalf(65505.0f), 0x7C00);
  EXPECT_EQ(FloatToHalf(-0.0f), 0x8000);
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -25)), 0x0000);
  EXPECT_EQ(FloatToHalf(3.0f * std::ldexp(1.0f, -26)), 0x0001);
  EXPECT_EQ(FloatToHalf(nan), 0x7E00);
  EXPECT_EQ(FloatToHalf(FromBits(0xFF812345)), 0xFE00);
  EXPECT_EQ(FloatToHalf(FromBits(0x7F800000)), 0x7C00);
  EXPECT_EQ(PackOne<uint16_t>(Fp16, 1.0f), 0x3C00);
  EXPECT_EQ(HalfToFloat(0x7BFF), 65504.0f);
  EXPECT_EQ(HalfToFloat(0x0001), std::ldexp(1.0f, -24));
  EXPECT_EQ(Bits(HalfToFloat(0x8000)), 0x80000000u);
  EXPECT_EQ(Bits(HalfToFloat(0x7E01)), 0x7FC02000u); // payload kept
}

TEST(Encoding, GoldenPackedWords) {
  uint32_t w = PackWord(PackedFpR9G9B9E5, 1.0f, 0.5f, 0.0f, 0.0f);
  EXPECT_EQ(w >> 27, 16u);
  EXPECT_EQ(w & 511u, 256u);
  EXPECT_EQ((w >> 9) & 511u, 128u);
  EXPECT_EQ((w >> 18) & 511u, 0u);
  float ch[4];
  UnpackWord(PackedFpR9G9B9E5, w, ch);
  EXPECT_EQ(ch[0], 1.0f);
  EXPECT_EQ(ch[1], 0.5f);
  EXPECT_EQ(ch[2], 0.0f);
  EXPECT_EQ(ch[3], 1.0f);
  w = PackWord(PackedFpR9G9B9E5, 1e6f, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(w & 511u, 511u);
  EXPECT_EQ(w >> 27, 31u);
  UnpackWord(PackedFpR9G9B9E5, w, ch);
  EXPECT_EQ(ch[0], 65408.0f);

  w = PackWord(PackedFpR11G11B10, -1.0f, -0.0f, -5.0f, 0.0f);
  EXPECT_EQ(w, 0u);
  w = PackWord(PackedFpR11G11B10, 1e9f, 1e9f, 1e9f, 0.0f);
  EXPECT_EQ(w & 0x7FFu, 0x7BFu);
  EXPECT_EQ((w >> 11) & 0x7FFu, 0x7BFu);
  EXPECT_EQ(w >> 22, 0x3DFu);
  const float inf = FromBits(0x7F800000);
  w = PackWord(PackedFpR11G11B10, inf, inf, inf, 0.0f);
  EXPECT_EQ(w, 0x3E0u << 22 | 0x7C0u << 11 | 0x7C0u);
  w = PackWord(PackedFpR11G11B10, 1.0f, 0.5f, 2.0f, 0.0f);
  UnpackWord(PackedFpR11G11B10, w, ch);
  EXPECT_EQ(ch[0], 1.0f);
  EXPECT_EQ(ch[1], 0.5f);
  EXPECT_EQ(ch[2], 2.0f);
  EXPECT_EQ(ch[3], 1.0f);

  EXPECT_EQ(PackWord(PackedUnormB5G5R5A1, 0, 0, 0, 0.99f) >> 15, 0u);
  EXPECT_EQ(PackWord(PackedUnormB5G5R5A1, 0, 0, 0, 1.0f) >> 15, 1u);
  EXPECT_EQ(PackWord(PackedUnormB4G4R4A4, 0.5f, 0.5f, 0.5f, 0.5f), 0x7777u);
  UnpackWord(PackedUnormB4G4R4A4, 0xF00F, ch);
  EXPECT_EQ(ch[0], 0.0f);
  EXPECT_EQ(ch[2], 1.0f);
  EXPECT_EQ(ch[3], 1.0f);
  EXPECT_EQ(PackWord(PackedUnormB5G6R5, 1.0f, 1.0f, 1.0f, 0.0f), 0xFFFFu);
  EXPECT_EQ(PackWord(PackedUnormB5G6R5, 1.0f, 0.0f, 0.0f, 0.0f), 0xF800u);
  EXPECT_EQ(PackWord(PackedUnormR10G10B10A2, 1.0f, 0.0f, 1.0f, 1.0f), 0xFFF003FFu);
}TEST(Encoding, NormalizedPackMatchesReference) {
  ForSampledFloats(1, [](float c) {
    ASSERT_EQ(PackOne<uint8_t>(Unorm8, c), RefUnorm(c, 255)) << c;
    ASSERT_EQ(PackOne<uint16_t>(Unorm16, c), RefUnorm(c, 65535)) << c;
    ASSERT_EQ(PackOne<int8_t>(Snorm8, c), RefSnorm(c, 127)) << c;
    ASSERT_EQ(PackOne<int16_t>(Snorm16, c), RefSnorm(c, 32767)) << c;
    ASSERT_EQ(PackOne<uint32_t>(Unorm32, c), RefUnorm32(c)) << std::hexfloat << c;
    ASSERT_EQ(PackOne<uint32_t>(Snorm32, c), RefSnorm32(c)) << std::hexfloat << c;
  });
  // The ties of the 32-bit rounding: k + 0.5 goes away from zero.
  for (uint32_t k = 0; k < 8388607; k += 997) {
    float c = ((float)k + 0.5f) / 8388607.0f;
    ASSERT_EQ(PackOne<uint32_t>(Unorm32, c), RefUnorm32(c)) << k;
    ASSERT_EQ(PackOne<uint32_t>(Snorm32, -c), RefSnorm32(-c)) << k;
  }
}

TEST(Encoding, NormalizedUnpackMatchesReference) {
  for (uint32_t v = 0; v < 256; ++v) {
    ASSERT_EQ(Bits(UnpackOne<uint8_t>(Unorm8, (uint8_t)v)), Bits((float)v * Recip(255))) << v;
    int8_t s = (int8_t)v;
    ASSERT_EQ(Bits(UnpackOne<int8_t>(Snorm8, s)), Bits((float)s * Recip(127))) << (int)s;
  }
  for (uint32_t v = 0; v < 65536; ++v) {
    ASSERT_EQ(Bits(UnpackOne<uint16_t>(Unorm16, (uint16_t)v)), Bits((float)v * Recip(65535))) << v;
    int16_t s = (int16_t)v;
    ASSERT_EQ(Bits(UnpackOne<int16_t>(Snorm16, s)), Bits((float)s * Recip(32767))) << s;
  }
  Rng rng(2);
  for (int i = 0; i < 300000; ++i) {
    uint32_t v = rng.Next32();
    if (i < 4096) {
      v = (i & 1) ? 0xFFFFFFFFu - (uint32_t)i : (uint32_t)i << 20;
    }
    // The double conversion is exact; the one to float rounds once.
    ASSERT_EQ(Bits(UnpackOne<uint32_t>(Unorm32, v)), Bits((float)(double)v * std::ldexp(1.0f, -32))) << v;
    int32_t s = (int32_t)v;
    ASSERT_EQ(Bits(UnpackOne<int32_t>(Snorm32, s)), Bits((float)(double)s * std::ldexp(1.0f, -31))) << s;
  }
}

// Invertible encodings come back unchanged; the lossy ones at most one code
// toward zero, and exactly as the reference says.
TEST(Encoding, RoundTrips) {
  for (uint32_t v = 0; v < 256; ++v) {
    ASSERT_EQ(PackOne<uint8_t>(Unorm8, UnpackOne<uint8_t>(Unorm8, (uint8_t)v)), v);
    int8_t s = (int8_t)v;
    int32_t back = PackOne<int8_t>(Snorm8, UnpackOne<int8_t>(Snorm8, s));
    ASSERT_EQ(back, RefSnorm((float)s * Recip(127), 127));
    ASSERT_LE(std::abs(back - (int32_t)s), 1);
  }
  for (uint32_t v = 0; v < 65536; ++v) {
    uint32_t back = PackOne<uint16_t>(Unorm16, UnpackOne<uint16_t>(Unorm16, (uint16_t)v));
    ASSERT_TRUE(back == v || back + 1 == v) << v;
    ASSERT_EQ(back, RefUnorm((float)v * Recip(65535), 65535));
    int16_t s = (int16_t)v;
    int32_t sback = PackOne<int16_t>(Snorm16, UnpackOne<int16_t>(Snorm16, s));
    ASSERT_LE(std::abs(sback - (int32_t)s), 1);
    ASSERT_EQ(sback, RefSnorm((float)s * Recip(32767), 32767));

    uint16_t h = (uint16_t)v;
    uint16_t hback = PackOne<uint16_t>(Fp16, UnpackOne<uint16_t>(Fp16, h));
    bool isNan = (h & 0x7C00) == 0x7C00 && (h & 0x3FF) != 0;
    ASSERT_EQ(hback, isNan ? (uint16_t)((h & 0x8000) | 0x7E00) : h) << std::hex << v;

    float ch[4];
    uint16_t word = (uint16_t)v;
    formatInfo(PackedUnormB4G4R4A4)->ops.unpack(&word, ch);
    uint16_t wback = 0;
    formatInfo(PackedUnormB4G4R4A4)->ops.pack(&wback, ch);
    ASSERT_EQ(wback, word);
  }
  // float32 components are bit copies, NaN payloads included.
  Rng rng(4);
  for (int i = 0; i < 100000; ++i) {
    uint32_t in[4] = {rng.Next32(), 0x7F800001u, 0xFFBFFFFFu, rng.Next32() | 0x7F800000u};
    uint32_t packed[4], out[4];
    formatInfo(Fp32Vec4)->ops.pack(packed, (const float*)in);
    formatInfo(Fp32Vec4)->ops.unpack(packed, (float*)out);
    ASSERT_EQ(0, std::memcmp(in, packed, 16));
    ASSERT_EQ(0, std::memcmp(in, out, 16));
  }
}

TEST(Packed, SixteenBitWordsDecodeByTheirFields) {
  for (uint32_t w = 0; w < 65536; ++w) {
    float ch[4];
    UnpackWord(PackedUnormB5G6R5, w, ch);
    ASSERT_EQ(Bits(ch[0]), Bits((float)(w >> 11) * Recip(31)));
    ASSERT_EQ(Bits(ch[1]), Bits((float)((w >> 5) % 64) * Recip(63)));
    ASSERT_EQ(Bits(ch[2]), Bits((float)(w % 32) * Recip(31)));
    ASSERT_EQ(ch[3], 1.0f);
    UnpackWord(PackedUnormB5G5R5A1, w, ch);
    ASSERT_EQ(Bits(ch[0]), Bits((float)((w >> 10) % 32) * Recip(31)));
    ASSERT_EQ(Bits(ch[1]), Bits((float)((w >> 5) % 32) * Recip(31)));
    ASSERT_EQ(Bits(ch[2]), Bits((float)(w % 32) * Recip(31)));
    ASSERT_EQ(ch[3], w >= 0x8000 ? 1.0f : 0.0f);
    UnpackWord(PackedUnormB4G4R4A4, w, ch);
    ASSERT_EQ(Bits(ch[0]), Bits((float)(((w >> 8) % 16) * 17) * Recip(255)));
    ASSERT_EQ(Bits(ch[1]), Bits((float)(((w >> 4) % 16) * 17) * Recip(255)));
    ASSERT_EQ(Bits(ch[2]), Bits((float)((w % 16) * 17) * Recip(255)));
    ASSERT_EQ(Bits(ch[3]), Bits((float)((w >> 12) * 17) * Recip(255)));
  }
  Rng rng(6);
  for (int i = 0; i < 200000; ++i) {
    uint32_t w = rng.Next32();
    float ch[4];
    UnpackWord(PackedUnormR10G10B10A2, w, ch);
    ASSERT_EQ(Bits(ch[0]), Bits((float)(w % 1024) * Recip(1023)));
    ASSERT_EQ(Bits(ch[1]), Bits((float)((w >> 10) % 1024) * Recip(1023)));
    ASSERT_EQ(Bits(ch[2]), Bits((float)((w >> 20) % 1024) * Recip(1023)));
    ASSERT_EQ(Bits(ch[3]), Bits((float)(w >> 30) * Recip(3)));
  }
}

TEST(Packed, UnormPackMatchesReference) {
  Rng rng(8);
  for (int i = 0; i < 300000; ++i) {
    float r = MixedFloat(rng), g = MixedFloat(rng), b = MixedFloat(rng), a = MixedFloat(rng);
    ASSERT_EQ(PackWord(PackedUnormB5G6R5, r, g, b, a), RefUnorm(r, 31) << 11 | RefUnorm(g, 63) << 5 | RefUnorm(b, 31));
    ASSERT_EQ(PackWord(PackedUnormB5G5R5A1, r, g, b, a),
              RefUnorm(a, 1) << 15 | RefUnorm(r, 31) << 10 | RefUnorm(g, 31) << 5 | RefUnorm(b, 31));
    // 8 bits first, then to 4 bits rounding to nearest.
    auto q4 = [](float c) { return (uint32_t)std::lround(RefUnorm(c, 255) * 15.0 / 255.0); };
    ASSERT_EQ(PackWord(PackedUnormB4G4R4A4, r, g, b, a), q4(a) << 12 | q4(r) << 8 | q4(g) << 4 | q4(b));
    ASSERT_EQ(PackWord(PackedUnormR10G10B10A2, r, g, b, a),
              RefUnorm(a, 3) << 30 | RefUnorm(b, 1023) << 20 | RefUnorm(g, 1023) << 10 | RefUnorm(r, 1023));
  }
}

// Canonical words (largest mantissa normalised, or the smallest exponent)
// come back unchanged; any other word packs to a word of the same values.
TEST(Packed, R9G9B9E5SharedExponent) {
  Rng rng(10);
  for (int i = 0; i < 1000000; ++i) {
    uint32_t w = rng.Next32();
    if (i % 4 == 0) {
      w &= ~(0x1FFu << 9 * (i / 4 % 3)); // some zero channels
    }
    uint32_t e = w >> 27, r = w & 511u, g = (w >> 9) & 511u, b = (w >> 18) & 511u;
    uint32_t maxMantissa = std::max(r, std::max(g, b));
    float ch[4], again[4];
    UnpackWord(PackedFpR9G9B9E5, w, ch);
    double scale = std::ldexp(1.0, (int)e - 24);
    ASSERT_EQ(ch[0], r * scale);
    ASSERT_EQ(ch[1], g * scale);
    ASSERT_EQ(ch[2], b * scale);
    uint32_t back = PackWord(PackedFpR9G9B9E5, ch[0], ch[1], ch[2], 0.0f);
    if (e == 0 || maxMantissa >= 256) {
      ASSERT_EQ(back, w) << std::hex << w;
    } else {
      UnpackWord(PackedFpR9G9B9E5, back, again);
      ASSERT_EQ(0, std::memcmp(ch, again, 12)) << std::hex << w;
    }
  }
  // From floats: every channel within half a step of its clamped value, in
  // the smallest exponent that holds the largest channel.
  for (int i = 0; i < 300000; ++i) {
    float in[3];
    for (float& c : in) {
      c = (i % 3 == 0) ? MixedFloat(rng) : std::ldexp(rng.Uniform(0.0f, 1.0f), (int)(rng.Next32() % 40) - 24);
    }
    uint32_t w = PackWord(PackedFpR9G9B9E5, in[0], in[1], in[2], 0.0f);
    uint32_t e = w >> 27;
    uint32_t m[3] = {w & 511u, (w >> 9) & 511u, (w >> 18) & 511u};
    double scale = std::ldexp(1.0, (int)e - 24);
    for (int c = 0; c < 3; ++c) {
      double clamped = Clamp(in[c], 0.0f, 65408.0f);
      ASSERT_LE(std::fabs(m[c] * scale - clamped), scale / 2) << in[0] << " " << in[1] << " " << in[2];
    }
    ASSERT_TRUE(e == 0 || std::max(m[0], std::max(m[1], m[2])) >= 256) << std::hex << w;
  }
}

namespace {

uint32_t RefR11Channel(float c, int mantBits) {
  uint32_t top = 31u << mantBits;
  if (Bits(c) >> 31) {
    return 0; // negative values, -0 and -infinity
  }
  if (std::isinf(c)) {
    return top;
  }
  float maxFinite = mantBits == 6 ? 65024.0f : 64512.0f;
  if (c > maxFinite) {
    return top - 1;
  }
  return RefSmallFloatCode(c, mantBits);
}

double SmallFloatValue(uint32_t code, int mantBits) {
  uint32_t e = code >> mantBits, n = code & ((1u << mantBits) - 1);
  if (e == 0) {
    return std::ldexp((double)n, -14 - mantBits);
  }
  return std::ldexp(1.0 + std::ldexp((double)n, -mantBits), (int)e - 15);
}

} // namespace

TEST(Packed, R11G11B10Channels) {
  ForSampledFloats(12, [](float c) {
    if (std::isnan(c)) {
      return;
    }
    uint32_t w = PackWord(PackedFpR11G11B10, c, c, c, 0.0f);
    ASSERT_EQ(w & 0x7FFu, RefR11Channel(c, 6)) << std::hexfloat << c;
    ASSERT_EQ((w >> 11) & 0x7FFu, RefR11Channel(c, 6)) << std::hexfloat << c;
    ASSERT_EQ(w >> 22, RefR11Channel(c, 5)) << std::hexfloat << c;
  });
  // Small magnitudes, where rounding must see the bits shifted out.
  for (uint32_t b = 0x33000000u; b < 0x38800000u; b += 7) {
    float c = FromBits(b);
    uint32_t w = PackWord(PackedFpR11G11B10, c, 0.0f, c, 0.0f);
    ASSERT_EQ(w & 0x7FFu, RefR11Channel(c, 6)) << std::hex << b;
    ASSERT_EQ(w >> 22, RefR11Channel(c, 5)) << std::hex << b;
  }
  // Every NaN stays a NaN: exponent 31 and a non-zero folded mantissa.
  for (uint32_t mantissa = 1; mantissa < 0x800000u; mantissa += 3) {
    uint32_t w = PackWord(PackedFpR11G11B10, FromBits(0x7F800000u | mantissa), FromBits(0xFF800000u | mantissa),
                          FromBits(0x7F800000u | mantissa), 0.0f);
    ASSERT_EQ(w & 0x7C0u, 0x7C0u);
    ASSERT_NE(w & 0x3Fu, 0u) << std::hex << mantissa;
    ASSERT_NE((w >> 11) & 0x3Fu, 0u) << std::hex << mantissa;
    ASSERT_EQ(w >> 27, 31u);
    ASSERT_NE((w >> 22) & 0x1Fu, 0u) << std::hex << mantissa;
  }
  // Decoding every code, and round trips of every non-NaN code.
  for (uint32_t code = 0; code < 2048; ++code) {
    for (int mantBits = 5; mantBits <= 6; ++mantBits) {
      if (mantBits == 5 && code >= 1024) {
        continue;
      }
      uint32_t w = mantBits == 6 ? (code << 11 | code) : code << 22;
      float ch[4];
      UnpackWord(PackedFpR11G11B10, w, ch);
      float value = mantBits == 6 ? ch[0] : ch[2];
      bool special = (code >> mantBits) == 31;
      if (special && (code & ((1u << mantBits) - 1)) != 0) {
        ASSERT_TRUE(std::isnan(value));
        continue;
      }
      if (special) {
        ASSERT_TRUE(std::isinf(value) && value > 0);
      } else {
        ASSERT_EQ((double)value, SmallFloatValue(code, mantBits)) << code;
      }
      if (mantBits == 6) {
        ASSERT_EQ(ch[0], ch[1]);
      }
      uint32_t back = PackWord(PackedFpR11G11B10, ch[0], ch[1], ch[2], 0.0f);
      ASSERT_EQ(back, w) << code;
    }
  }
}
