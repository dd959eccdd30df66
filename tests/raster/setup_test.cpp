// Set-up coverage against exact geometry, culling and facing, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "tests/raster/coverage_run_harness.h"

namespace {

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
