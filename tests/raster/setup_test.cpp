// Viewport block, tile table, list sort, set-up coverage and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "tests/raster/coverage_run.h"

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

// ---- ListSort ------------------------------------------------------------------

void CheckListSort(const std::vector<uint32_t>& keys, SortOrder::Value order) {
  std::vector<TileNode> nodes(keys.size() + 1);
  TileNode* sentinel = &nodes[0];
  sentinel->key = 0;
  sentinel->entry = nullptr;
  TileNode* prev = sentinel;
  for (size_t i = 0; i < keys.size(); i++) {
    TileNode* n = &nodes[i + 1];
    n->key = keys[i];
    n->entry = reinterpret_cast<TileEntry*>(i + 1); // identity for stability
    prev->next = n;
    prev = n;
  }
  prev->next = nullptr;
  std::vector<std::pair<uint32_t, uintptr_t>> want;
  for (size_t i = 0; i < keys.size(); i++) want.push_back({keys[i], i + 1});
  if (order == SortOrder::Ascending) std::stable_sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.first < b.first; });
  else std::stable_sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.first > b.first; });
  ListSort(sentinel, order);
  size_t i = 0;
  for (TileNode* p = sentinel->next; p; p = p->next, i++) {
    ASSERT_LT(i, want.size());
    ASSERT_EQ(p->key, want[i].first) << "size " << keys.size() << " at " << i;
    ASSERT_EQ((uintptr_t)p->entry, want[i].second) << "size " << keys.size() << " at " << i;
  }
  ASSERT_EQ(i, want.size());
}

TEST(ListSort, MatchesStableSortForEverySmallSizeAndLargeLists) {
  std::mt19937 rng(11);
  // 0 is no order of the list: it sorts descending like Descending.
  for (SortOrder::Value mode : {SortOrder::Ascending, SortOrder::Descending, SortOrder::Value(0)}) {
    for (size_t n = 0; n <= 40; n++) {
      for (int rep = 0; rep < 30; rep++) {
        std::vector<uint32_t> keys(n);
        uint32_t spread = rep % 3 == 0 ? 4 : (rep % 3 == 1 ? 0xFFFFFFFFu : 300);
        for (auto& k : keys) k = (spread == 0xFFFFFFFFu) ? (uint32_t)rng() : (uint32_t)(rng() % spread) << (rep % 24);
        CheckListSort(keys, mode);
      }
    }
    for (size_t n : {100, 1000, 5000}) {
      std::vector<uint32_t> keys(n);
      for (auto& k : keys) k = (uint32_t)rng() & 0xF0F000FFu; // ties in every byte
      CheckListSort(keys, mode);
    }
    // Already sorted, reversed, all equal.
    std::vector<uint32_t> keys(37);
    for (size_t i = 0; i < keys.size(); i++) keys[i] = (uint32_t)i * 77;
    CheckListSort(keys, mode);
    std::reverse(keys.begin(), keys.end());
    CheckListSort(keys, mode);
    std::fill(keys.begin(), keys.end(), 5u);
    CheckListSort(keys, mode);
  }
}

// ---- Coverage ----------------------------------------------------------------------

TEST(Coverage, RandomTrianglesMatchExactGeometry) {
  CoverageStats st = RunCoverage(20000, 1234, 2);
  printf("%llu triangles, %llu pixels checked, %llu covered, %llu in the near/far band\n", (unsigned long long)st.triangles,
         (unsigned long long)st.pixelsChecked, (unsigned long long)st.pixelsCovered, (unsigned long long)st.banded);
  EXPECT_EQ(st.mismatches, 0u);
  EXPECT_EQ(st.outside, 0);
  EXPECT_GT(st.pixelsCovered, st.triangles); // not vacuous
  EXPECT_LT(st.banded * 50, st.pixelsChecked);
}

