// Sampling against a reference sampler written from the rules with none of
// the kernels' shortcuts: 64-bit integer coordinates with floor division,
// mathematical modulo for wrapping, bit-by-bit Morton addresses, one
// catalogue unpack per tap, weights computed in double (they are exact) and
// summed in single precision in tap order. Storage sits against guard pages
// on either side, so any read outside a level faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "format/format.h"
#include "format/format_testing.h"
#include "tests/format/surface_harness.h"

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }
int32_t Wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

// Truncation as the x86 conversion does it: NaN and out-of-range give INT32_MIN.
int32_t RefTrunc(float f) {
  if (std::isnan(f) || f >= 2147483648.0 || f < -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::trunc(static_cast<double>(f)));
}

struct RefTap {
  uint32_t level, x, y;
  double weight;
};

struct RefAxis {
  int32_t clamp; // 1 clamp, 0 wrap
};

uint32_t RefResolve(int64_t c, uint32_t n, int32_t clamp) {
  if (clamp) return static_cast<uint32_t>(c < 0 ? 0 : (c >= n ? n - 1 : c));
  return static_cast<uint32_t>(FloorMod(c, n));
}

// kernel: the table column; its group and addressing come from the number.
void ReferenceSample(const TestSurface& t, const Sampler& sm, const float* px, uint32_t kernel, float* out) {
  uint32_t group = kernel / 3, a = kernel % 3;
  int32_t clampU = a == 0 ? 1 : a == 1 ? 0 : sm.addressU == 1;
  int32_t clampV = a == 0 ? 1 : a == 1 ? 0 : sm.addressV == 1;
  if (a == 2) group = 3; // the general kernel takes everything from the sampler

  // lambda = 256 log2(rho) read off the bits; rho <= 0 has no logarithm and
  // selects the finest level, which +0.0's bits give.
  float rho = px[3] <= 0.0f ? 0.0f : px[3];
  uint32_t bits;
  memcpy(&bits, &rho, 4);
  int32_t diff = Wrap32(static_cast<int64_t>(static_cast<int32_t>(bits)) - 0x3F800000);
  float scaled = static_cast<float>(diff) * (1.0f / 32768.0f);
  int32_t lambda = Wrap32(static_cast<int64_t>(sm.lodBias) + static_cast<int64_t>(std::trunc(scaled)));
  int64_t upper = std::min<int64_t>(sm.maxLod, (static_cast<int64_t>(t.levelCount) - 1) * 256);
  auto clampLod = [&](int64_t v) {
    int64_t c = std::min<int64_t>(std::max<int64_t>(v, sm.minLod), upper);
    return static_cast<uint32_t>(FloorDiv(std::max<int64_t>(c, 0), 256));
  };

  float scaleX = static_cast<float>(t.width[0]) * 128.0f, scaleY = static_cast<float>(t.height[0]) * -128.0f;
  int64_t X = Wrap32(static_cast<int64_t>(RefTrunc(scaleX * px[0])) + t.width[0] * 128ll - 128);
  int64_t Y = Wrap32(static_cast<int64_t>(RefTrunc(scaleY * px[1])) + t.height[0] * 128ll - 128);

  RefTap taps[8];
  uint32_t n = 0;
  auto point = [&](uint32_t level, double w) {
    int64_t one = int64_t(1) << (level + 8);
    taps[n++] = {level, RefResolve(FloorDiv(Wrap32(X + 128), one), t.width[level], clampU),
                 RefResolve(FloorDiv(Wrap32(Y + 128), one), t.height[level], clampV), w};
  };
  auto bilinear = [&](uint32_t level, double w) {
    int64_t one = int64_t(1) << (level + 8);
    int64_t x0 = FloorDiv(X, one), y0 = FloorDiv(Y, one);
    double fx = FloorMod(FloorDiv(X, int64_t(1) << level), 256) / 256.0;
    double fy = FloorMod(FloorDiv(Y, int64_t(1) << level), 256) / 256.0;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 2; ++i)
        taps[n++] = {level, RefResolve(x0 + i, t.width[level], clampU), RefResolve(y0 + j, t.height[level], clampV),
                     (i ? fx : 1 - fx) * (j ? fy : 1 - fy) * w};
  };
  int64_t lam = lambda;
  double blend = FloorMod(lam, 256) / 256.0;
  if (group == 0) {
    point(clampLod(lam + 128), 1.0);
  } else if (group == 1) {
    bilinear(clampLod(lam + 128), 1.0);
  } else if (group == 2) {
    bilinear(clampLod(lam), 1 - blend);
    bilinear(clampLod(lam + 256), blend);
  } else if (sm.mipFilter == 1) {
    if (sm.coarseFilter == 2 || sm.fineFilter == 2) bilinear(clampLod(lam + 128), 1.0);
    else point(clampLod(lam + 128), 1.0);
  } else {
    if (sm.fineFilter == 1) point(clampLod(lam), 1 - blend);
    else bilinear(clampLod(lam), 1 - blend);
    if (sm.coarseFilter == 1) point(clampLod(lam + 256), blend);
    else bilinear(clampLod(lam + 256), blend);
  }

  const FormatInfo* info = formatInfo(t.format);
  float values[8][4];
  for (uint32_t i = 0; i < n; ++i) {
    alignas(16) uint8_t raw[16];
    memcpy(raw, RefTexelAddress(&t, taps[i].level, taps[i].x, taps[i].y), t.elementSize);
    info->ops.unpack(raw, values[i]);
  }
  for (uint32_t c = 0; c < 4; ++c) out[c] = 0.0f;
  for (uint32_t c = 0; c < info->readChannels; ++c) {
    if (n == 1) {
      out[c] = values[0][c];
      continue;
    }
    float sum = values[0][c] * static_cast<float>(taps[0].weight);
    for (uint32_t i = 1; i < n; ++i) sum = sum + values[i][c] * static_cast<float>(taps[i].weight);
    out[c] = sum;
  }
}

