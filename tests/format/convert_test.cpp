// Element conversion: strategy selection, the direct pair routines against
// the generic path, copies, counts and guard bytes, and the channel rules.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "format/format.h"
#include "format/format_testing.h"
#include "tests/format/encode_test_values.h"

using namespace qvtest;

namespace {

// Source elements that include every boundary: packed from boundary floats
// (NaNs, infinities, -0, just above/below 0 and 1) and raw random bytes.
std::vector<uint8_t> SourceElements(Rng& rng, int32_t f, uint32_t count) {
  const FormatInfo* info = formatInfo(f);
  std::vector<uint8_t> b((size_t)info->elementSize * count);
  const std::vector<float> boundary = BoundaryFloats();
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = &b[(size_t)i * info->elementSize];
    uint32_t kind = i % 3;
    if (kind == 2) {
      for (uint32_t k = 0; k < info->elementSize; ++k) {
        e[k] = (uint8_t)rng.Next32();
      }
    } else {
      float ch[4];
      for (uint32_t c = 0; c < 4; ++c) {
        ch[c] = kind == 0 ? boundary[(i * 4 + c) % boundary.size()] : MixedFloat(rng);
      }
      info->ops.pack(e, ch);
    }
  }
  return b;
}

// Runs convertMany over count elements into a guarded buffer and checks
// that nothing past the end is written.
std::vector<uint8_t> Many(const Converter& conv, const std::vector<uint8_t>& src, uint32_t count) {
  size_t bytes = (size_t)conv.dstElementSize * count;
  Guarded out(bytes);
  conv.convertMany(&conv, out.data(), src.data(), count);
  EXPECT_TRUE(out.GuardIntact(bytes)) << "convertMany wrote past " << count << " elements";
  return std::vector<uint8_t>(out.bytes.begin(), out.bytes.begin() + bytes);
}

std::vector<uint8_t> OneByOne(const Converter& conv, const std::vector<uint8_t>& src, uint32_t count) {
  std::vector<uint8_t> out((size_t)conv.dstElementSize * count);
  for (uint32_t i = 0; i < count; ++i) {
    Guarded one(conv.dstElementSize);
    conv.convertOne(&conv, one.data(), &src[(size_t)i * conv.srcElementSize]);
    EXPECT_TRUE(one.GuardIntact(conv.dstElementSize)) << "convertOne wrote past its element";
    std::memcpy(&out[(size_t)i * conv.dstElementSize], one.data(), conv.dstElementSize);
  }
  return out;
}

// The rule, modelled here: unpack, missing channels 0.0, pack.
std::vector<uint8_t> Model(int32_t d, int32_t s, const std::vector<uint8_t>& src, uint32_t count) {
  const FormatInfo* di = formatInfo(d);
  const FormatInfo* si = formatInfo(s);
  std::vector<uint8_t> out((size_t)di->elementSize * count);
  for (uint32_t i = 0; i < count; ++i) {
    float ch[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    si->ops.unpack(&src[(size_t)i * si->elementSize], ch);
    for (uint32_t c = si->readChannels; c < 4; ++c) {
      ch[c] = 0.0f;
    }
    di->ops.pack(&out[(size_t)i * di->elementSize], ch);
  }
  return out;
}

std::string PairName(int32_t d, int32_t s) { return std::string(formatInfo(s)->name) + " -> " + formatInfo(d)->name; }

} // namespace

TEST(ConvertPairs, TableIsSortedAndTerminated) {
  uint32_t count = 0;
  const DirectPair* table = DirectPairTable(&count);
  ASSERT_EQ(count, 76u);
  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_NE(table[i].directOne, nullptr);
    ASSERT_NE(table[i].directMany, nullptr);
    if (i > 0) {
      ASSERT_LT(table[i - 1].key, table[i].key);
    }
    int32_t d = (int32_t)(table[i].key / kFormatCount), s = (int32_t)(table[i].key % kFormatCount);
    // A direct pair never hides a plain copy and always has matching
    // channel counts (so it stands for the batch path).
    EXPECT_NE(formatInfo(d)->layoutClass, formatInfo(s)->layoutClass) << PairName(d, s);
    EXPECT_EQ(formatInfo(s)->readChannels, formatInfo(d)->componentCount) << PairName(d, s);
  }
  EXPECT_EQ(table[76].key, (uint32_t)(kFormatCount * kFormatCount));
  EXPECT_EQ(table[76].directOne, nullptr);
  EXPECT_EQ(table[76].directMany, nullptr);
}

