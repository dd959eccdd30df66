// Surface set-up, format binding, owned storage, Morton codes and the shape
// of the sampling kernel table.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "format/format.h"
#include "format/format_testing.h"
#include "tests/format/surface_harness.h"

// Huge allocations must come back as null under the sanitizers' allocators too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

uint32_t SlowSpread(uint32_t v) { return SlowMorton(v, 0); }

TEST(InitSurface, LevelCountsAndShapes) {
  Surface s;
  SurfaceDesc d = TestSurfaceDesc(Fp32RGBA, kLayoutLinear, 320, 240, 16);
  ASSERT_EQ(0, InitSurface(&s, &d, 0));
  EXPECT_EQ(8u, s.levelCount);
  EXPECT_EQ(2u, s.levels[7].width);
  EXPECT_EQ(1u, s.levels[7].height);
  d = TestSurfaceDesc(Fp32RGBA, kLayoutLinear, 1, 1, 16);
  InitSurface(&s, &d, 0);
  EXPECT_EQ(1u, s.levelCount);
  d = TestSurfaceDesc(Fp32RGBA, kLayoutLinear, 0, 64, 16);
  InitSurface(&s, &d, 0);
  EXPECT_EQ(0u, s.levelCount);

  // Every small shape and request against "halve until a side would be 0".
  static uint8_t storage[16][8];
  for (uint32_t w = 0; w <= 70; ++w)
    for (uint32_t h = 0; h <= 70; h += (h < 10 ? 1 : 7))
      for (uint32_t req = 0; req <= 17; ++req) {
        d = TestSurfaceDesc(Unorm8, kLayoutLinear, w, h, req);
        for (uint32_t i = 0; i < 16; ++i) d.levels[i] = {storage[i], 8u + i, 3u * i + 1};
        memset(&s, 0xEE, sizeof(s));
        InitSurface(&s, &d, 0);
        uint32_t want = 0;
        while (want < req && (w >> want) && (h >> want)) ++want;
        ASSERT_EQ(want, s.levelCount) << w << "x" << h << " req " << req;
        for (uint32_t i = 0; i < 16; ++i) {
          if (i < want) {
            uint32_t lw = std::max(1u, w >> i), lh = std::max(1u, h >> i);
            ASSERT_EQ(lw, s.levels[i].width);
            ASSERT_EQ(lh, s.levels[i].height);
            ASSERT_EQ(storage[i], s.levels[i].start);
            ASSERT_EQ(storage[i] + 8 + i, s.levels[i].end);
            ASSERT_EQ(3u * i + 1, s.levels[i].pitch);
            ASSERT_EQ(static_cast<int32_t>(lw - 1), s.levelMaxX[i]);
            ASSERT_EQ(static_cast<int32_t>(lh - 1), s.levelMaxY[i]);
            ASSERT_EQ(SlowSpread(lw - 1), s.levelSpreadX[i]);
            ASSERT_EQ(SlowSpread(lh - 1), s.levelSpreadY[i]);
          } else {
            ASSERT_EQ(0u, s.levels[i].width) << "entries past the count are zero";
            ASSERT_EQ(nullptr, s.levels[i].start);
          }
        }
        ASSERT_EQ((static_cast<int32_t>(want) - 1) * 256, s.lodLimit);
      }
}