// A single triangle, counting its pixels through the blend stage.
struct SingleDraw {
  TestScene scene;
  std::vector<uint16_t> counts;
  std::atomic<int32_t> outside{0};
  HitGrid grid;
  SingleDraw(int32_t w, int32_t h) {
    SceneInit(&scene, 1, 4ull << 20);
    SceneViewport(&scene, 0, 0, w, h);
    counts.assign((size_t)w * h, 0);
    grid = HitGrid{counts.data(), 0, 0, w, h, &outside};
  }
  ~SingleDraw() { SceneDestroy(&scene); }
  uint32_t Draw(const TestVertex v[3], int32_t cull = CullMode::CullNone, int32_t frontFace = 2) {
    std::fill(counts.begin(), counts.end(), 0);
    std::vector<TestVertex> vertices(v, v + 3);
    std::vector<TestTriangle> tris = {TestTriangle{{0, 1, 2}, 0}};
    std::vector<PipelineState> ps(1, DefaultPipeline());
    ps[0].depthTestEnable = 0;
    ps[0].cullMode = CullMode::Value(cull);
    ps[0].frontFace = frontFace;
    ps[0].blendStage = HitBs();
    ps[0].blendConstants.data = &grid;
    SceneDraw(&scene, vertices, tris, ps);
    uint32_t total = 0;
    for (uint16_t c : counts) total += c;
    return total;
  }
};

TestVertex V(float x, float y, float z, float w) {
  TestVertex v;
  memset(&v, 0, sizeof(v));
  v.x = x;
  v.y = y;
  v.z = z;
  v.w = w;
  return v;
}

TEST(Coverage, BadVerticesDrawNothing) {
  SingleDraw d(64, 64);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float big = 3.0e38f, tiny = 1.0e-40f;
  const TestVertex good[3] = {V(-1, -1, 0, 1), V(1, -1, 0, 1), V(-1, 1, 0, 1)};
  ASSERT_GT(d.Draw(good), 100u);
  for (float bad : {nan, inf, -inf}) {
    for (int vertex = 0; vertex < 3; vertex++)
      for (int comp = 0; comp < 4; comp++) {
        TestVertex v[3] = {good[0], good[1], good[2]};
        (&v[vertex].x)[comp] = bad;
        EXPECT_EQ(d.Draw(v), 0u) << vertex << " " << comp;
      }
  }
  // Degenerate: collinear, repeated, all zero, denormal, huge.
  const TestVertex collinear[3] = {V(-1, -1, 0, 1), V(0, 0, 0, 1), V(1, 1, 0, 1)};
  EXPECT_EQ(d.Draw(collinear), 0u);
  const TestVertex repeated[3] = {V(0.5f, 0.5f, 0, 1), V(0.5f, 0.5f, 0, 1), V(-1, 1, 0, 1)};
  EXPECT_EQ(d.Draw(repeated), 0u);
  const TestVertex zeros[3] = {V(0, 0, 0, 0), V(0, 0, 0, 0), V(0, 0, 0, 0)};
  EXPECT_EQ(d.Draw(zeros), 0u);
  const TestVertex denormal[3] = {V(tiny, 0, 0, tiny), V(0, tiny, 0, tiny), V(-tiny, -tiny, 0, tiny)};
  d.Draw(denormal); // anything, but no fault
  // Far into the guard band: the upper-left half of the screen, without the
  // diagonal (a right-hand edge).
  const TestVertex guard[3] = {V(-1000, -1000, 0, 1), V(1000, -1000, 0, 1), V(-1000, 1000, 0, 1)};
  EXPECT_EQ(d.Draw(guard), 64u * 64u / 2u - 32u);
  const TestVertex huge[3] = {V(-big, -big, 0, 1), V(big, -big, 0, 1), V(-big, big, 0, 1)};
  EXPECT_LE(d.Draw(huge), 64u * 64u);
  const TestVertex huge2[3] = {V(-big, -big, 0, big), V(big, -big, 0, big), V(-big, big, 0, tiny)};
  d.Draw(huge2);
  // Entirely behind the eye: nothing.
  const TestVertex behind[3] = {V(-1, -1, 0, -1), V(1, -1, 0, -1), V(-1, 1, 0, -1)};
  EXPECT_EQ(d.Draw(behind), 0u);
  EXPECT_EQ(d.outside.load(), 0);
}

TEST(Coverage, EmptyViewportsDrawNothing) {
  for (auto vp : std::vector<std::array<int32_t, 4>>{{0, 0, 0, 0}, {0, 0, 64, 0}, {-8, 0, 64, 64}, {2040, 0, 64, 64}}) {
    TestScene scene;
    SceneInit(&scene, 2, 4ull << 20);
    SceneViewport(&scene, vp[0], vp[1], vp[2], vp[3]);
    std::vector<uint16_t> counts(64 * 64);
    std::atomic<int32_t> outside{0};
    HitGrid grid = {counts.data(), 0, 0, 64, 64, &outside};
    std::vector<TestVertex> v = {V(-1, -1, 0, 1), V(3, -1, 0, 1), V(-1, 3, 0, 1)};
    std::vector<TestTriangle> t = {TestTriangle{{0, 1, 2}, 0}};
    std::vector<PipelineState> ps(1, DefaultPipeline());
    ps[0].blendStage = HitBs();
    ps[0].blendConstants.data = &grid;
    SceneDraw(&scene, v, t, ps);
    uint32_t total = 0;
    for (uint16_t c : counts) total += c;
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(outside.load(), 0);
    SceneDestroy(&scene);
  }
}