// Every pair picks the first rule that applies: copy, direct, generic.
TEST(ConvertSetup, StrategyForEveryPair) {
  uint32_t count = 0;
  const DirectPair* table = DirectPairTable(&count);
  std::set<uint32_t> directKeys;
  for (uint32_t i = 0; i < count; ++i) {
    directKeys.insert(table[i].key);
  }
  uint32_t copies = 0, directs = 0, generics = 0;
  for (int32_t d = 1; d < kFormatCount; ++d) {
    for (int32_t s = 1; s < kFormatCount; ++s) {
      Converter c;
      std::memset(&c, 0xCD, sizeof c);
      ASSERT_EQ(initConverter(&c, d, s), 0);
      ASSERT_EQ(c.dstFormat, d);
      ASSERT_EQ(c.srcFormat, s);
      ASSERT_EQ(c.dstElementSize, formatInfo(d)->elementSize);
      ASSERT_EQ(c.dstComponentCount, formatInfo(d)->componentCount);
      ASSERT_EQ(c.srcElementSize, formatInfo(s)->elementSize);
      ASSERT_EQ(c.srcReadChannels, formatInfo(s)->readChannels);
      ASSERT_NE(c.convertOne, nullptr);
      ASSERT_NE(c.convertMany, nullptr);
      bool generic = c.dstPack != nullptr;
      bool direct = c.directOne != nullptr;
      if (formatInfo(d)->layoutClass == formatInfo(s)->layoutClass) {
        ++copies;
        EXPECT_FALSE(generic || direct) << PairName(d, s);
      } else if (directKeys.count((uint32_t)(d * kFormatCount + s))) {
        ++directs;
        EXPECT_TRUE(direct && c.directMany != nullptr && !generic) << PairName(d, s);
      } else {
        ++generics;
        EXPECT_TRUE(generic && !direct) << PairName(d, s);
        EXPECT_EQ(c.dstPack, formatInfo(d)->ops.pack);
        EXPECT_EQ(c.dstPackN, formatInfo(d)->ops.packN);
        EXPECT_EQ(c.srcUnpack, formatInfo(s)->ops.unpack);
        EXPECT_EQ(c.srcUnpackN, formatInfo(s)->ops.unpackN);
      }
    }
  }
  EXPECT_EQ(copies, 68u + 32u); // every format with itself, and the 16 shared classes both ways
  EXPECT_EQ(directs, 76u);
  EXPECT_EQ(generics, 68u * 68u - 100u - 76u);
}

TEST(ConvertSetup, UndefinedSideGivesAConverterThatWritesNothing) {
  const int32_t pairs[][2] = {{Undefined, Unorm8RGBA}, {Fp32Vec4, Undefined}, {Undefined, Undefined}, {Fp32, 69}, {-3, Fp32}};
  for (auto& p : pairs) {
    Converter c;
    EXPECT_EQ(initConverter(&c, p[0], p[1]), 1);
    uint8_t src[64] = {1, 2, 3, 4}, dst[64];
    std::memset(dst, 0x5A, sizeof dst);
    c.convertOne(&c, dst, src);
    c.convertMany(&c, dst, src, 4);
    for (uint8_t b : dst) {
      ASSERT_EQ(b, 0x5A);
    }
  }
}

// The Snorm8 reorderings keep their bytes instead of truncating through
// floats; every other direct routine is the generic path's exact bits.
static bool IsSnorm8Reorder(int32_t d, int32_t s) {
  return s == Snorm8RGB && (d == Snorm8Vec4 || d == Snorm8RGBA);
}

