// Built-in stage programs: NullVs, FontVs, FontFs and AlphaBlendBs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "gfx/gfx.h"

namespace {

// Slots with the descriptor's stride, shaded in one call.
struct Slots {
  explicit Slots(const StageDescriptor* d, uint32_t n)
      : stride(d->outputLayout->totalSize + kVertexSlotHeaderBytes), bytes(size_t(stride) * n, 0xAB), count(n) {}
  VertexSlot* at(uint32_t i) { return reinterpret_cast<VertexSlot*>(bytes.data() + size_t(stride) * i); }
  uint32_t stride;
  std::vector<uint8_t> bytes;
  uint32_t count;
};

void Shade(const StageDescriptor* d, const void* constants, const float* inputs, Slots* s) {
  StageVertexFn(d)(constants, inputs, s->bytes.data(), s->bytes.data() + size_t(s->stride) * s->count, s->stride);
}

TEST(Stages, DescriptorsPublishTheirLayouts) {
  const StageDescriptor* all[4] = {&NullVs, &FontVs, &FontFs, &AlphaBlendBs};
  const char* names[4] = {"NullVs", "FontVs", "FontFs", "AlphaBlendBs"};
  for (int i = 0; i < 4; i++) {
    EXPECT_STREQ(all[i]->name, names[i]);
    EXPECT_NE(all[i]->function, nullptr);
    const StageLayout* out = all[i]->outputLayout;
    EXPECT_EQ(out->totalSize, 16u);
    ASSERT_EQ(out->entryCount, 1u);
    EXPECT_EQ(out->entries[0].offset, 0u);
    EXPECT_EQ(out->entries[0].count, 4u);
  }
  EXPECT_EQ(FontVs.inputLayout->totalSize, 32u);
  ASSERT_EQ(FontVs.inputLayout->entryCount, 2u);
  EXPECT_EQ(FontVs.inputLayout->entries[1].offset, 16u);
  EXPECT_EQ(FontVs.inputLayout->entries[1].count, 4u);
  EXPECT_EQ(NullVs.inputLayout->totalSize, 16u);
}

TEST(Stages, NullVsNegatesYOfThePositionOnly) {
  const float in[12] = {0.5f, 0.25f, 0.0f, 1.0f, -3.0f, 7.5f, 0.125f, 2.0f, 0.0f, -0.0f, 1e-3f, -1.0f};
  Slots s(&NullVs, 3);
  Shade(&NullVs, nullptr, in, &s);
  const float expectedPosition[3][4] = {{0.5f, -0.25f, 0, 1}, {-3.0f, -7.5f, 0.125f, 2.0f}, {0.0f, 0.0f, 1e-3f, -1.0f}};
  for (uint32_t v = 0; v < 3; v++) {
    for (int i = 0; i < 4; i++) {
      EXPECT_EQ(s.at(v)->position[i], expectedPosition[v][i]) << v << "," << i;
      EXPECT_EQ(VertexSlotOutputs(s.at(v))[i], in[4 * v + i]);
    }
  }
}

TEST(Stages, FontVsTransformsPositionAndScalesTheFourthCoordinate) {
  const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const float in[8] = {3.0f, 4.0f, 0.5f, 2.0f, 0.25f, 0.75f, 0.0f, 1.0f};
  Slots s(&FontVs, 1);
  Shade(&FontVs, identity, in, &s);
  const float* p = s.at(0)->position;
  EXPECT_EQ(p[0], 3.0f);
  EXPECT_EQ(p[1], -4.0f);
  EXPECT_EQ(p[2], 0.5f);
  EXPECT_EQ(p[3], 2.0f);
  const float* o = VertexSlotOutputs(s.at(0));
  EXPECT_EQ(o[0], 0.25f);
  EXPECT_EQ(o[1], 0.75f);
  EXPECT_EQ(o[2], 0.0f);
  EXPECT_EQ(o[3], 2.0f); // t3 * w

  // The logical-screen projection: x' = x / 160 - 1, y' = 1 - y / 120, with
  // the translation in m12, m13 (column-major), then y negated again.
  float screen[16] = {0};
  screen[0] = 1.0f / 160;
  screen[5] = -1.0f / 120;
  screen[10] = 1.0f;
  screen[12] = -1.0f;
  screen[13] = 1.0f;
  screen[15] = 1.0f;
  const float corners[2][8] = {{0, 0, 0, 1, 0, 0, 0, 1}, {320, 240, 0, 1, 1, 1, 0, 3}};
  const float expected[2][4] = {{-1, -1, 0, 1}, {1, 1, 0, 1}};
  for (int k = 0; k < 2; k++) {
    Slots t(&FontVs, 1);
    Shade(&FontVs, screen, corners[k], &t);
    for (int i = 0; i < 4; i++) EXPECT_FLOAT_EQ(t.at(0)->position[i], expected[k][i]) << k << "," << i;
    EXPECT_EQ(VertexSlotOutputs(t.at(0))[3], corners[k][7]);
  }
}

struct Pixels {
  explicit Pixels(uint32_t n) : records(n), pointers(n) {
    for (uint32_t i = 0; i < n; i++) {
      memset(&records[i], 0, sizeof(PixelRecord));
      pointers[i] = &records[i];
    }
  }
  std::vector<PixelRecord> records;
  std::vector<PixelRecord*> pointers;
  PixelRecord** first() { return pointers.data(); }
  PixelRecord** end() { return pointers.data() + pointers.size(); }
};

TEST(Stages, FontFsMultipliesTheSampleByTheColour) {
  // A texture of one repeated texel: every filter returns that texel.
  Surface texture;
  ASSERT_EQ(CreateSurface(&texture, Fp32RGBA, 8, 8), 0);
  const float texel[4] = {0.5f, 0.25f, 1.0f, 0.75f};
  for (uint32_t y = 0; y < 8; y++)
    for (uint32_t x = 0; x < 8; x++) texture.StoreElement(&texture, 0, x, y, texel);
  Sampler sampler;
  memset(&sampler, 0, sizeof(sampler));
  sampler.coarseFilter = 1;
  sampler.fineFilter = 1;
  sampler.mipFilter = 1;
  sampler.addressU = 1;
  sampler.addressV = 1;
  FontFsConstants k = {&texture, &sampler, {2.0f, 0.5f, 0.25f, 1.0f}};
  Pixels px(5);
  for (uint32_t i = 0; i < 5; i++) {
    float* in = px.records[i].interpolated;
    in[0] = 0.1f + 0.2f * float(i);
    in[1] = 0.9f - 0.15f * float(i);
    in[3] = 1.0f;
  }
  EXPECT_EQ(StageFragmentFn(&FontFs)(&k, px.first(), px.end()), px.end());
  for (uint32_t i = 0; i < 5; i++) {
    const float* o = px.records[i].outputs;
    EXPECT_FLOAT_EQ(o[0], 1.0f);
    EXPECT_FLOAT_EQ(o[1], 0.125f);
    EXPECT_FLOAT_EQ(o[2], 0.25f);
    EXPECT_FLOAT_EQ(o[3], 0.75f);
  }
  ReleaseSurface(&texture);
}

// Pass rule of the alpha test, from its table; an unordered comparison
// counts as below-and-equal.
bool AlphaRule(int32_t f, float a, float ref) {
  bool un = std::isnan(a) || std::isnan(ref);
  switch (f) {
    case CompareFunction::Never: return false;
    case CompareFunction::Always: return true;
    case CompareFunction::Less: return un || a < ref;
    case CompareFunction::LessEqual: return un || a <= ref;
    case CompareFunction::Equal: return un || a == ref;
    case CompareFunction::Greater: return !un && a > ref;
    case CompareFunction::GreaterEqual: return !un && a >= ref;
    case CompareFunction::NotEqual: return !un && a != ref;
  }
  return true;
}

TEST(Stages, AlphaBlendBsSpecialAlphas) {
  AlphaTestConstants always = {CompareFunction::Always, 0.0f};
  Pixels px(2);
  const float dst[4] = {0.2f, 0.4f, 0.6f, 0.8f};
  const float src[4] = {0.9f, 0.1f, 0.5f, 0.0f};
  for (int i = 0; i < 2; i++) {
    memcpy(px.records[i].target, dst, 16);
    memcpy(px.records[i].outputs, src, 16);
  }
  px.records[1].outputs[3] = 1.0f;
  EXPECT_EQ(StageBlendFn(&AlphaBlendBs)(&always, px.first(), px.end()), px.end());
  // a = 0: colour unchanged, alpha 0; a = 1: source colour, alpha 1.
  EXPECT_EQ(px.records[0].target[0], 0.2f);
  EXPECT_EQ(px.records[0].target[1], 0.4f);
  EXPECT_EQ(px.records[0].target[2], 0.6f);
  EXPECT_EQ(px.records[0].target[3], 0.0f);
  EXPECT_EQ(px.records[1].target[0], 0.9f);
  EXPECT_EQ(px.records[1].target[1], 0.1f);
  EXPECT_EQ(px.records[1].target[2], 0.5f);
  EXPECT_EQ(px.records[1].target[3], 1.0f);

  // a = 0.25 mixes a quarter of the source in.
  Pixels mix(1);
  memcpy(mix.records[0].target, dst, 16);
  const float quarter[4] = {1.0f, 0.0f, 0.6f, 0.25f};
  memcpy(mix.records[0].outputs, quarter, 16);
  StageBlendFn(&AlphaBlendBs)(&always, mix.first(), mix.end());
  EXPECT_FLOAT_EQ(mix.records[0].target[0], 0.4f);
  EXPECT_FLOAT_EQ(mix.records[0].target[1], 0.3f);
  EXPECT_FLOAT_EQ(mix.records[0].target[2], 0.6f);
  EXPECT_EQ(mix.records[0].target[3], 0.25f);
}

TEST(Stages, AlphaBlendBsTestKeepsPassingPixelsInOrder) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float alphas[] = {0.0f, 0.25f, 0.5f, 0.5f, 0.75f, 1.0f, nan, -inf, inf, -0.0f, 0.4999999f};
  const float refs[] = {0.5f, 0.0f, 1.0f, nan};
  const uint32_t n = sizeof(alphas) / sizeof(alphas[0]);
  for (float ref : refs) {
    for (int32_t f = CompareFunction::Never; f <= CompareFunction::NotEqual; f++) {
      Pixels px(n);
      for (uint32_t i = 0; i < n; i++) {
        float* s = px.records[i].outputs;
        s[0] = 1.0f;
        s[1] = 0.5f;
        s[2] = 0.25f;
        s[3] = alphas[i];
        float* d = px.records[i].target;
        d[0] = d[1] = d[2] = 0.125f;
        d[3] = 0.5f;
        px.records[i].storedDepth = float(i);
      }
      AlphaTestConstants k = {CompareFunction::Value(f), ref};
      PixelRecord** kept = StageBlendFn(&AlphaBlendBs)(&k, px.first(), px.end());
      std::vector<PixelRecord*> expected;
      for (uint32_t i = 0; i < n; i++)
        if (AlphaRule(f, alphas[i], ref)) expected.push_back(&px.records[i]);
      ASSERT_EQ(size_t(kept - px.first()), expected.size()) << "function " << f << " ref " << ref;
      for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(px.pointers[i], expected[i]);
      for (uint32_t i = 0; i < n; i++) {
        bool passed = AlphaRule(f, alphas[i], ref);
        const float* d = px.records[i].target;
        if (!passed) {
          // Dropped pixels keep their colour.
          EXPECT_EQ(d[0], 0.125f);
          EXPECT_EQ(d[3], 0.5f);
        } else {
          EXPECT_TRUE(std::isnan(alphas[i]) ? std::isnan(d[3]) : d[3] == alphas[i]);
        }
      }
    }
  }
  // NaN alpha: the first three comparisons pass, the last three fail.
  for (int32_t f : {CompareFunction::Less, CompareFunction::LessEqual, CompareFunction::Equal}) EXPECT_TRUE(AlphaRule(f, nan, 0.5f));
  for (int32_t f : {CompareFunction::Greater, CompareFunction::GreaterEqual, CompareFunction::NotEqual}) EXPECT_FALSE(AlphaRule(f, nan, 0.5f));
}

TEST(Stages, GreaterDropsAlphaEqualToTheReference) {
  AlphaTestConstants k = {CompareFunction::Greater, 0.5f};
  Pixels px(3);
  const float a[3] = {0.5f, 0.75f, 0.5f};
  for (int i = 0; i < 3; i++) {
    px.records[i].outputs[3] = a[i];
    px.records[i].target[0] = 0.3f;
  }
  PixelRecord** kept = StageBlendFn(&AlphaBlendBs)(&k, px.first(), px.end());
  ASSERT_EQ(kept - px.first(), 1);
  EXPECT_EQ(px.pointers[0], &px.records[1]);
  EXPECT_EQ(px.records[0].target[0], 0.3f);
  EXPECT_EQ(px.records[2].target[0], 0.3f);
  AlphaTestConstants never = {CompareFunction::Never, 0.0f};
  EXPECT_EQ(StageBlendFn(&AlphaBlendBs)(&never, px.first(), px.end()), px.first());
}

} // namespace