bool SameFloat(float a, float b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return memcmp(&a, &b, 4) == 0;
}

float RandomCoordinate(std::mt19937& rng, uint32_t size) {
  switch (rng() % 10) {
    case 0: return -1.0f + 2.0f * static_cast<float>(rng() % (size + 1)) / static_cast<float>(size); // texel edge
    case 1: return -1.0f + (2.0f * static_cast<float>(rng() % size) + 1.0f) / static_cast<float>(size); // centre
    case 2: return std::uniform_real_distribution<float>(-40.0f, 40.0f)(rng);
    case 3: {
      const float far[] = {1e9f, -1e9f, 3e9f, -3e9f, 1e30f, -1e30f, 65536.0f, -65536.0f, 1.0f, -1.0f};
      return far[rng() % 10];
    }
    case 4: {
      const float special[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::denorm_min(), -0.0f};
      return special[rng() % 6];
    }
    case 5: {
      uint32_t bits = rng();
      float f;
      memcpy(&f, &bits, 4);
      return f;
    }
    default: return std::uniform_real_distribution<float>(-1.2f, 1.2f)(rng);
  }
}

float RandomRho(std::mt19937& rng) {
  switch (rng() % 8) {
    case 0: {
      const float special[] = {0.0f, -1.0f, -0.25f, std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(), 1e-30f, 1e30f, 1.0f};
      return special[rng() % 8];
    }
    case 1: {
      uint32_t bits = rng();
      float f;
      memcpy(&f, &bits, 4);
      return f;
    }
    default: return std::exp2(std::uniform_real_distribution<float>(-3.0f, 7.0f)(rng));
  }
}

Sampler RandomSampler(std::mt19937& rng, uint32_t kernel) {
  Sampler s;
  memset(&s, 0, sizeof(s));
  s.coarseFilter = 1 + rng() % 3;
  s.fineFilter = 1 + rng() % 3;
  s.mipFilter = 1 + rng() % 2;
  s.addressU = 1 + rng() % 2;
  s.addressV = 1 + rng() % 2;
  s.minLod = static_cast<int32_t>(rng() % 5 == 0 ? -300 + static_cast<int32_t>(rng() % 1000) : 0);
  s.maxLod = static_cast<int32_t>(rng() % 4 == 0 ? rng() % 1200 : 4000);
  if (rng() % 10 == 0) s.maxLod = -static_cast<int32_t>(rng() % 600);
  s.lodBias = static_cast<int32_t>(rng() % 700) - 350;
  if (rng() % 20 == 0) s.lodBias = static_cast<int32_t>(rng());
  s.kernel = kernel;
  return s;
}

