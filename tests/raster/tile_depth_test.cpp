// Depth test, tile-level depth shortcuts and draw order, against a
// per-pixel reference that draws the same triangles one pixel at a time.
#include <algorithm>
#include <cmath>

#include "tests/raster/tile_harness.h"

namespace {

struct DepthScene {
  std::vector<TestVertex> vertices;
  std::vector<TestTriangle> triangles;
  std::vector<ExactTriangle> exact;
  std::vector<float> depth; // window depth of each (flat) triangle
  std::vector<float> ids;
  std::vector<PipelineState> pipelines;
};

// Flat triangles (z/w constant) at depths k/32 + 0.5, exactly representable,
// so the fragment depth is known exactly. Sizes from sub-tile to several
// times the screen.
void MakeFlatScene(TriangleGen& g, uint32_t count, const RenderState* s, int32_t func, DepthScene* d, int32_t levels = 6) {
  d->ids.resize(count);
  d->exact.resize(count);
  d->depth.resize(count);
  d->pipelines.resize(count);
  for (uint32_t i = 0; i < count; i++) {
    int32_t k = (int32_t)g.Int(-levels, levels) * 2; // few levels: plenty of equal depths
    double zc = k / 16.0;
    double size = std::pow(10.0, g.Uniform(-1.3, 0.7));
    double cx = g.Uniform(-1, 1), cy = g.Uniform(-1, 1);
    for (int v = 0; v < 3; v++) {
      int64_t W = g.Int(1000, 5000);
      int64_t X = g.Clamp14((cx + g.Uniform(-size, size)) * W);
      int64_t Y = g.Clamp14((cy + g.Uniform(-size, size)) * W);
      TestVertex tv;
      MakeExactVertex(X, Y, W, (float)(zc * W), 0, &tv, &d->exact[i], v);
      d->vertices.push_back(tv);
    }
    d->triangles.push_back(TestTriangle{{3 * i, 3 * i + 1, 3 * i + 2}, i});
    d->depth[i] = (float)(s->depthScale * zc + s->depthOffset);
    d->ids[i] = (float)(i + 1);
    PipelineState& p = d->pipelines[i];
    p = DefaultPipeline();
    p.depthCompare = CompareFunction::Value(func);
    p.depthTestEnable = g.Int(0, 9) != 0;
    p.fragmentStage = IdFs();
    p.fragmentConstants.data = &d->ids[i];
  }
}

// Sloped triangles, some crossing the near and far planes.
void MakeSlopedScene(TriangleGen& g, uint32_t count, int32_t func, DepthScene* d) {
  d->ids.resize(count);
  d->pipelines.resize(count);
  for (uint32_t i = 0; i < count; i++) {
    // The first few cover the whole screen, so whole tiles get written.
    double size = i < 12 ? 4.0 : std::pow(10.0, g.Uniform(-1.3, 0.7));
    double cx = i < 12 ? 0.0 : g.Uniform(-1, 1), cy = i < 12 ? 0.0 : g.Uniform(-1, 1);
    for (int v = 0; v < 3; v++) {
      TestVertex tv;
      memset(&tv, 0, sizeof(tv));
      float w = (float)g.Uniform(0.3, 3);
      tv.x = (float)((cx + g.Uniform(-size, size)) * w);
      tv.y = (float)((cy + g.Uniform(-size, size)) * w);
      tv.z = (float)(g.Uniform(-1.2, 1.2) * w);
      tv.w = w;
      d->vertices.push_back(tv);
    }
    d->triangles.push_back(TestTriangle{{3 * i, 3 * i + 1, 3 * i + 2}, i});
    d->ids[i] = (float)(i + 1);
    PipelineState& p = d->pipelines[i];
    p = DefaultPipeline();
    p.depthCompare = CompareFunction::Value(func);
    p.depthTestEnable = g.Int(0, 9) != 0;
    p.fragmentStage = IdFs();
    p.fragmentConstants.data = &d->ids[i];
  }
}

bool ReferencePasses(int32_t func, float z, float stored) {
  switch (func) {
  case CompareFunction::Never: return false;
  case CompareFunction::Always: return true;
  case CompareFunction::Less: return z < stored;
  case CompareFunction::LessEqual: return z <= stored;
  case CompareFunction::Equal: return z == stored;
  case CompareFunction::Greater: return z > stored;
  case CompareFunction::GreaterEqual: return z >= stored;
  case CompareFunction::NotEqual: return z != stored;
  }
  return false;
}

// Starting contents: a pending clear, or a loaded depth buffer of 8x8
// blocks at random levels.
void Prime(TargetScene* t, TriangleGen& g, int32_t variant, std::vector<float>* refDepth, std::vector<float>* refColor) {
  refDepth->assign((size_t)t->width * t->height, 0);
  refColor->assign((size_t)t->width * t->height, 0);
  if (variant == 0) {
    float z = (float)(g.Int(-6, 6) * 2) / 32.0f + 0.5f;
    t->ClearDepth(z);
    float c = -1.0f;
    t->ClearColor(&c, 4);
    std::fill(refDepth->begin(), refDepth->end(), z);
    std::fill(refColor->begin(), refColor->end(), c);
    return;
  }
  std::vector<float> levels((size_t)((t->width + 7) / 8) * ((t->height + 7) / 8));
  for (float& l : levels) l = (float)(g.Int(-6, 6) * 2) / 32.0f + 0.5f;
  for (int32_t y = 0; y < t->height; y++)
    for (int32_t x = 0; x < t->width; x++) {
      float z = levels[(size_t)(y / 8) * ((t->width + 7) / 8) + x / 8];
      float c = -2.0f;
      t->depth.StoreElement(&t->depth, 0, (uint32_t)x, (uint32_t)y, &z);
      t->color.StoreElement(&t->color, 0, (uint32_t)x, (uint32_t)y, &c);
      (*refDepth)[(size_t)y * t->width + x] = z;
      (*refColor)[(size_t)y * t->width + x] = c;
    }
}

// Draws the scene in two tile passes (the second loads what the first stored).
void DrawInTwoPasses(TargetScene* t, const DepthScene& d) {
  size_t half = d.triangles.size() / 2;
  std::vector<TestTriangle> first(d.triangles.begin(), d.triangles.begin() + half);
  std::vector<TestTriangle> second(d.triangles.begin() + half, d.triangles.end());
  SceneDraw(&t->scene, d.vertices, first, d.pipelines);
  SceneDraw(&t->scene, d.vertices, second, d.pipelines);
}

const int32_t kFunctions[] = {CompareFunction::Never, CompareFunction::Less, CompareFunction::Equal, CompareFunction::LessEqual, CompareFunction::Greater, CompareFunction::NotEqual, CompareFunction::GreaterEqual, CompareFunction::Always};

TEST(TileDepth, EveryCompareFunctionMatchesThePerPixelReference) {
  const int32_t W = 100, H = 75; // partial tiles on the right and bottom
  TriangleGen g(2024);
  uint64_t drawn = 0;
  for (int32_t func : kFunctions) {
    for (int32_t variant = 0; variant < 2; variant++) {
      for (int32_t fast = 1; fast >= 0; fast--) {
        for (int32_t nearFar = 0; nearFar < 2; nearFar++) {
          TargetScene t(1, W, H, Fp32);
          SceneViewport(&t.scene, 0, 0, W, H, nearFar ? 1.0f : 0.0f, nearFar ? 0.0f : 1.0f);
          uint64_t seed = g.rng();
          TriangleGen sg(seed);
          std::vector<float> refDepth, refColor;
          Prime(&t, sg, variant, &refDepth, &refColor);
          DepthScene d;
          MakeFlatScene(sg, 160, &t.scene.state, func, &d, nearFar ? 1 : 6);
          SetTileFastPathsForTest(fast);
          DrawInTwoPasses(&t, d);
          SetTileFastPathsForTest(1);
          // Reference: every pixel, every triangle in submission order.
          std::vector<ReferenceTriangle> refs(d.exact.size());
          for (size_t i = 0; i < refs.size(); i++) PrepareReference(d.exact[i], &refs[i]);
          uint32_t bad = 0;
          for (int32_t y = 0; y < H; y++)
            for (int32_t x = 0; x < W; x++) {
              float& z = refDepth[(size_t)y * W + x];
              float& c = refColor[(size_t)y * W + x];
              for (size_t i = 0; i < refs.size(); i++) {
                if (ReferenceCoverage(&t.scene.state, refs[i], x, y) != 1) continue;
                if (d.pipelines[i].depthTestEnable) {
                  if (!ReferencePasses(func, d.depth[i], z)) continue;
                  z = d.depth[i];
                }
                c = d.ids[i];
                drawn++;
              }
              float gotZ = t.DepthAt(x, y), gotC;
              t.ColorAt(x, y, &gotC);
              if ((gotZ != z || gotC != c) && bad++ < 3)
                ADD_FAILURE() << "function " << func << " variant " << variant << " fast " << fast << " pixel " << x
                              << "," << y << " depth " << gotZ << " want " << z << " id " << gotC << " want " << c;
            }
          ASSERT_EQ(bad, 0u);
        }
      }
    }
  }
  EXPECT_GT(drawn, 100000u);
}

TEST(TileDepth, ShortcutsGiveTheSameImagesAsThePerPixelPathOnSlopedTriangles) {
  const int32_t W = 120, H = 90;
  TriangleGen g(77);
  for (int32_t func : std::initializer_list<int32_t>{CompareFunction::Never, CompareFunction::Less, CompareFunction::Equal, CompareFunction::LessEqual, CompareFunction::Greater, CompareFunction::NotEqual, CompareFunction::GreaterEqual, CompareFunction::Always, 0, 42}) {
    for (int32_t variant = 0; variant < 2; variant++) {
      uint64_t seed = g.rng();
      std::vector<uint8_t> depth[2], color[2];
      for (int32_t fast = 0; fast < 2; fast++) {
        TargetScene t(2, W, H, Fp32);
        SceneViewport(&t.scene, 0, 0, W, H, variant ? 1.0f : 0.0f, variant ? 0.0f : 1.0f);
        TriangleGen sg(seed);
        std::vector<float> refDepth, refColor;
        Prime(&t, sg, variant, &refDepth, &refColor);
        DepthScene d;
        MakeSlopedScene(sg, 200, func, &d);
        SetTileFastPathsForTest(fast);
        // One set-up job per pass keeps the bin order fixed across runs.
        for (size_t i = 0; i < d.triangles.size(); i += 16) {
          std::vector<TestTriangle> part(d.triangles.begin() + i, d.triangles.begin() + std::min(i + 16, d.triangles.size()));
          SceneDraw(&t.scene, d.vertices, part, d.pipelines);
        }
        SetTileFastPathsForTest(1);
        depth[fast] = t.Bytes(t.depth);
        color[fast] = t.Bytes(t.color);
      }
      EXPECT_TRUE(depth[0] == depth[1]) << "function " << func << " variant " << variant;
      EXPECT_TRUE(color[0] == color[1]) << "function " << func << " variant " << variant;
    }
  }
}

TEST(TileDepth, SortModesOrderTrianglesByDepthWithinEachTile) {
  const int32_t W = 64, H = 48;
  struct Case {
    int32_t mode;
    float depthNear, depthFar;
    int32_t order; // 1 ascending, -1 descending, 0 submission
  };
  const Case cases[] = {{2, 0, 1, 1}, {2, 1, 0, -1}, {3, 0, 1, -1}, {3, 1, 0, 1}, {0, 0, 1, 0}, {1, 1, 0, 0}, {5, 0, 1, 0}};
  TriangleGen g(5);
  for (const Case& c : cases) {
    TargetScene t(1, W, H, Fp32);
    SceneViewport(&t.scene, 0, 0, W, H, c.depthNear, c.depthFar);
    t.scene.state.sortMode = SortMode::Value(c.mode);
    t.ClearDepth(0.5f);
    float clear = -1;
    t.ClearColor(&clear, 4);
    DepthScene d;
    MakeFlatScene(g, 120, &t.scene.state, CompareFunction::Always, &d);
    for (PipelineState& p : d.pipelines) p.depthTestEnable = 1;
    SceneDraw(&t.scene, d.vertices, d.triangles, d.pipelines);
    // The last triangle in the expected order wins every pixel it covers.
    std::vector<size_t> order(d.triangles.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    if (c.order > 0) std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return d.depth[a] < d.depth[b]; });
    if (c.order < 0) std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return d.depth[a] > d.depth[b]; });
    std::vector<ReferenceTriangle> refs(d.exact.size());
    for (size_t i = 0; i < refs.size(); i++) PrepareReference(d.exact[i], &refs[i]);
    uint32_t bad = 0;
    for (int32_t y = 0; y < H; y++)
      for (int32_t x = 0; x < W; x++) {
        float want = clear;
        for (size_t i : order)
          if (ReferenceCoverage(&t.scene.state, refs[i], x, y) == 1) want = d.ids[i];
        float got;
        t.ColorAt(x, y, &got);
        if (got != want && bad++ < 3)
          ADD_FAILURE() << "mode " << c.mode << " near " << c.depthNear << " pixel " << x << "," << y << " got " << got
                        << " want " << want;
      }
    EXPECT_EQ(bad, 0u);
  }
}

