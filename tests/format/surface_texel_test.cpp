// Texel functions against a byte-for-byte model of the level storage, with
// addresses computed by the slow reference (row/pitch or bit-by-bit Morton).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "format/format.h"
#include "tests/format/surface_harness.h"

namespace {

// One format per element size the texel functions distinguish.
const int32_t kFormatsBySize[] = {Unorm8, Fp16, Unorm8RGB, Unorm8BGRA, Fp16RGB, Fp16RGBA, Fp32RGB, Fp32RGBA};

struct Shape {
  uint32_t width, height;
};
const Shape kShapes[] = {{1, 1}, {8, 8}, {16, 4}, {2, 16}, {7, 5}, {13, 3}, {6, 6}, {32, 32}};

std::vector<uint8_t> Snapshot(const TestSurface& t, uint32_t level) {
  return std::vector<uint8_t>(t.blocks[level].data, t.blocks[level].data + t.blocks[level].size);
}

uint64_t ModelOffset(const TestSurface& t, uint32_t level, uint32_t x, uint32_t y) {
  return static_cast<uint64_t>(RefTexelAddress(&t, level, x, y) - t.blocks[level].data);
}

Region RandomRegion(const TestSurface& t, uint32_t level, std::mt19937& rng) {
  Region r;
  r.x = rng() % t.width[level];
  r.y = rng() % t.height[level];
  r.width = 1 + rng() % (t.width[level] - r.x);
  r.height = 1 + rng() % (t.height[level] - r.y);
  return r;
}

// Fill in the model: texel by texel, except a Morton fill from (0, 0) whose
// far corner reaches the level's end, which covers the whole level.
void ModelFill(const TestSurface& t, uint32_t level, const Region& r, const uint8_t* element, std::vector<uint8_t>& m) {
  uint32_t es = t.elementSize;
  if (t.layout != kLayoutLinear && r.x == 0 && r.y == 0 &&
      (static_cast<uint64_t>(SlowMorton(r.width - 1, r.height - 1)) + 1) * es >= m.size()) {
    for (uint64_t i = 0; i + es <= m.size(); i += es) memcpy(&m[i], element, es);
    return;
  }
  for (uint32_t y = r.y; y < r.y + r.height; ++y)
    for (uint32_t x = r.x; x < r.x + r.width; ++x) memcpy(&m[ModelOffset(t, level, x, y)], element, es);
}

class TexelFunctions : public ::testing::TestWithParam<int32_t> {};

TEST_P(TexelFunctions, MatchReferenceAddressing) {
  int32_t layout = GetParam();
  std::mt19937 rng(1234 + layout);
  for (int32_t format : kFormatsBySize) {
    for (const Shape& shape : kShapes) {
      for (uint32_t pad : {0u, 3u}) {
        if (layout != kLayoutLinear && pad) continue;
        TestSurface t;
        ASSERT_EQ(0, BuildTestSurface(&t, format, layout, shape.width, shape.height, 16, pad, rng() & 1, &rng));
        Surface* s = &t.surface;
        SCOPED_TRACE(::testing::Message() << formatInfo(format)->name << " " << shape.width << "x" << shape.height
                                          << " layout " << layout << " pad " << pad);
        uint32_t es = t.elementSize;
        for (uint32_t level = 0; level < t.levelCount; ++level) {
          std::vector<uint8_t> model = Snapshot(t, level);
          uint8_t element[16];

          // Load sees every texel at the reference address.
          for (uint32_t y = 0; y < t.height[level]; ++y)
            for (uint32_t x = 0; x < t.width[level]; ++x) {
              uint8_t got[16];
              s->LoadElement(s, level, x, y, got);
              ASSERT_EQ(0, memcmp(got, &model[ModelOffset(t, level, x, y)], es)) << x << "," << y;
            }

          // Stores land at the reference address and nowhere else.
          for (int i = 0; i < 20; ++i) {
            uint32_t x = rng() % t.width[level], y = rng() % t.height[level];
            for (uint32_t b = 0; b < es; ++b) element[b] = static_cast<uint8_t>(rng());
            s->StoreElement(s, level, x, y, element);
            memcpy(&model[ModelOffset(t, level, x, y)], element, es);
          }
          ASSERT_EQ(model, Snapshot(t, level));

          // Regions at random (often odd) offsets.
          for (int i = 0; i < 12; ++i) {
            Region r = RandomRegion(t, level, rng);
            SCOPED_TRACE(::testing::Message() << "level " << level << " region " << r.x << "," << r.y << " "
                                              << r.width << "x" << r.height);
            for (uint32_t b = 0; b < es; ++b) element[b] = static_cast<uint8_t>(rng());
            s->FillRegion(s, level, &r, element);
            ModelFill(t, level, r, element, model);
            ASSERT_EQ(model, Snapshot(t, level));

            std::vector<uint8_t> buffer(static_cast<size_t>(r.width) * r.height * es);
            for (uint8_t& b : buffer) b = static_cast<uint8_t>(rng());
            s->WriteRegion(s, level, &r, buffer.data());
            size_t k = 0;
            for (uint32_t y = r.y; y < r.y + r.height; ++y)
              for (uint32_t x = r.x; x < r.x + r.width; ++x, k += es)
                memcpy(&model[ModelOffset(t, level, x, y)], &buffer[k], es);
            ASSERT_EQ(model, Snapshot(t, level));

            Region q = RandomRegion(t, level, rng);
            std::vector<uint8_t> read(static_cast<size_t>(q.width) * q.height * es + 1, 0xA5);
            s->ReadRegion(s, level, &q, read.data());
            EXPECT_EQ(0xA5, read.back()) << "ReadRegion wrote past its buffer";
            k = 0;
            for (uint32_t y = q.y; y < q.y + q.height; ++y)
              for (uint32_t x = q.x; x < q.x + q.width; ++x, k += es)
                ASSERT_EQ(0, memcmp(&read[k], &model[ModelOffset(t, level, x, y)], es)) << x << "," << y;
          }
        }
        FreeTestSurface(&t);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, TexelFunctions, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int32_t>& i) { return i.param == 1 ? "Linear" : "Morton"; });

// The whole-level Morton fill also writes the codes that lie outside a
// non-square level (its storage runs up to the far corner's code), while a
// region one column short walks texel by texel and leaves them alone.
TEST(TexelFunctions, MortonWholeLevelFillIsOneLinearFill) {
  std::mt19937 rng(7);
  TestSurface t;
  ASSERT_EQ(0, BuildTestSurface(&t, Unorm8BGRA, 2, 8, 2, 1, 0, 1, &rng));
  ASSERT_EQ(24u * 4u, t.blocks[0].size); // codes 0 .. Morton(7, 1) = 23
  Surface* s = &t.surface;
  const uint8_t element[4] = {1, 2, 3, 4};

  std::vector<uint8_t> before = Snapshot(t, 0);
  Region shortRegion = {0, 0, 7, 2};
  s->FillRegion(s, 0, &shortRegion, element);
  std::vector<uint8_t> after = Snapshot(t, 0);
  for (uint32_t code = 0; code < 24; ++code) {
    bool inRegion = false;
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 7; ++x) inRegion |= SlowMorton(x, y) == code;
    if (inRegion) EXPECT_EQ(0, memcmp(&after[code * 4], element, 4)) << code;
    else EXPECT_EQ(0, memcmp(&after[code * 4], &before[code * 4], 4)) << code;
  }

  Region whole = {0, 0, 8, 2};
  const uint8_t second[4] = {9, 8, 7, 6};
  s->FillRegion(s, 0, &whole, second);
  after = Snapshot(t, 0);
  for (uint32_t code = 0; code < 24; ++code) EXPECT_EQ(0, memcmp(&after[code * 4], second, 4)) << code;
  FreeTestSurface(&t);
}

// Clears of 16-pixel tile rows (64 bytes of a 4-byte format) take their own
// short path: the region and nothing else is written, at every offset.
TEST(TexelFunctions, LinearTileRowFillsWriteTheRegionOnly) {
  std::mt19937 rng(9);
  TestSurface t;
  ASSERT_EQ(0, BuildTestSurface(&t, Fp32, 1, 40, 20, 1, 0, 1, &rng));
  Surface* s = &t.surface;
  std::vector<uint8_t> model = Snapshot(t, 0);
  for (int i = 0; i < 40; ++i) {
    const Region r = {static_cast<uint32_t>(rng() % 25), static_cast<uint32_t>(rng() % 20), 16,
                      1 + static_cast<uint32_t>(rng() % 16)};
    Region clipped = r;
    if (clipped.y + clipped.height > 20) clipped.height = 20 - clipped.y;
    uint8_t element[4];
    for (uint8_t& b : element) b = static_cast<uint8_t>(rng());
    s->FillRegion(s, 0, &clipped, element);
    ModelFill(t, 0, clipped, element, model);
    ASSERT_EQ(model, Snapshot(t, 0)) << r.x << "," << r.y << " height " << clipped.height;
  }
  FreeTestSurface(&t);
}

} // namespace