// Formats covering every size block, float32 (read directly) and converted.
const int32_t kSampleFormats[] = {
    Unorm8,      Snorm8,          // 1
    Unorm8Vec2,  Fp16,            PackedUnormB5G6R5, // 2
    Unorm8RGB,   Unorm8Vec3,      // 3
    Fp32,        Unorm8BGRA,      Fp16Vec2, PackedFpR11G11B10, // 4
    Fp16RGB,     Unorm16Vec3,     // 6
    Fp32Vec2,    Fp16RGBA,        // 8
    Fp32RGB,     Fp32Vec3,        Unorm32RGB, // 12
    Fp32RGBA,    Fp32Vec4,        Fp32RGBX, Unorm32Vec4, // 16
};

struct Shape {
  uint32_t width, height;
};
const Shape kPow2Shapes[] = {{1, 1}, {8, 8}, {16, 4}, {2, 32}, {64, 64}};
const Shape kOtherShapes[] = {{6, 5}, {7, 1}, {13, 9}, {3, 3}, {20, 12}};

void CompareWithReference(int32_t format, int32_t layout, const Shape& shape, uint32_t samplesPerKernel,
                          std::mt19937& rng) {
  TestSurface t;
  ASSERT_EQ(0, BuildTestSurface(&t, format, layout, shape.width, shape.height, 16, layout == kLayoutLinear ? rng() % 3 * 4 : 0,
                                rng() & 1, &rng));
  for (uint32_t kernel = 0; kernel < 12; ++kernel) {
    for (uint32_t i = 0; i < samplesPerKernel; ++i) {
      Sampler sm = RandomSampler(rng, kernel);
      float px[4] = {RandomCoordinate(rng, shape.width), RandomCoordinate(rng, shape.height), 0.0f, RandomRho(rng)};
      float got[4], want[4];
      memset(got, 0xCD, sizeof(got));
      SampleSurface(&t.surface, &sm, px, got);
      ReferenceSample(t, sm, px, kernel, want);
      for (int c = 0; c < 4; ++c) {
        if (!SameFloat(got[c], want[c])) {
          ADD_FAILURE() << formatInfo(format)->name << " " << shape.width << "x" << shape.height << " layout "
                        << layout << " kernel " << kernel << " u " << px[0] << " v " << px[1] << " rho " << px[3]
                        << " filters " << sm.coarseFilter << "/" << sm.fineFilter << "/" << sm.mipFilter
                        << " address " << sm.addressU << "/" << sm.addressV << " lod " << sm.minLod << ".."
                        << sm.maxLod << " bias " << sm.lodBias << " channel " << c << ": got " << got[c]
                        << " want " << want[c];
          FreeTestSurface(&t);
          return;
        }
      }
    }
  }
  FreeTestSurface(&t);
}

TEST(SampleSurface, MatchesReferenceLinear) {
  std::mt19937 rng(2024);
  for (int32_t format : kSampleFormats) {
    for (const Shape& s : kPow2Shapes) CompareWithReference(format, 1, s, 60, rng);
    for (const Shape& s : kOtherShapes) CompareWithReference(format, 1, s, 60, rng);
  }
}

TEST(SampleSurface, MatchesReferenceMorton) {
  std::mt19937 rng(4048);
  for (int32_t format : kSampleFormats)
    for (const Shape& s : kPow2Shapes) CompareWithReference(format, 2, s, 60, rng);
}

// The batch routine of every table entry gives what one call per pixel
// gives, with zeros in the channels the format does not read.
void CompareBatch(int32_t format, int32_t layout, const Shape& shape, uint32_t levels, std::mt19937& rng) {
  TestSurface t;
  ASSERT_EQ(0, BuildTestSurface(&t, format, layout, shape.width, shape.height, levels,
                                layout == kLayoutLinear ? rng() % 3 * 4 : 0, rng() & 1, &rng));
  constexpr uint32_t kPixels = 303; // past one 256-pixel chunk, ending mid-group
  for (uint32_t kernel = 0; kernel < 12; ++kernel) {
    Sampler sm = RandomSampler(rng, kernel);
    float u[kPixels], v[kPixels], rho[kPixels], got[4 * kPixels];
    for (uint32_t i = 0; i < kPixels; ++i) {
      u[i] = RandomCoordinate(rng, shape.width);
      v[i] = RandomCoordinate(rng, shape.height);
      rho[i] = RandomRho(rng);
    }
    // Where the batch is said not to read rho it gets NaNs instead. Each
    // batch routine is tried with the wide routines allowed and not.
    const bool readsRho = SampleBatchReadsRho(&t.surface, &sm) != 0;
    float noRho[kPixels];
    for (float& r : noRho) r = std::numeric_limits<float>::quiet_NaN();
    for (int32_t wide = 0; wide < 2; ++wide) {
      memset(got, 0xCD, sizeof(got));
      SetWideSamplingForTest(wide);
      SampleBatchFn batch = SelectSampleBatch(&t.surface, &sm);
      SetWideSamplingForTest(1);
      ASSERT_NE(batch, nullptr);
      batch(&t.surface, &sm, u, v, readsRho ? rho : noRho, kPixels, got);
      for (uint32_t i = 0; i < kPixels; ++i) {
        const float px[4] = {u[i], v[i], 0.0f, rho[i]};
        float want[4] = {0, 0, 0, 0};
        SampleSurface(&t.surface, &sm, px, want);
        for (int c = 0; c < 4; ++c)
          if (!SameFloat(got[4 * i + c], want[c])) {
            ADD_FAILURE() << formatInfo(format)->name << " " << shape.width << "x" << shape.height << " layout "
                          << layout << " kernel " << kernel << " wide " << wide << " pixel " << i << " channel " << c
                          << ": got " << got[4 * i + c] << " want " << want[c];
            FreeTestSurface(&t);
            return;
          }
      }
    }
  }
  FreeTestSurface(&t);
}