// Direct routines give the generic path's exact bits, one at a time and in
// runs of every interesting length.
TEST(ConvertPairs, DirectRoutinesMatchTheGenericPath) {
  uint32_t count = 0;
  const DirectPair* table = DirectPairTable(&count);
  Rng rng(21);
  const uint32_t counts[] = {0, 1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 33, 1000};
  for (uint32_t i = 0; i < count; ++i) {
    int32_t d = (int32_t)(table[i].key / kFormatCount), s = (int32_t)(table[i].key % kFormatCount);
    if (IsSnorm8Reorder(d, s)) {
      continue;
    }
    Converter direct, generic;
    ASSERT_EQ(initConverter(&direct, d, s), 0);
    ASSERT_EQ(initConverterGeneric(&generic, d, s), 0);
    ASSERT_EQ(direct.directOne, table[i].directOne);
    for (uint32_t n : counts) {
      std::vector<uint8_t> src = SourceElements(rng, s, n);
      std::vector<uint8_t> expected = Many(generic, src, n);
      ASSERT_EQ(expected, OneByOne(generic, src, n)) << PairName(d, s);
      ASSERT_EQ(Many(direct, src, n), expected) << PairName(d, s) << " count " << n;
      ASSERT_EQ(OneByOne(direct, src, n), expected) << PairName(d, s);
    }
    // Unaligned addresses on both sides.
    std::vector<uint8_t> src = SourceElements(rng, s, 41);
    std::vector<uint8_t> shifted(src.size() + 1);
    std::memcpy(shifted.data() + 1, src.data(), src.size());
    std::vector<uint8_t> out(direct.dstElementSize * 41 + 3);
    direct.convertMany(&direct, out.data() + 3, shifted.data() + 1, 41);
    ASSERT_EQ(0, std::memcmp(out.data() + 3, Many(generic, src, 41).data(), direct.dstElementSize * 41)) << PairName(d, s);
  }
}

// Over all pairs: convertMany equals convertOne element by element, and
// (away from plain copies) both equal the unpack-then-pack model.
TEST(ConvertAllPairs, ManyEqualsOneAndTheModel) {
  Rng rng(23);
  const uint32_t kCount = 19;
  for (int32_t d = 1; d < kFormatCount; ++d) {
    for (int32_t s = 1; s < kFormatCount; ++s) {
      Converter c;
      ASSERT_EQ(initConverter(&c, d, s), 0);
      std::vector<uint8_t> src = SourceElements(rng, s, kCount);
      std::vector<uint8_t> many = Many(c, src, kCount);
      ASSERT_EQ(many, OneByOne(c, src, kCount)) << PairName(d, s);
      if (formatInfo(d)->layoutClass == formatInfo(s)->layoutClass) {
        ASSERT_EQ(many, src) << PairName(d, s) << " is not a byte copy";
      } else if (!IsSnorm8Reorder(d, s)) {
        ASSERT_EQ(many, Model(d, s, src, kCount)) << PairName(d, s);
      }
      Converter g;
      ASSERT_EQ(initConverterGeneric(&g, d, s), 0);
      ASSERT_EQ(Many(g, src, kCount), Model(d, s, src, kCount)) << PairName(d, s);
    }
  }
}

TEST(ConvertCounts, BatchesAndTails) {
  // A generic batch pair (Fp16RGBA -> Unorm16RGBA) and a mixed pair, over
  // counts around the batch size; a zero count writes nothing.
  const int32_t pairs[][2] = {{Unorm16RGBA, Fp16RGBA}, {Unorm8RGBA, Fp32Vec3}, {Fp32RGBA, Unorm8RGBA}, {Unorm8Vec4, Unorm8RGBA}};
  Rng rng(25);
  for (auto& p : pairs) {
    Converter c;
    ASSERT_EQ(initConverter(&c, p[0], p[1]), 0);
    for (uint32_t n : {0u, 1u, 15u, 16u, 17u, 32u, 33u, 1000u}) {
      std::vector<uint8_t> src = SourceElements(rng, p[1], n);
      ASSERT_EQ(Many(c, src, n), OneByOne(c, src, n)) << PairName(p[0], p[1]) << " count " << n;
    }
    uint8_t dst[32];
    std::memset(dst, 0x77, sizeof dst);
    c.convertMany(&c, dst, nullptr, 0);
    for (uint8_t b : dst) {
      ASSERT_EQ(b, 0x77);
    }
  }
}