TEST(Coverage, CullingAndFacing) {
  SingleDraw d(32, 32);
  const TestVertex t[3] = {V(-1, -1, 0, 1), V(1, -1, 0, 1), V(-1, 1, 0, 1)};
  const TestVertex mirror[3] = {t[0], t[2], t[1]};
  uint32_t full = d.Draw(t);
  ASSERT_GT(full, 0u);
  EXPECT_EQ(d.Draw(mirror), full);
  EXPECT_EQ(d.Draw(t, CullMode::CullAll), 0u);
  EXPECT_EQ(d.Draw(mirror, CullMode::CullAll), 0u);
  // Back-face culling keeps exactly one of the two, front culling the other,
  // and swapping the front-face word swaps them.
  for (int32_t frontFace : {1, 2}) {
    uint32_t a = d.Draw(t, CullMode::CullBack, frontFace), b = d.Draw(mirror, CullMode::CullBack, frontFace);
    EXPECT_EQ(a + b, full);
    EXPECT_TRUE(a == 0 || b == 0);
    uint32_t c = d.Draw(t, 7, frontFace), e = d.Draw(mirror, 7, frontFace);
    EXPECT_EQ(c, b);
    EXPECT_EQ(e, a);
    uint32_t f = d.Draw(t, CullMode::CullBack, 3 - frontFace);
    EXPECT_EQ(f, b);
  }
}

TEST(Coverage, HorizontalEdgeBelongsToTheTriangleBelow) {
  // Two triangles sharing a horizontal edge through a row of pixel centres
  // (y = 8.5 in pixels): the row goes to the lower triangle only.
  SingleDraw d(16, 16);
  const RenderState* s = &d.scene.state;
  TestVertex up[3], down[3];
  float x, y;
  PixelToClip(s, 0.5, 8.5, 1, &x, &y); up[0] = V(x, y, 0, 1);
  PixelToClip(s, 15.5, 8.5, 1, &x, &y); up[1] = V(x, y, 0, 1);
  PixelToClip(s, 8.0, 0.5, 1, &x, &y); up[2] = V(x, y, 0, 1);
  down[0] = up[0];
  down[1] = up[1];
  PixelToClip(s, 8.0, 15.5, 1, &x, &y); down[2] = V(x, y, 0, 1);
  d.Draw(up);
  std::vector<uint16_t> upper = d.counts;
  d.Draw(down);
  for (int32_t px = 1; px < 15; px++) {
    EXPECT_EQ(upper[8 * 16 + px], 0u) << px;
    EXPECT_EQ(d.counts[8 * 16 + px], 1u) << px;
  }
  EXPECT_EQ(upper[7 * 16 + 8], 1u);
}

TEST(Coverage, VertexBehindTheEyeIsCutAtTheNearPlane) {
  // One vertex behind the eye (w < 0, z < -w). The visible part is bounded
  // by the line where the triangle's plane meets z = -w: check against the
  // exact reference on a fine viewport.
  SingleDraw d(128, 128);
  ExactTriangle t;
  TestVertex v[3];
  MakeExactVertex(-4000, -4000, 8000, 0, 0, &v[0], &t, 0);
  MakeExactVertex(4000, -3000, 8000, 4000, 0, &v[1], &t, 1);
  MakeExactVertex(1000, 6000, -2000, -8000, 0, &v[2], &t, 2);
  ReferenceTriangle r;
  PrepareReference(t, &r);
  ASSERT_TRUE(r.nearPlane);
  d.Draw(v);
  uint32_t covered = 0, banded = 0;
  for (int32_t y = 0; y < 128; y++)
    for (int32_t x = 0; x < 128; x++) {
      int32_t want = ReferenceCoverage(&d.scene.state, r, x, y);
      if (want < 0) {
        banded++;
        continue;
      }
      covered += want;
      ASSERT_EQ(d.counts[y * 128 + x], (uint16_t)want) << x << "," << y;
    }
  EXPECT_GT(covered, 1000u);
  EXPECT_LT(banded, 200u);
}

} // namespace