TEST(SampleSurface, BatchEqualsOneCallPerPixel) {
  std::mt19937 rng(99);
  for (int32_t format : kSampleFormats) {
    // Single-level surfaces have their own routines for four-float texels.
    for (uint32_t levels : {1u, 16u}) {
      for (const Shape& s : kPow2Shapes) {
        CompareBatch(format, 1, s, levels, rng);
        CompareBatch(format, 2, s, levels, rng);
      }
      for (const Shape& s : kOtherShapes) CompareBatch(format, 1, s, levels, rng);
    }
  }
  // Nothing to sample from: zeros.
  Surface empty;
  memset(&empty, 0, sizeof(empty));
  Sampler sm = RandomSampler(rng, 0);
  const float u[2] = {0.5f, 0.5f}, v[2] = {0.5f, 0.5f}, rho[2] = {1.0f, 1.0f};
  float got[8];
  memset(got, 0xCD, sizeof(got));
  SelectSampleBatch(&empty, &sm)(&empty, &sm, u, v, rho, 2, got);
  for (float g : got) EXPECT_EQ(g, 0.0f);
}

// ---- Cases with known answers ------------------------------------------------

// Surface whose texel (x, y) of level L unpacks to (x, y, L, 1).
struct CoordinateSurface {
  TestSurface t;
  explicit CoordinateSurface(uint32_t w, uint32_t h, uint32_t levels = 1, int32_t layout = 1) {
    std::mt19937 rng(1);
    EXPECT_EQ(0, BuildTestSurface(&t, Fp32RGBA, layout, w, h, levels, 0, 1, &rng));
    for (uint32_t l = 0; l < t.levelCount; ++l)
      for (uint32_t y = 0; y < t.height[l]; ++y)
        for (uint32_t x = 0; x < t.width[l]; ++x) {
          float v[4] = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(l), 1.0f};
          memcpy(RefTexelAddress(&t, l, x, y), v, 16);
        }
  }
  ~CoordinateSurface() { FreeTestSurface(&t); }
  void Sample(const Sampler& sm, float u, float v, float rho, float* out) const {
    float px[4] = {u, v, 0.0f, rho};
    SampleSurface(&t.surface, &sm, px, out);
  }
};

Sampler MakeSampler(uint32_t kernel, uint32_t address) {
  Sampler s = {1, 1, 1, address, address, 2, {0.0f, 0.0f, 0.0f}, 0, 0, 0, kernel, 1};
  return s;
}

TEST(SampleSurface, ProgramSamplerOn256Square) {
  const Sampler program = {1, 1, 1, 2, 2, 2, {0.0f, 0.0f, 0.0f}, 0, 0, 0, 1, 1};
  CoordinateSurface s(256, 256);
  float r[4];
  s.Sample(program, 0.0f, 0.0f, 1.0f, r);
  EXPECT_EQ(128.0f, r[0]);
  EXPECT_EQ(128.0f, r[1]);
  s.Sample(program, -1.0f, 1.0f, 1.0f, r);
  EXPECT_EQ(0.0f, r[0]);
  EXPECT_EQ(0.0f, r[1]);
  s.Sample(program, 1.0f, 1.0f, 1.0f, r);
  EXPECT_EQ(0.0f, r[0]) << "u = +1 wraps to column 0";
  s.Sample(program, 0.0f, -1.0f, 1.0f, r);
  EXPECT_EQ(0.0f, r[1]) << "v = -1 wraps to row 0";
}