TEST(ConvertRules, MissingChannelsAndShuffles) {
  auto convert = [](int32_t d, int32_t s, const void* src, void* dst) {
    Converter c;
    initConverter(&c, d, s);
    c.convertOne(&c, dst, src);
  };
  const float vec3[3] = {1.0f, 0.5f, 0.0f};
  uint8_t out[4];
  convert(Unorm8RGBA, Fp32Vec3, vec3, out);
  EXPECT_EQ(0, std::memcmp(out, "\xFF\x7F\x00\x00", 4)); // alpha 0: nothing supplied it
  convert(Unorm8RGBA, Fp32RGB, vec3, out);
  EXPECT_EQ(0, std::memcmp(out, "\xFF\x7F\x00\xFF", 4)); // RGB unpack supplies alpha 1.0
  const uint8_t rgb[3] = {10, 20, 30};
  convert(Unorm8RGBA, Unorm8Vec3, rgb, out);
  EXPECT_EQ(0, std::memcmp(out, "\x0A\x14\x1E\x00", 4));
  convert(Unorm8RGBA, Unorm8RGB, rgb, out);
  EXPECT_EQ(0, std::memcmp(out, "\x0A\x14\x1E\xFF", 4));
  convert(Unorm8BGRA, Unorm8RGB, rgb, out);
  EXPECT_EQ(0, std::memcmp(out, "\x1E\x14\x0A\xFF", 4));
  const uint8_t bgra[4] = {1, 2, 3, 4};
  convert(Unorm8ARGB, Unorm8BGRA, bgra, out);
  EXPECT_EQ(0, std::memcmp(out, "\x04\x03\x02\x01", 4));
  convert(Unorm8Vec4, Unorm8RGBA, bgra, out);
  EXPECT_EQ(0, std::memcmp(out, bgra, 4));
  // Snorm8 reorderings keep every byte, even -128, and add 127 as alpha;
  // the generic path would truncate most of them by one code.
  for (int32_t d : {(int32_t)Snorm8Vec4, (int32_t)Snorm8RGBA}) {
    Converter c, generic;
    initConverter(&c, d, Snorm8RGB);
    initConverterGeneric(&generic, d, Snorm8RGB);
    uint8_t src[256 * 3], many[256 * 4], one[4], viaFloats[4];
    for (int v = 0; v < 256; ++v) {
      src[3 * v] = (uint8_t)v;
      src[3 * v + 1] = (uint8_t)(255 - v);
      src[3 * v + 2] = (uint8_t)(v * 7);
    }
    c.convertMany(&c, many, src, 256);
    for (int v = 0; v < 256; ++v) {
      const uint8_t expected[4] = {src[3 * v], src[3 * v + 1], src[3 * v + 2], 127};
      ASSERT_EQ(0, std::memcmp(many + 4 * v, expected, 4)) << v;
      c.convertOne(&c, one, src + 3 * v);
      ASSERT_EQ(0, std::memcmp(one, expected, 4)) << v;
    }
    const int8_t nine[3] = {9, -128, 127};
    generic.convertOne(&generic, viaFloats, nine);
    EXPECT_EQ((int8_t)viaFloats[0], 8); // why the bytes are kept
    EXPECT_EQ((int8_t)viaFloats[1], -127);
  }
  // Extra source channels are ignored.
  const float rgba[4] = {0.0f, 1.0f, 0.0f, 1.0f};
  convert(Unorm8Vec2, Fp32RGBA, rgba, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 255);
  // A larger source read into a smaller Vec: only the first channels.
  float f3[3] = {9, 9, 9};
  const uint8_t u4[4] = {255, 0, 255, 0};
  convert(Fp32Vec3, Unorm8Vec4, u4, f3);
  EXPECT_EQ(f3[0], 1.0f);
  EXPECT_EQ(f3[1], 0.0f);
  EXPECT_EQ(f3[2], 1.0f);
}
