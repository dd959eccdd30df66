// The viewport block (the smallest aligned Morton range around a viewport),
// its edges, the tile corner table and the tile jobs a viewport makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "tests/raster/raster_harness.h"

namespace {

uint32_t Interleave(uint32_t x, uint32_t y) { return MortonCode(x, y); }

// ---- Viewport block and tile table ------------------------------------------

TEST(ViewportBlock, FullFrameAndHalfFrame) {
  RenderState s;
  memset(&s, 0, sizeof(s));
  DeriveViewport(&s, 0, 0, 640, 480);
  EXPECT_EQ(s.tileFirst, 0u);
  EXPECT_EQ(s.tileEnd, 0x80000u);
  EXPECT_EQ(s.blockLevel, 10u);
  EXPECT_EQ(s.blockX, 0u);
  EXPECT_EQ(s.blockY, 0u);
  EXPECT_FLOAT_EQ(s.halfWidth, 320.0f);
  EXPECT_FLOAT_EQ(s.centreY, 240.0f);
  EXPECT_FLOAT_EQ(s.rcpHalfHeight, 1.0f / 240.0f);
  DeriveViewport(&s, 0, 0, 320, 240);
  EXPECT_EQ(s.tileEnd - s.tileFirst, 1u << 17);
  EXPECT_EQ(s.blockLevel, 9u);

  DeriveDepthRange(&s, 1.0f, 0.0f);
  EXPECT_EQ(s.depthMin, 0.0f);
  EXPECT_EQ(s.depthMax, 1.0f);
  EXPECT_EQ(s.depthScale, -0.5f);
  EXPECT_EQ(s.depthOffset, 0.5f);
}

TEST(ViewportBlock, SmallestAlignedRangeAndEdgesMatchBruteForce) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 400; iter++) {
    int32_t x = (int32_t)(rng() % 600), y = (int32_t)(rng() % 600);
    int32_t w = 1 + (int32_t)(rng() % 200), h = 1 + (int32_t)(rng() % 200);
    RenderState s;
    memset(&s, 0, sizeof(s));
    DeriveViewport(&s, x, y, w, h);
    // Smallest aligned 2^k range (k >= 8) holding every code of every tile
    // the viewport touches.
    uint32_t lo = UINT32_MAX, hi = 0;
    for (int32_t py = y; py < y + h; py++)
      for (int32_t px = x; px < x + w; px++) {
        uint32_t c = Interleave((uint32_t)px, (uint32_t)py);
        lo = std::min(lo, c & ~0xFFu);
        hi = std::max(hi, c | 0xFFu);
      }
    uint32_t k = 8;
    while ((lo >> k) != (hi >> k)) k++;
    ASSERT_EQ(s.tileFirst, lo & ~((1u << k) - 1)) << x << "," << y << "," << w << "," << h;
    ASSERT_EQ(s.tileEnd, s.tileFirst + (1u << k));
    ASSERT_EQ(s.blockLevel, (k + 1) / 2);
    ASSERT_EQ(Interleave(s.blockX, s.blockY), s.tileFirst);
    // The four viewport edges select exactly the viewport's pixels.
    for (int32_t py = y - 3; py < y + h + 3; py += 1)
      for (int32_t px = x - 3; px < x + w + 3; px += (py < y || py >= y + h) ? 1 : std::max(1, w + 5)) {
        bool inside = true;
        for (int e = 0; e < 4; e++) {
          const EdgeEquation& q = s.viewportEdges[e];
          int64_t E = (int64_t)q.a * 2 * h * px + (int64_t)q.b * 2 * w * py + q.c;
          inside = inside && E >= 0;
        }
        bool want = px >= x && px < x + w && py >= y && py < y + h;
        ASSERT_EQ(inside, want) << "pixel " << px << "," << py;
      }
  }
}

TEST(ViewportBlock, InvalidViewportsHaveNoTiles) {
  const int32_t cases[][4] = {{0, 0, 0, 10}, {0, 0, 10, 0}, {0, 0, -5, 10}, {-1, 0, 10, 10},
                              {0, 0, 2049, 10}, {2000, 0, 100, 10}, {0, 0, INT32_MAX, INT32_MAX}};
  for (const auto& c : cases) {
    RenderState s;
    memset(&s, 0, sizeof(s));
    DeriveViewport(&s, c[0], c[1], c[2], c[3]);
    EXPECT_EQ(s.tileFirst, s.tileEnd);
  }
}

TEST(MortonTileTable, CornersMatchTheInterleavedCodes) {
  FillMortonTileTable();
  for (uint32_t t = 0; t < kTileCount; t++) {
    const float* e = MortonTileTable[t];
    uint32_t x = (uint32_t)e[0], y = (uint32_t)e[1];
    ASSERT_EQ(x % 16, 0u);
    ASSERT_EQ(y % 16, 0u);
    ASSERT_EQ(Interleave(x, y), t << 8);
    ASSERT_EQ(Interleave(x + 15, y + 15), (t << 8) | 0xFF);
    ASSERT_EQ(e[2], e[0] + 15);
    ASSERT_EQ(e[3], e[1]);
    ASSERT_EQ(e[4], e[0]);
    ASSERT_EQ(e[5], e[1] + 15);
    ASSERT_EQ(e[6], e[0] + 15);
    ASSERT_EQ(e[7], e[1] + 15);
  }
}

TEST(TilePass, OneJobPerTileTheViewportTouches) {
  const int32_t cases[][4] = {{0, 0, 320, 240}, {0, 0, 640, 480}, {5, 9, 17, 33}, {300, 200, 1, 1}, {16, 16, 16, 16}};
  const int32_t expected[] = {300, 1200, 2 * 3, 1, 1};
  for (int i = 0; i < 5; i++) {
    TestScene scene;
    SceneInit(&scene, 1, 8ull << 20);
    SceneViewport(&scene, cases[i][0], cases[i][1], cases[i][2], cases[i][3]);
    SceneFlushClears(&scene);
    EXPECT_EQ(scene.binner.tileJobCount, (uint32_t)expected[i]);
    // In Morton order, each touching the viewport.
    for (uint32_t j = 0; j < scene.binner.tileJobCount; j++) {
      const TileJob& job = scene.binner.tileJobs[j];
      if (j > 0) {
        EXPECT_LT(scene.binner.tileJobs[j - 1].tile, job.tile);
      }
      int32_t tx = (int32_t)MortonTileTable[job.tile][0], ty = (int32_t)MortonTileTable[job.tile][1];
      EXPECT_TRUE(tx < cases[i][0] + cases[i][2] && tx + 16 > cases[i][0] && ty < cases[i][1] + cases[i][3] &&
                  ty + 16 > cases[i][1]);
    }
    SceneDestroy(&scene);
  }
}

} // namespace