TEST(SampleSurface, ClampAndWrapAtTheEdges) {
  float r[4];
  CoordinateSurface w8(8, 4);
  w8.Sample(MakeSampler(0, 1), 1.0f, 0.0f, 1.0f, r);
  EXPECT_EQ(7.0f, r[0]) << "clamp at u = +1 on width 8";
  w8.Sample(MakeSampler(0, 1), -5.0f, 9.0f, 1.0f, r);
  EXPECT_EQ(0.0f, r[0]);
  EXPECT_EQ(0.0f, r[1]);

  CoordinateSurface w6(6, 4);
  ASSERT_EQ(0, w6.t.surface.isPow2);
  w6.Sample(MakeSampler(1, 2), 1.0f, 0.0f, 1.0f, r);
  EXPECT_EQ(0.0f, r[0]) << "wrap at u = +1 on width 6";
  // Centre of column -1: one texel (2/6) left of the first centre.
  w6.Sample(MakeSampler(1, 2), -1.0f - 1.0f / 6.0f, 0.0f, 1.0f, r);
  EXPECT_EQ(5.0f, r[0]) << "column -1 wraps to 5";
  w6.Sample(MakeSampler(1, 2), -1.0f - 13.0f / 6.0f, 0.0f, 1.0f, r);
  EXPECT_EQ(5.0f, r[0]) << "column -7 wraps to 5";
  w6.Sample(MakeSampler(1, 2), 1.0f + 5.0f / 6.0f, 0.0f, 1.0f, r);
  EXPECT_EQ(2.0f, r[0]) << "column 8 wraps to 2";
}

TEST(SampleSurface, BilinearAtTexelCentreReturnsTheTexel) {
  float r[4];
  for (uint32_t kernel : {3u, 4u}) {
    for (int32_t layout : {1, 2}) {
      CoordinateSurface s(16, 8, 1, layout);
      for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
          float u = -1.0f + (2.0f * x + 1.0f) / 16.0f, v = 1.0f - (2.0f * y + 1.0f) / 8.0f;
          s.Sample(MakeSampler(kernel, kernel == 3 ? 1 : 2), u, v, 1.0f, r);
          ASSERT_EQ(static_cast<float>(x), r[0]) << x << "," << y;
          ASSERT_EQ(static_cast<float>(y), r[1]) << x << "," << y;
          ASSERT_EQ(1.0f, r[3]);
        }
    }
  }
  // Halfway between columns 2 and 3 gives the mean.
  CoordinateSurface s(16, 8);
  s.Sample(MakeSampler(3, 1), -1.0f + 6.0f / 16.0f, 1.0f - 1.0f / 8.0f, 1.0f, r);
  EXPECT_EQ(2.5f, r[0]);
  EXPECT_EQ(0.0f, r[1]);
}

TEST(SampleSurface, ChannelsFollowTheFormat) {
  std::mt19937 rng(5);
  struct Case {
    int32_t format;
    float expect[4]; // NaN marks "the stored value"
  };
  const float kStored = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {Unorm8Vec2, {kStored, kStored, 0.0f, 0.0f}},
      {Unorm8RGB, {kStored, kStored, kStored, 1.0f}},
      {Fp32Vec3, {kStored, kStored, kStored, 0.0f}},
      {Fp32RGB, {kStored, kStored, kStored, 1.0f}},
      {Fp32, {kStored, 0.0f, 0.0f, 0.0f}},
  };
  for (const Case& c : cases) {
    for (uint32_t kernel : {0u, 1u, 3u, 4u, 6u, 9u, 2u}) {
      TestSurface t;
      ASSERT_EQ(0, BuildTestSurface(&t, c.format, 1, 4, 4, 1, 0, 1, &rng));
      const FormatInfo* info = formatInfo(c.format);
      uint8_t element[16];
      float ones[4] = {0.25f, 0.5f, 0.75f, 0.125f};
      info->ops.pack(element, ones);
      Region all = {0, 0, 4, 4};
      t.surface.FillRegion(&t.surface, 0, &all, element);
      float stored[4] = {0, 0, 0, 0};
      info->ops.unpack(element, stored);
      float r[4];
      Sampler sm = MakeSampler(kernel, 2);
      sm.fineFilter = sm.coarseFilter = 2;
      float px[4] = {0.3f, -0.7f, 0.0f, 1.0f};
      SampleSurface(&t.surface, &sm, px, r);
      for (int ch = 0; ch < 4; ++ch) {
        // Weighted sums of one stored value may round in the last place.
        if (std::isnan(c.expect[ch]))
          EXPECT_NEAR(stored[ch], r[ch], 1e-6) << info->name << " kernel " << kernel << " channel " << ch;
        else
          EXPECT_EQ(c.expect[ch], r[ch]) << info->name << " kernel " << kernel << " channel " << ch;
      }
      FreeTestSurface(&t);
    }
  }
}

