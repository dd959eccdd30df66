// The format catalogue: its entries, the element operations every format
// shares, and the arrangement of channels in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "format/format.h"
#include "tests/format/encode_test_values.h"

using namespace qvtest;

namespace {

struct Row {
  int32_t format;
  const char* name;
  uint32_t size, comps, read, layoutClass;
  uint32_t unit; // bytes of one byte-swapped unit
};

#define R(f, s, c, r, k, u) {f, #f, s, c, r, k, u}
const Row kRows[kFormatCount] = {
    R(Undefined, 0, 0, 0, 0, 0),
    R(Fp32, 4, 1, 1, 45, 4), R(Fp32Vec2, 8, 2, 2, 77, 4), R(Fp32Vec3, 12, 3, 3, 1, 4), R(Fp32Vec4, 16, 4, 4, 19, 4),
    R(Fp16, 2, 1, 1, 33, 2), R(Fp16Vec2, 4, 2, 2, 49, 2), R(Fp16Vec3, 6, 3, 3, 71, 2), R(Fp16Vec4, 8, 4, 4, 92, 2),
    R(Unorm32, 4, 1, 1, 47, 4), R(Unorm32Vec2, 8, 2, 2, 79, 4), R(Unorm32Vec3, 12, 3, 3, 5, 4), R(Unorm32Vec4, 16, 4, 4, 27, 4),
    R(Unorm16, 2, 1, 1, 35, 2), R(Unorm16Vec2, 4, 2, 2, 51, 2), R(Unorm16Vec3, 6, 3, 3, 75, 2), R(Unorm16Vec4, 8, 4, 4, 100, 2),
    R(Unorm8, 1, 1, 1, 32, 1), R(Unorm8Vec2, 2, 2, 2, 37, 1), R(Unorm8Vec3, 3, 3, 3, 43, 1), R(Unorm8Vec4, 4, 4, 4, 66, 1),
    R(Snorm32, 4, 1, 1, 46, 4), R(Snorm32Vec2, 8, 2, 2, 78, 4), R(Snorm32Vec3, 12, 3, 3, 3, 4), R(Snorm32Vec4, 16, 4, 4, 23, 4),
    R(Snorm16, 2, 1, 1, 34, 2), R(Snorm16Vec2, 4, 2, 2, 50, 2), R(Snorm16Vec3, 6, 3, 3, 73, 2), R(Snorm16Vec4, 8, 4, 4, 96, 2),
    R(Snorm8, 1, 1, 1, 31, 1), R(Snorm8Vec2, 2, 2, 2, 36, 1), R(Snorm8Vec3, 3, 3, 3, 41, 1), R(Snorm8Vec4, 4, 4, 4, 62, 1),
    R(Fp32RGB, 12, 3, 4, 1, 4), R(Fp32RGBA, 16, 4, 4, 19, 4), R(Fp32RGBX, 16, 3, 4, 7, 4),
    R(Fp16RGB, 6, 3, 4, 71, 2), R(Fp16RGBA, 8, 4, 4, 92, 2), R(Fp16RGBX, 8, 3, 4, 80, 2),
    R(Unorm32RGB, 12, 3, 4, 5, 4), R(Unorm32RGBA, 16, 4, 4, 27, 4), R(Unorm32RGBX, 16, 3, 4, 15, 4),
    R(Unorm16RGB, 6, 3, 4, 75, 2), R(Unorm16RGBA, 8, 4, 4, 100, 2), R(Unorm16RGBX, 8, 3, 4, 88, 2),
    R(Unorm8RGB, 3, 3, 4, 43, 1), R(Unorm8RGBA, 4, 4, 4, 66, 1), R(Unorm8RGBX, 4, 3, 4, 56, 1),
    R(Snorm32RGB, 12, 3, 4, 3, 4), R(Snorm32RGBA, 16, 4, 4, 23, 4), R(Snorm32RGBX, 16, 3, 4, 11, 4),
    R(Snorm16RGB, 6, 3, 4, 73, 2), R(Snorm16RGBA, 8, 4, 4, 96, 2), R(Snorm16RGBX, 8, 3, 4, 84, 2),
    R(Snorm8RGB, 3, 3, 4, 41, 1), R(Snorm8RGBA, 4, 4, 4, 62, 1), R(Snorm8RGBX, 4, 3, 4, 52, 1),
    R(Fp16BGRA, 8, 4, 4, 93, 2), R(Unorm8BGR, 3, 3, 4, 44, 1), R(Unorm8BGRA, 4, 4, 4, 67, 1), R(Unorm8BGRX, 4, 3, 4, 57, 1),
    R(Fp16ARGB, 8, 4, 4, 94, 2), R(Unorm8ARGB, 4, 4, 4, 68, 1),
    R(PackedUnormB5G6R5, 2, 3, 4, 38, 2), R(PackedUnormB5G5R5A1, 2, 4, 4, 40, 2), R(PackedUnormB4G4R4A4, 2, 4, 4, 39, 2),
    R(PackedUnormR10G10B10A2, 4, 4, 4, 70, 4), R(PackedFpR9G9B9E5, 4, 3, 4, 61, 4), R(PackedFpR11G11B10, 4, 3, 4, 60, 4),
};
#undef R

bool HasOps(const FormatOps& ops) {
  return ops.clear && ops.clearN && ops.copy && ops.copyN && ops.swapBytes && ops.swapBytesN && ops.pack &&
         ops.packN && ops.unpack && ops.unpackN && ops.unpackScaled && ops.unpackScaledAdd;
}

bool NoOps(const FormatOps& ops) {
  const void* const* slots = (const void* const*)&ops;
  for (size_t i = 0; i < sizeof ops / sizeof(void*); ++i) {
    if (slots[i] != nullptr) {
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> RandomBytes(Rng& rng, size_t n) {
  std::vector<uint8_t> b(n);
  for (auto& x : b) {
    x = (uint8_t)rng.Next32();
  }
  return b;
}

// An element made by packing mixed floats, or raw random bytes: both kinds
// reach encodings that the other does not (NaN payloads, -128, X slots).
std::vector<uint8_t> RandomElements(Rng& rng, int32_t f, uint32_t count) {
  const FormatInfo* info = formatInfo(f);
  std::vector<uint8_t> b = RandomBytes(rng, (size_t)info->elementSize * count);
  for (uint32_t i = 0; i < count; ++i) {
    if (rng.Next32() & 1) {
      float ch[4];
      for (float& c : ch) {
        c = MixedFloat(rng);
      }
      info->ops.pack(&b[(size_t)i * info->elementSize], ch);
    }
  }
  return b;
}

void ExpectSameFloats(const float* a, const float* b, uint32_t n, const char* what, int32_t f) {
  for (uint32_t i = 0; i < n; ++i) {
    ASSERT_EQ(Bits(a[i]), Bits(b[i])) << what << " " << kRows[f].name << " float " << i;
  }
}

} // namespace

TEST(FormatCatalogue, EntriesMatchTheTable) {
  for (int32_t f = 0; f < kFormatCount; ++f) {
    const Row& row = kRows[f];
    ASSERT_EQ(row.format, f);
    const FormatInfo* info = formatInfo(f);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->name, row.name);
    EXPECT_EQ(info->elementSize, row.size) << row.name;
    EXPECT_EQ(info->componentCount, row.comps) << row.name;
    EXPECT_EQ(info->readChannels, row.read) << row.name;
    EXPECT_EQ(info->layoutClass, row.layoutClass) << row.name;
    if (f == Undefined) {
      EXPECT_TRUE(NoOps(info->ops));
    } else {
      EXPECT_TRUE(HasOps(info->ops)) << row.name;
    }
  }
}

TEST(FormatCatalogue, ValuesOutsideTheTableAnswerUndefined) {
  const int32_t outside[] = {-1, -68, kFormatCount, kFormatCount + 1, 1000, INT32_MAX, INT32_MIN};
  for (int32_t f : outside) {
    const FormatInfo* info = formatInfo(f);
    EXPECT_EQ(info, formatInfo(Undefined)) << f;
    EXPECT_EQ(info->elementSize, 0u);
    EXPECT_TRUE(NoOps(info->ops));
  }
}

// Equal layout class means bit-identical storage: same size, and packing the
// same channels gives the same bytes. Exactly sixteen classes are shared,
// each by a Vec format and its RGB/RGBA twin.
TEST(FormatCatalogue, SharedLayoutClassesStoreIdenticalBytes) {
  std::map<uint32_t, std::vector<int32_t>> byClass;
  for (int32_t f = 1; f < kFormatCount; ++f) {
    byClass[formatInfo(f)->layoutClass].push_back(f);
  }
  std::set<std::pair<int32_t, int32_t>> shared;
  for (auto& [layoutClass, formats] : byClass) {
    ASSERT_LE(formats.size(), 2u) << "class " << layoutClass;
    if (formats.size() == 2) {
      shared.insert({formats[0], formats[1]});
    }
  }
  const std::set<std::pair<int32_t, int32_t>> expected = {
      {Fp32Vec3, Fp32RGB},         {Snorm32Vec3, Snorm32RGB},   {Unorm32Vec3, Unorm32RGB}, {Fp32Vec4, Fp32RGBA},
      {Snorm32Vec4, Snorm32RGBA},  {Unorm32Vec4, Unorm32RGBA},  {Snorm8Vec3, Snorm8RGB},   {Unorm8Vec3, Unorm8RGB},
      {Snorm8Vec4, Snorm8RGBA},    {Unorm8Vec4, Unorm8RGBA},    {Fp16Vec3, Fp16RGB},       {Snorm16Vec3, Snorm16RGB},
      {Unorm16Vec3, Unorm16RGB},   {Fp16Vec4, Fp16RGBA},        {Snorm16Vec4, Snorm16RGBA}, {Unorm16Vec4, Unorm16RGBA},
  };
  EXPECT_EQ(shared, expected);

  Rng rng(11);
  for (auto& [a, b] : shared) {
    const FormatInfo* fa = formatInfo(a);
    const FormatInfo* fb = formatInfo(b);
    ASSERT_EQ(fa->elementSize, fb->elementSize);
    ASSERT_EQ(fa->componentCount, fb->componentCount);
    for (int i = 0; i < 200; ++i) {
      float ch[4];
      for (float& c : ch) {
        c = MixedFloat(rng);
      }
      uint8_t ea[16], eb[16];
      fa->ops.pack(ea, ch);
      fb->ops.pack(eb, ch);
      ASSERT_EQ(0, std::memcmp(ea, eb, fa->elementSize)) << fa->name << " / " << fb->name;
    }
  }

  // The plain float32 classes mark the formats sampling may read as floats.
  const std::set<uint32_t> fp32Classes = {1, 19, 45, 77};
  for (int32_t f = 1; f < kFormatCount; ++f) {
    std::string name = formatInfo(f)->name;
    bool plainFloat = name.rfind("Fp32", 0) == 0 && name != "Fp32RGBX";
    EXPECT_EQ(plainFloat, fp32Classes.count(formatInfo(f)->layoutClass) == 1) << name;
  }
}

TEST(FormatOps, ClearCopyAndSwapBytes) {
  Rng rng(3);
  const uint32_t kCount = 9;
  for (int32_t f = 1; f < kFormatCount; ++f) {
    const FormatInfo* info = formatInfo(f);
    const uint32_t size = info->elementSize;
    const uint32_t unit = kRows[f].unit;
    std::vector<uint8_t> src = RandomBytes(rng, (size_t)size * kCount);

    Guarded one(size);
    std::memcpy(one.data(), src.data(), size);
    info->ops.clear(one.data());
    for (uint32_t i = 0; i < size; ++i) {
      ASSERT_EQ(one.data()[i], 0) << info->name;
    }
    ASSERT_TRUE(one.GuardIntact(size)) << info->name;

    Guarded many(size * kCount);
    std::memcpy(many.data(), src.data(), src.size());
    info->ops.clearN(many.data(), kCount);
    for (size_t i = 0; i < src.size(); ++i) {
      ASSERT_EQ(many.data()[i], 0) << info->name;
    }
    ASSERT_TRUE(many.GuardIntact(src.size())) << info->name;

    Guarded copied(size * kCount);
    info->ops.copy(copied.data(), src.data());
    ASSERT_EQ(0, std::memcmp(copied.data(), src.data(), size));
    ASSERT_TRUE(copied.GuardIntact(size)) << info->name;
    info->ops.copyN(copied.data(), src.data(), kCount);
    ASSERT_EQ(0, std::memcmp(copied.data(), src.data(), src.size()));
    ASSERT_TRUE(copied.GuardIntact(src.size())) << info->name;

    // Reference: reverse the bytes of every unit of the element.
    std::vector<uint8_t> expected = src;
    for (size_t u = 0; u < expected.size(); u += unit) {
      for (uint32_t i = 0; i < unit / 2; ++i) {
        std::swap(expected[u + i], expected[u + unit - 1 - i]);
      }
    }
    Guarded swapped(size * kCount);
    std::memcpy(swapped.data(), src.data(), src.size());
    info->ops.swapBytes(swapped.data());
    ASSERT_EQ(0, std::memcmp(swapped.data(), expected.data(), size)) << info->name;
    ASSERT_EQ(0, std::memcmp(swapped.data() + size, src.data() + size, src.size() - size)) << info->name;
    info->ops.swapBytes(swapped.data());
    ASSERT_EQ(0, std::memcmp(swapped.data(), src.data(), src.size())) << info->name;
    info->ops.swapBytesN(swapped.data(), kCount);
    ASSERT_EQ(0, std::memcmp(swapped.data(), expected.data(), src.size())) << info->name;
    ASSERT_TRUE(swapped.GuardIntact(src.size())) << info->name;
    info->ops.swapBytesN(swapped.data(), 0);
    ASSERT_EQ(0, std::memcmp(swapped.data(), expected.data(), src.size())) << info->name;
  }
}

TEST(FormatOps, SwapBytesExamples) {
  uint8_t e[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  formatInfo(Unorm8BGRA)->ops.swapBytes(e);
  EXPECT_EQ(0, std::memcmp(e, "\x01\x02\x03\x04", 4));
  formatInfo(Fp16Vec4)->ops.swapBytes(e);
  EXPECT_EQ(0, std::memcmp(e, "\x02\x01\x04\x03\x06\x05\x08\x07", 8));
  formatInfo(PackedUnormR10G10B10A2)->ops.swapBytes(e);
  EXPECT_EQ(0, std::memcmp(e, "\x03\x04\x01\x02\x06\x05\x08\x07", 8));
}

// packN and unpackN give exactly the single-element results, with the float
// side advancing by componentCount floats in and readChannels floats out,
// and touch nothing beyond the count.
TEST(FormatOps, CountFormsEqualSingleForms) {
  Rng rng(5);
  const uint32_t counts[] = {0, 1, 3, 16, 37};
  for (int32_t f = 1; f < kFormatCount; ++f) {
    const FormatInfo* info = formatInfo(f);
    const uint32_t size = info->elementSize, comps = info->componentCount, read = info->readChannels;
    for (uint32_t count : counts) {
      std::vector<float> channels((size_t)comps * count + 4);
      for (float& c : channels) {
        c = MixedFloat(rng);
      }
      Guarded packedN(size * count);
      info->ops.packN(packedN.data(), channels.data(), count);
      ASSERT_TRUE(packedN.GuardIntact((size_t)size * count)) << info->name << " count " << count;
      Guarded packed1(size * count);
      for (uint32_t i = 0; i < count; ++i) {
        info->ops.pack(packed1.data() + (size_t)i * size, &channels[(size_t)i * comps]);
      }
      ASSERT_TRUE(packed1.GuardIntact((size_t)size * count)) << info->name;
      ASSERT_EQ(0, std::memcmp(packedN.data(), packed1.data(), (size_t)size * count)) << info->name;

      std::vector<uint8_t> elements = RandomElements(rng, f, count);
      const float kSentinel = -12345.0f;
      std::vector<float> outN((size_t)read * count + 8, kSentinel), out1((size_t)read * count + 8, kSentinel);
      info->ops.unpackN(elements.data(), outN.data(), count);
      for (uint32_t i = 0; i < count; ++i) {
        info->ops.unpack(&elements[(size_t)i * size], &out1[(size_t)i * read]);
      }
      ExpectSameFloats(outN.data(), out1.data(), (uint32_t)outN.size(), "unpackN", f);
      for (size_t i = (size_t)read * count; i < outN.size(); ++i) {
        ASSERT_EQ(outN[i], kSentinel) << info->name << " wrote past the count";
      }
    }
  }
}

// unpackScaled = unpack * w per channel; unpackScaledAdd adds that; a
// synthesised alpha contributes w.
TEST(FormatOps, WeightedUnpack) {
  Rng rng(7);
  const float weights[] = {0.0f, 1.0f, 0.25f, -0.75f, 0.3f, 3.0f};
  for (int32_t f = 1; f < kFormatCount; ++f) {
    const FormatInfo* info = formatInfo(f);
    const uint32_t read = info->readChannels;
    std::vector<uint8_t> elements = RandomElements(rng, f, 24);
    for (uint32_t i = 0; i < 24; ++i) {
      const uint8_t* e = &elements[(size_t)i * info->elementSize];
      float w = weights[i % 6];
      float plain[4];
      info->ops.unpack(e, plain);
      float scaled[5] = {9, 9, 9, 9, 9};
      info->ops.unpackScaled(e, w, scaled);
      float acc[5] = {0.5f, -2.0f, 7.0f, 1.0f, 9.0f};
      float accExpected[4] = {0.5f, -2.0f, 7.0f, 1.0f};
      info->ops.unpackScaledAdd(e, w, acc);
      for (uint32_t c = 0; c < read; ++c) {
        float product = plain[c] * w;
        ASSERT_EQ(Bits(scaled[c]), Bits(product)) << info->name << " channel " << c;
        float sum = accExpected[c] + product;
        ASSERT_EQ(Bits(acc[c]), Bits(sum)) << info->name << " channel " << c;
      }
      for (uint32_t c = read; c < 5; ++c) {
        ASSERT_EQ(scaled[c], 9.0f) << info->name;
        ASSERT_EQ(acc[c], c < 4 ? accExpected[c] : 9.0f) << info->name;
      }
      if (read > info->componentCount) {
        ASSERT_EQ(Bits(scaled[3]), Bits(w)) << info->name;
      }
    }
  }
}

// Formats that read more channels than they store synthesise alpha 1.0; the
// X slot of RGBX/BGRX holds the encoding of 1.0 and is never read.
TEST(FormatOps, SynthesisedAlphaAndXSlot) {
  struct XFormat {
    int32_t x, full;
    uint32_t xOffset;
  };
  const XFormat xFormats[] = {
      {Fp32RGBX, Fp32RGBA, 12},   {Fp16RGBX, Fp16RGBA, 6},     {Unorm32RGBX, Unorm32RGBA, 12},
      {Unorm16RGBX, Unorm16RGBA, 6}, {Unorm8RGBX, Unorm8RGBA, 3}, {Snorm32RGBX, Snorm32RGBA, 12},
      {Snorm16RGBX, Snorm16RGBA, 6}, {Snorm8RGBX, Snorm8RGBA, 3}, {Unorm8BGRX, Unorm8BGRA, 3},
  };
  Rng rng(9);
  for (const XFormat& xf : xFormats) {
    const FormatInfo* x = formatInfo(xf.x);
    const FormatInfo* full = formatInfo(xf.full);
    for (int i = 0; i < 100; ++i) {
      float ch[4] = {MixedFloat(rng), MixedFloat(rng), MixedFloat(rng), 1.0f};
      uint8_t ex[16], ef[16];
      x->ops.pack(ex, ch);
      full->ops.pack(ef, ch);
      // R, G, B as the full format packs them; X as its packed 1.0.
      ASSERT_EQ(0, std::memcmp(ex, ef, x->elementSize)) << x->name;
      float before[4], after[4];
      x->ops.unpack(ex, before);
      for (uint32_t b = xf.xOffset; b < x->elementSize; ++b) {
        ex[b] = (uint8_t)rng.Next32();
      }
      x->ops.unpack(ex, after);
      ExpectSameFloats(before, after, 4, "X slot read", xf.x);
      ASSERT_EQ(after[3], 1.0f) << x->name;
    }
  }
  for (int32_t f = 1; f < kFormatCount; ++f) {
    const FormatInfo* info = formatInfo(f);
    if (info->readChannels == info->componentCount) {
      continue;
    }
    std::vector<uint8_t> elements = RandomElements(rng, f, 50);
    for (uint32_t i = 0; i < 50; ++i) {
      float ch[4] = {};
      info->ops.unpack(&elements[(size_t)i * info->elementSize], ch);
      ASSERT_EQ(Bits(ch[3]), Bits(1.0f)) << info->name;
    }
  }
  // A Vec3 unpack writes three floats; its RGB twin writes four.
  float ch[5] = {7, 7, 7, 7, 7};
  const uint8_t rgb[3] = {255, 0, 51};
  formatInfo(Unorm8Vec3)->ops.unpack(rgb, ch);
  EXPECT_EQ(ch[0], 1.0f);
  EXPECT_EQ(ch[1], 0.0f);
  EXPECT_EQ(ch[2], 51.0f * (1.0f / 255.0f));
  EXPECT_EQ(ch[3], 7.0f);
  formatInfo(Unorm8RGB)->ops.unpack(rgb, ch);
  EXPECT_EQ(ch[3], 1.0f);
  EXPECT_EQ(ch[4], 7.0f);
}

// BGR, BGRA, BGRX and ARGB formats store the bytes of their RGB twins in a
// different component order; channels still travel as R, G, B, A.
TEST(FormatOps, ChannelOrderOfPermutedFormats) {
  struct Perm {
    int32_t permuted, plain;
    int order[4]; // memory slot k of permuted holds plain's component order[k]
  };
  const Perm perms[] = {
      {Unorm8BGR, Unorm8RGB, {2, 1, 0, -1}},  {Unorm8BGRA, Unorm8RGBA, {2, 1, 0, 3}},
      {Unorm8BGRX, Unorm8RGBX, {2, 1, 0, 3}}, {Unorm8ARGB, Unorm8RGBA, {3, 0, 1, 2}},
      {Fp16BGRA, Fp16RGBA, {2, 1, 0, 3}},     {Fp16ARGB, Fp16RGBA, {3, 0, 1, 2}},
  };
  Rng rng(13);
  for (const Perm& p : perms) {
    const FormatInfo* a = formatInfo(p.permuted);
    const FormatInfo* b = formatInfo(p.plain);
    ASSERT_EQ(a->elementSize, b->elementSize);
    const uint32_t unit = kRows[p.plain].unit;
    for (int i = 0; i < 100; ++i) {
      float ch[4] = {MixedFloat(rng), MixedFloat(rng), MixedFloat(rng), MixedFloat(rng)};
      uint8_t ea[16], eb[16];
      a->ops.pack(ea, ch);
      b->ops.pack(eb, ch);
      for (uint32_t k = 0; k < a->elementSize / unit; ++k) {
        ASSERT_EQ(0, std::memcmp(ea + k * unit, eb + p.order[k] * unit, unit)) << a->name << " slot " << k;
      }
      float ua[4], ub[4];
      a->ops.unpack(ea, ua);
      b->ops.unpack(eb, ub);
      ExpectSameFloats(ua, ub, 4, "permuted unpack", p.permuted);
    }
  }
  // Pinned example: B first in memory, channel 0 still red.
  const uint8_t bgra[4] = {0, 51, 255, 102};
  float ch[4];
  formatInfo(Unorm8BGRA)->ops.unpack(bgra, ch);
  EXPECT_EQ(ch[0], 1.0f);
  EXPECT_EQ(ch[2], 0.0f);
  EXPECT_EQ(ch[3], 102.0f * (1.0f / 255.0f));
}