TEST(InitSurface, SamplingConstantsAndKernelRow) {
  Surface s;
  SurfaceDesc d = TestSurfaceDesc(Unorm8BGRA, kLayoutLinear, 320, 240, 1);
  InitSurface(&s, &d, 0);
  EXPECT_EQ(40960.0f, s.scaleX);
  EXPECT_EQ(40832, s.offsetX);
  EXPECT_EQ(-30720.0f, s.scaleY);
  EXPECT_EQ(30592, s.offsetY);
  EXPECT_EQ(4u, s.elementSize);
  EXPECT_EQ(4u, s.readChannels);
  EXPECT_EQ(0, s.isFp32);
  EXPECT_EQ(0, s.isPow2);
  EXPECT_EQ(192u + 24u * 3u, s.kernelRow); // 4-byte block, converted, not a power of two

  struct Case {
    int32_t format;
    int32_t layout;
    uint32_t w, h;
    uint32_t row;
  } cases[] = {
      {Fp32RGBA, 1, 1024, 2048, 384},    {Fp32RGBA, 2, 1024, 2048, 396}, {Fp32Vec4, 1, 3, 4, 408},
      {Fp32RGBX, 1, 16, 16, 384 + 48},   {Unorm8, 1, 8, 8, 48},          {Unorm8, 1, 5, 8, 72},
      {Fp16, 2, 4, 4, 96 + 48 + 12},     {Fp32, 1, 4, 4, 192},           {Fp32Vec2, 1, 0, 4, 288},
      {Fp32RGB, 2, 8, 8, 492},           {Fp32Vec3, 1, 7, 8, 504},       {Unorm8RGB, 1, 8, 8, 528},
      {Fp16RGB, 1, 6, 6, 552},           {Unorm32RGB, 2, 2, 2, 540},     {PackedFpR11G11B10, 1, 2, 2, 240},
  };
  for (const Case& c : cases) {
    d = TestSurfaceDesc(c.format, c.layout, c.w, c.h, 1);
    InitSurface(&s, &d, 0);
    EXPECT_EQ(c.row, s.kernelRow) << formatInfo(c.format)->name << " " << c.w << "x" << c.h;
    EXPECT_NE(nullptr, SampleKernelTable()[s.kernelRow + 1]) << formatInfo(c.format)->name;
  }
}

TEST(InitSurface, TakesTheFormatsOperations) {
  Surface s;
  SurfaceDesc d = TestSurfaceDesc(Unorm8BGRA, kLayoutLinear, 4, 4, 1);
  InitSurface(&s, &d, 0);
  const FormatInfo* info = formatInfo(Unorm8BGRA);
  EXPECT_EQ(Unorm8BGRA, s.format);
  EXPECT_EQ(0, memcmp(&info->ops, &s.ops, sizeof(FormatOps)));
  EXPECT_EQ(1, s.layout);
  EXPECT_EQ(0, s.ownsStorage);

  // Rebinding changes the operations only.
  ASSERT_EQ(0, BindSurfaceFormat(&s, Unorm8RGBA));
  EXPECT_EQ(Unorm8RGBA, s.format);
  EXPECT_EQ(0, memcmp(&formatInfo(Unorm8RGBA)->ops, &s.ops, sizeof(FormatOps)));

  // Undefined has no operations: refused, the old format stays.
  EXPECT_EQ(1, BindSurfaceFormat(&s, Undefined));
  EXPECT_EQ(Unorm8RGBA, s.format);
  EXPECT_EQ(0, memcmp(&formatInfo(Unorm8RGBA)->ops, &s.ops, sizeof(FormatOps)));

  for (int32_t f = 1; f < kFormatCount; ++f) EXPECT_EQ(0, BindSurfaceFormat(&s, f)) << f;
}

TEST(CreateSurface, OwnedZeroedStorage) {
  Surface s;
  memset(&s, 0xAB, sizeof(s));
  ASSERT_EQ(0, CreateSurface(&s, Fp32, 640, 480));
  EXPECT_EQ(1, s.ownsStorage);
  EXPECT_EQ(1, s.layout);
  EXPECT_EQ(1u, s.levelCount);
  EXPECT_EQ(640u * 4u, s.levels[0].pitch);
  ASSERT_EQ(640u * 480u * 4u, static_cast<uint64_t>(s.levels[0].end - s.levels[0].start));
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(s.levels[0].start) % kSurfaceAlignment); // rows on cache lines
  for (const uint8_t* p = s.levels[0].start; p != s.levels[0].end; ++p) ASSERT_EQ(0, *p);
  EXPECT_EQ(0u, s.levels[1].width);

  // Texel functions work on it: store then load through the surface.
  float v = 0.625f, back = 0.0f;
  s.StoreElement(&s, 0, 639, 479, &v);
  s.LoadElement(&s, 0, 639, 479, &back);
  EXPECT_EQ(v, back);
  float last;
  memcpy(&last, s.levels[0].end - 4, 4);
  EXPECT_EQ(v, last);

  ReleaseSurface(&s);
  EXPECT_EQ(0, s.ownsStorage);
  ReleaseSurface(&s); // a second release must not free again
}