TEST(SampleSurface, LevelSelection) {
  float r[4];
  CoordinateSurface s(64, 64, 16);
  ASSERT_EQ(7u, s.t.levelCount);
  Sampler sm = MakeSampler(0, 1);
  sm.maxLod = 4000;
  sm.minLod = 512;
  s.Sample(sm, 0.0f, 0.0f, 1.0f, r); // lambda 0 < minLod
  EXPECT_EQ(2.0f, r[2]);
  sm.minLod = 0;
  s.Sample(sm, 0.0f, 0.0f, 8.0f, r); // lambda 768
  EXPECT_EQ(3.0f, r[2]);
  s.Sample(sm, 0.0f, 0.0f, 1e30f, r); // capped at the last level
  EXPECT_EQ(6.0f, r[2]);
  sm.maxLod = 300;
  s.Sample(sm, 0.0f, 0.0f, 1e30f, r);
  EXPECT_EQ(1.0f, r[2]);
  // rho = 3 reads as lambda 384 (the bit pattern's mantissa is 0.5): the
  // nearest level rounds (384 + 128) >> 8 = 2 ...
  sm.maxLod = 4000;
  s.Sample(sm, 0.0f, 0.0f, 3.0f, r);
  EXPECT_EQ(2.0f, r[2]);
  // ... and two-level filtering blends levels 1 and 2 half and half.
  Sampler two = MakeSampler(6, 1);
  two.maxLod = 4000;
  s.Sample(two, 0.0f, 0.0f, 3.0f, r);
  EXPECT_EQ(1.5f, r[2]);
  // lodBias moves lambda: -384 brings rho = 3 back to level 0 exactly.
  two.lodBias = -384;
  s.Sample(two, 0.0f, 0.0f, 3.0f, r);
  EXPECT_EQ(0.0f, r[2]);

  CoordinateSurface one(32, 32, 1);
  one.Sample(sm, 0.0f, 0.0f, 1e30f, r);
  EXPECT_EQ(0.0f, r[2]) << "a one-level surface always samples level 0";
}

// rho <= 0 has no logarithm: every such value, -0.0 and -1 < rho < 0
// included, selects the finest level, as +0.0 does.
TEST(SampleSurface, NonPositiveRhoSelectsTheFinestLevel) {
  CoordinateSurface s(64, 64, 7);
  const float rhos[] = {0.0f, -0.0f, -1e-40f, -1e-30f, -0.25f, -0.5f, -0.999f, -1.0f, -3.0f, -1e30f,
                        -std::numeric_limits<float>::infinity()};
  for (uint32_t kernel = 0; kernel < 12; ++kernel) {
    Sampler sm = MakeSampler(kernel, 1);
    sm.maxLod = 4000;
    sm.mipFilter = 1 + kernel % 2; // the general kernels: nearest level and two levels
    for (float rho : rhos) {
      float r[4];
      s.Sample(sm, 0.1f, 0.2f, rho, r);
      EXPECT_EQ(0.0f, r[2]) << "kernel " << kernel << " rho " << rho;
    }
  }
}

TEST(SampleSurface, OutOfContractInputsAnswerZeros) {
  CoordinateSurface s(8, 8);
  float r[4];
  Sampler sm = MakeSampler(12, 1);
  memset(r, 0x7F, sizeof(r));
  s.Sample(sm, 0.0f, 0.0f, 1.0f, r);
  for (float f : r) EXPECT_EQ(0.0f, f);

  // Morton layout on a non-power-of-two surface has no kernels.
  CoordinateSurface m(6, 4, 1, 2);
  memset(r, 0x7F, sizeof(r));
  m.Sample(MakeSampler(1, 2), 0.0f, 0.0f, 1.0f, r);
  for (float f : r) EXPECT_EQ(0.0f, f);
}

} // namespace