// Window depth at a pixel centre from first principles: the barycentric
// weights of the centre in clip space (its point with w = 1), z/w there
// interpolated with them, mapped from [-1, 1] onto [near, far] and kept
// within that range. Returns 0 for a degenerate triangle.
int32_t ReferenceDepth(const RenderState* s, const TestVertex* v[3], int32_t px, int32_t py, double* depth) {
  double lambda[3];
  if (!ReferenceLambda(s, v, px, py, lambda)) return 0;
  double zndc = lambda[0] * v[0]->z + lambda[1] * v[1]->z + lambda[2] * v[2]->z;
  double n = s->depthNear, f = s->depthFar;
  double d = n + (f - n) * (zndc + 1) / 2;
  *depth = std::clamp(d, std::min(n, f), std::max(n, f));
  return 1;
}

// Triangles with vertices behind the eye (w < 0) or across the near and far
// planes, drawn one at a time with Always: every covered pixel stores the
// depth of the triangle's own plane there.
TEST(TileDepth, TrianglesReachingBehindTheEyeStoreTheirBarycentricDepth) {
  const int32_t W = 64, H = 64;
  const float kUntouched = -5.0f;
  struct Shape {
    TestVertex v[3];
    ExactTriangle exact;
  };
  std::vector<Shape> shapes(1);
  // One vertex at w = -1 on the eye's axis, the other two in front at z/w = 0.5.
  MakeExactVertex(0, 0, -1, 0.0f, 0, &shapes[0].v[0], &shapes[0].exact, 0);
  MakeExactVertex(1, 0, 2, 1.0f, -1, &shapes[0].v[1], &shapes[0].exact, 1);
  MakeExactVertex(0, 1, 2, 1.0f, -1, &shapes[0].v[2], &shapes[0].exact, 2);
  TriangleGen g(4711);
  while (shapes.size() < 400) {
    Shape sh;
    do sh = Shape{}, g.Make(sh.v, &sh.exact);
    while (sh.exact.W[0] > 0 && sh.exact.W[1] > 0 && sh.exact.W[2] > 0 && std::fabs(sh.v[0].z) <= sh.v[0].w &&
           std::fabs(sh.v[1].z) <= sh.v[1].w && std::fabs(sh.v[2].z) <= sh.v[2].w);
    shapes.push_back(sh);
  }
  float id = 1.0f;
  PipelineState p = DefaultPipeline();
  p.fragmentStage = IdFs();
  p.fragmentConstants.data = &id;
  std::vector<PipelineState> pipelines(1, p);
  std::vector<TestTriangle> triangle(1, TestTriangle{{0, 1, 2}, 0});
  uint64_t covered = 0, bad = 0;
  for (int32_t range = 0; range < 2; range++)
    for (int32_t fast = 0; fast < 2; fast++) {
      TargetScene t(1, W, H, Fp32);
      SceneViewport(&t.scene, 0, 0, W, H, range ? 1.0f : 0.0f, range ? 0.0f : 1.0f);
      SetTileFastPathsForTest(fast);
      for (size_t k = 0; k < shapes.size(); k++) {
        const Shape& sh = shapes[k];
        t.ClearDepth(kUntouched);
        SceneDraw(&t.scene, std::vector<TestVertex>(sh.v, sh.v + 3), triangle, pipelines);
        ReferenceTriangle ref;
        PrepareReference(sh.exact, &ref);
        const TestVertex* v[3] = {&sh.v[0], &sh.v[1], &sh.v[2]};
        for (int32_t y = 0; y < H; y++)
          for (int32_t x = 0; x < W; x++) {
            int32_t in = ReferenceCoverage(&t.scene.state, ref, x, y);
            float got = t.DepthAt(x, y);
            double want;
            if (in != 1 || got == kUntouched || !ReferenceDepth(&t.scene.state, v, x, y, &want)) continue;
            covered++;
            if (std::fabs(got - want) > 2e-4 && bad++ < 5)
              ADD_FAILURE() << "triangle " << k << " range " << range << " fast " << fast << " pixel " << x << ","
                            << y << " stored " << got << " want " << want;
          }
      }
      SetTileFastPathsForTest(1);
    }
  EXPECT_EQ(bad, 0u);
  EXPECT_GT(covered, 100000u);
}

} // namespace