TEST(CreateSurface, FailsWhenStorageCannotBeHad) {
  Surface s;
  memset(&s, 0, sizeof(s));
  EXPECT_EQ(1, CreateSurface(&s, Fp32RGBA, 1u << 20, 1u << 24)); // 256 TiB
  EXPECT_EQ(1, CreateSurface(&s, Fp32RGBA, 0xFFFFFFFFu, 1)); // row pitch past 32 bits
  EXPECT_EQ(0u, s.levelCount);
}

TEST(CreateSurface, ReleaseLeavesBorrowedStorage) {
  static uint8_t borrowed[64];
  Surface s;
  SurfaceDesc d = TestSurfaceDesc(Unorm8BGRA, kLayoutLinear, 4, 4, 1);
  d.levels[0] = {borrowed, sizeof(borrowed), 16};
  InitSurface(&s, &d, 0);
  ReleaseSurface(&s); // would crash the heap if it freed a static block
  EXPECT_EQ(borrowed, s.levels[0].start);
}

TEST(MortonCode, InterleavesLow16Bits) {
  EXPECT_EQ(1u, MortonCode(1, 0));
  EXPECT_EQ(2u, MortonCode(0, 1));
  EXPECT_EQ(15u, MortonCode(3, 3));
  EXPECT_EQ(0x55555555u, MortonCode(0xFFFF, 0));
  EXPECT_EQ(0xAAAAAAAAu, MortonCode(0, 0xFFFF));
  EXPECT_EQ(0u, MortonCode(0x10000, 0x30000));
  std::mt19937 rng(3);
  for (int i = 0; i < 100000; ++i) {
    uint32_t x = rng(), y = rng();
    ASSERT_EQ(SlowMorton(x, y), MortonCode(x, y));
  }
}

TEST(SampleKernelTable, EmptyExactlyWhereNoSurfaceCanUseIt) {
  const SampleKernelFn* table = SampleKernelTable();
  // Rows: 6 size blocks x {fp32 pow2, fp32 other, other pow2, other other} x {linear, Morton}.
  const uint32_t sizes[6] = {1, 2, 4, 8, 16, 12};
  uint32_t empty = 0;
  std::set<SampleKernelFn> general, specialised;
  for (uint32_t block = 0; block < 6; ++block)
    for (uint32_t kind = 0; kind < 4; ++kind)
      for (uint32_t layout = 0; layout < 2; ++layout) {
        bool fp32 = kind < 2, pow2 = kind % 2 == 0;
        bool expectEmpty = (fp32 && sizes[block] <= 2) || (layout == kLayoutLinear && !pow2);
        for (uint32_t k = 0; k < 12; ++k) {
          SampleKernelFn f = table[block * 96 + kind * 24 + layout * 12 + k];
          if (expectEmpty) {
            EXPECT_EQ(nullptr, f) << block << " " << kind << " " << layout << " " << k;
            ++empty;
            continue;
          }
          ASSERT_NE(nullptr, f);
          if (k % 3 == 2) general.insert(f);
          else specialised.insert(f);
        }
      }
  EXPECT_EQ(216u, empty);
  EXPECT_EQ(1u, general.size()) << "one general kernel for every row";
  EXPECT_EQ(0u, specialised.count(*general.begin()));
}

} // namespace
