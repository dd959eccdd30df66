// Interpolation, target load / clear / store, linear and Morton targets.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tests/raster/tile_harness.h"

namespace {

// Fragment stage that records what a pixel sees.
struct Capture {
  float values[8];
  float invW, w, depth;
  int32_t facing;
  int32_t hits;
};

struct CaptureGrid {
  Capture* cells;
  int32_t width;
};

PixelRecord** CaptureFsRun(const void* constants, PixelRecord** first, PixelRecord** end) {
  const CaptureGrid* g = static_cast<const CaptureGrid*>(constants);
  for (PixelRecord** it = first; it != end; ++it) {
    const PixelRecord* p = *it;
    Capture& c = g->cells[(int32_t)p->y * g->width + (int32_t)p->x];
    memcpy(c.values, p->interpolated, sizeof(c.values));
    c.invW = p->invW;
    c.w = p->w;
    c.depth = p->fragmentDepth;
    c.facing = p->facing;
    c.hits++;
  }
  return end;
}

// Reads floats 0..2 and 4..7 (a gap at 3), like a stage with two inputs.
const StageDescriptor* CaptureFs() {
  static const StageLayout in = {32, 2, {{0, 3}, {16, 4}}};
  static const StageLayout out = {16, 1, {{0, 4}}};
  static const StageDescriptor d = {reinterpret_cast<StageFunction>(CaptureFsRun), &in, &out, "CaptureFs"};
  return &d;
}

TEST(TileInterpolation, PerspectiveCorrectValuesMatchADoubleReference) {
  const int32_t W = 64, H = 64;
  TargetScene t(2, W, H, Fp32Vec4);
  SceneViewport(&t.scene, 0, 0, W, H, 0.25f, 0.75f);
  TriangleGen g(31);
  std::vector<Capture> cells((size_t)W * H);
  CaptureGrid grid = {cells.data(), W};
  double worst = 0, worstW = 0, worstDepth = 0;
  uint64_t pixels = 0;
  for (int tri = 0; tri < 300; tri++) {
    std::fill(cells.begin(), cells.end(), Capture{});
    std::vector<TestVertex> v(3);
    ExactTriangle ex;
    int32_t k2 = (int32_t)g.Int(-8, 0); // one scale for the triangle
    for (int i = 0; i < 3; i++) {
      int64_t Wi = g.Int(1024, 16383); // perspective: w differs up to 16x
      int64_t X = g.Clamp14(g.Uniform(-1.3, 1.3) * Wi), Y = g.Clamp14(g.Uniform(-1.3, 1.3) * Wi);
      MakeExactVertex(X, Y, Wi, (float)(g.Uniform(-0.9, 0.9) * Wi), k2, &v[i], &ex, i);
      for (uint32_t k = 0; k < kTestOutputFloats; k++) v[i].out[k] = (float)g.Uniform(-10, 10);
    }
    std::vector<TestTriangle> tris = {TestTriangle{{0, 1, 2}, 0}};
    std::vector<PipelineState> ps(1, DefaultPipeline());
    ps[0].depthCompare = CompareFunction::Always;
    ps[0].fragmentStage = CaptureFs();
    ps[0].fragmentConstants.data = &grid;
    ps[0].frontFace = 1;
    SceneDraw(&t.scene, v, tris, ps);
    const TestVertex* vp[3] = {&v[0], &v[1], &v[2]};
    ReferenceTriangle ref;
    PrepareReference(ex, &ref);
    double scale[8];
    for (int k = 0; k < 8; k++)
      scale[k] = std::max({std::fabs(v[0].out[k]), std::fabs(v[1].out[k]), std::fabs(v[2].out[k])});
    for (int32_t y = 0; y < H; y++)
      for (int32_t x = 0; x < W; x++) {
        const Capture& c = cells[(size_t)y * W + x];
        int32_t want = ReferenceCoverage(&t.scene.state, ref, x, y);
        ASSERT_EQ(c.hits, want) << x << "," << y;
        if (!want) continue;
        double lambda[3];
        ASSERT_TRUE(ReferenceLambda(&t.scene.state, vp, x, y, lambda));
        double sum = lambda[0] + lambda[1] + lambda[2]; // 1/w at the pixel
        const int slots[7] = {0, 1, 2, 4, 5, 6, 7};
        for (int k : slots) {
          double r = (lambda[0] * v[0].out[k] + lambda[1] * v[1].out[k] + lambda[2] * v[2].out[k]) / sum;
          double err = std::fabs(c.values[k] - r) / scale[k];
          if (err > 2e-4 && getenv("QV_DEBUG_INTERP"))
            printf("tri %d px %d,%d k %d got %.7g want %.7g lambda %g %g %g w %g %g %g pos (%g %g) (%g %g) (%g %g)\n", tri, x, y, k,
                   c.values[k], r, lambda[0], lambda[1], lambda[2], v[0].w, v[1].w, v[2].w, v[0].x / v[0].w, v[0].y / v[0].w,
                   v[1].x / v[1].w, v[1].y / v[1].w, v[2].x / v[2].w, v[2].y / v[2].w);
          worst = std::max(worst, err);
        }
        double wRef = 1.0 / sum;
        worstW = std::max(worstW, std::fabs(c.w - wRef) / wRef);
        double zRef = 0;
        for (int i = 0; i < 3; i++) zRef += lambda[i] * (0.25 * v[i].z + 0.5 * v[i].w);
        worstDepth = std::max(worstDepth, std::fabs(c.depth - zRef));
        pixels++;
      }
  }
  printf("%llu pixels; worst relative error: values %.3g, w %.3g; depth %.3g\n", (unsigned long long)pixels, worst, worstW,
         worstDepth);
  EXPECT_GT(pixels, 20000u);
  EXPECT_LT(worst, 1.0 / 4096);
  EXPECT_LT(worstW, 1.0 / 4096);
  EXPECT_LT(worstDepth, 1.0 / 4096);
}

TEST(TileStages, WithoutStagesTheInterpolatedOutputsBecomeTheColour) {
  const int32_t W = 40, H = 24;
  TargetScene t(1, W, H, Fp32Vec4);
  TriangleGen g(8);
  std::vector<TestVertex> v(3);
  ExactTriangle ex;
  for (int i = 0; i < 3; i++) {
    int64_t Wi = g.Int(2000, 9000);
    MakeExactVertex(g.Clamp14(g.Uniform(-1.5, 1.5) * Wi), g.Clamp14(g.Uniform(-1.5, 1.5) * Wi), Wi, 0.0f, 0, &v[i], &ex, i);
    for (uint32_t k = 0; k < kTestOutputFloats; k++) v[i].out[k] = (float)g.Uniform(0, 1);
  }
  std::vector<PipelineState> ps(1, DefaultPipeline());
  ps[0].depthTestEnable = 0;
  SceneDraw(&t.scene, v, {TestTriangle{{0, 1, 2}, 0}}, ps);
  const TestVertex* vp[3] = {&v[0], &v[1], &v[2]};
  ReferenceTriangle ref;
  PrepareReference(ex, &ref);
  uint32_t covered = 0;
  for (int32_t y = 0; y < H; y++)
    for (int32_t x = 0; x < W; x++) {
      float c[4];
      t.ColorAt(x, y, c);
      if (ReferenceCoverage(&t.scene.state, ref, x, y) != 1) {
        for (int k = 0; k < 4; k++) EXPECT_EQ(c[k], 0.0f);
        continue;
      }
      covered++;
      double lambda[3];
      ReferenceLambda(&t.scene.state, vp, x, y, lambda);
      double sum = lambda[0] + lambda[1] + lambda[2];
      for (int k = 0; k < 4; k++)
        EXPECT_NEAR(c[k], (lambda[0] * v[0].out[k] + lambda[1] * v[1].out[k] + lambda[2] * v[2].out[k]) / sum, 1e-4);
    }
  EXPECT_GT(covered, 50u);
}

// ---- Load, clear and store ---------------------------------------------------

TEST(TileTargets, PendingClearsFillOnlyTheViewport) {
  const int32_t W = 50, H = 37;
  TargetScene t(2, W, H, Unorm8BGRA);
  // Sentinels everywhere, then a viewport with partial tiles on every side.
  for (int32_t y = 0; y < H; y++)
    for (int32_t x = 0; x < W; x++) {
      uint8_t c[4] = {1, 2, 3, 4};
      float z = -7;
      t.color.StoreElement(&t.color, 0, (uint32_t)x, (uint32_t)y, c);
      t.depth.StoreElement(&t.depth, 0, (uint32_t)x, (uint32_t)y, &z);
    }
  SceneViewport(&t.scene, 3, 5, 30, 20);
  t.ClearDepth(0.25f);
  const uint8_t clear[4] = {10, 20, 30, 40};
  t.ClearColor(clear, 4);
  SceneFlushClears(&t.scene); // no triangles at all
  EXPECT_EQ(t.scene.state.depthClearState, kClearNone);
  EXPECT_EQ(t.scene.state.colorClearState[0], kClearNone);
  for (int32_t y = 0; y < H; y++)
    for (int32_t x = 0; x < W; x++) {
      bool inside = x >= 3 && x < 33 && y >= 5 && y < 25;
      uint8_t c[4];
      t.ColorAt(x, y, c);
      EXPECT_EQ(c[0], inside ? 10 : 1) << x << "," << y;
      EXPECT_EQ(c[3], inside ? 40 : 4) << x << "," << y;
      EXPECT_EQ(t.DepthAt(x, y), inside ? 0.25f : -7.0f) << x << "," << y;
    }
}

TEST(TileTargets, DrawnTilesClearLoadAndStoreOnlyInsideTheViewport) {
  const int32_t W = 50, H = 37;
  for (int32_t pass = 0; pass < 2; pass++) {
    TargetScene t(2, W, H, Unorm8BGRA);
    for (int32_t y = 0; y < H; y++)
      for (int32_t x = 0; x < W; x++) {
        uint8_t c[4] = {1, 2, 3, 4};
        float z = 0.9f;
        t.color.StoreElement(&t.color, 0, (uint32_t)x, (uint32_t)y, c);
        t.depth.StoreElement(&t.depth, 0, (uint32_t)x, (uint32_t)y, &z);
      }
    SceneViewport(&t.scene, 3, 5, 30, 20);
    if (pass == 0) {
      t.ClearDepth(0.5f);
      const uint8_t clear[4] = {10, 20, 30, 40};
      t.ClearColor(clear, 4);
    }
    // A left half-screen triangle pair at depth 0.25 with colour (1, 0, 0.5, 1).
    std::vector<TestVertex> v(4);
    const float corners[4][2] = {{-1, -1}, {0, -1}, {-1, 1}, {0, 1}};
    for (int i = 0; i < 4; i++) {
      memset(&v[i], 0, sizeof(v[i]));
      v[i].x = corners[i][0];
      v[i].y = corners[i][1];
      v[i].z = -0.5f;
      v[i].w = 1;
      v[i].out[0] = 1;
      v[i].out[1] = 0;
      v[i].out[2] = 0.5f;
      v[i].out[3] = 1;
    }
    std::vector<PipelineState> ps(1, DefaultPipeline());
    ps[0].depthCompare = CompareFunction::Less;
    SceneDraw(&t.scene, v, {TestTriangle{{0, 1, 2}, 0}, TestTriangle{{1, 3, 2}, 0}}, ps);
    for (int32_t y = 0; y < H; y++)
      for (int32_t x = 0; x < W; x++) {
        bool inside = x >= 3 && x < 33 && y >= 5 && y < 25;
        bool drawn = inside && x < 18;
        uint8_t c[4];
        t.ColorAt(x, y, c);
        float z = t.DepthAt(x, y);
        if (drawn) {
          // BGRA memory order of (r, g, b, a) = (1, 0, 0.5, 1).
          EXPECT_EQ(c[2], 255);
          EXPECT_EQ(c[1], 0);
          EXPECT_NEAR(c[0], 128, 1);
          EXPECT_EQ(z, 0.25f);
        } else if (inside && pass == 0) {
          EXPECT_EQ(c[0], 10);
          EXPECT_EQ(z, 0.5f);
        } else {
          EXPECT_EQ(c[0], 1) << x << "," << y;
          EXPECT_EQ(c[3], 4);
          EXPECT_EQ(z, 0.9f);
        }
      }
  }
}

// Empty tiles are cleared in runs along each tile row: a run stops at a
// drawn tile and at each target's own edge, which here lies inside a
// viewport larger than both targets.
TEST(TileTargets, ClearsOfEmptyTilesStopAtDrawnTilesAndEachTargetsEdge) {
  TargetScene t(2, 70, 45, Unorm8BGRA);
  Surface depth; // narrower and taller than the colour target
  ASSERT_EQ(CreateSurface(&depth, Fp32, 37, 60), 0);
  t.scene.state.depthTarget = &depth;
  for (int32_t y = 0; y < 60; y++)
    for (int32_t x = 0; x < 70; x++) {
      const uint8_t c[4] = {1, 2, 3, 4};
      const float z = -7;
      if (y < 45) t.color.StoreElement(&t.color, 0, (uint32_t)x, (uint32_t)y, c);
      if (x < 37) depth.StoreElement(&depth, 0, (uint32_t)x, (uint32_t)y, &z);
    }
  SceneViewport(&t.scene, 2, 3, 120, 90);
  t.ClearDepth(0.5f);
  const uint8_t clear[4] = {10, 20, 30, 40};
  t.ClearColor(clear, 4);
  // A square over pixels [20, 28) x [20, 28), depth 0.25, opaque red.
  std::vector<TestVertex> v(4);
  const double corners[4][2] = {{20, 20}, {28, 20}, {20, 28}, {28, 28}};
  for (int i = 0; i < 4; i++) {
    memset(&v[i], 0, sizeof(v[i]));
    PixelToClip(&t.scene.state, corners[i][0], corners[i][1], 1, &v[i].x, &v[i].y);
    v[i].z = -0.5f;
    v[i].w = 1;
    v[i].out[0] = 1;
    v[i].out[3] = 1;
  }
  std::vector<PipelineState> ps(1, DefaultPipeline());
  ps[0].depthCompare = CompareFunction::Less;
  SceneDraw(&t.scene, v, {TestTriangle{{0, 1, 2}, 0}, TestTriangle{{1, 3, 2}, 0}}, ps);
  for (int32_t y = 0; y < 60; y++)
    for (int32_t x = 0; x < 70; x++) {
      const bool inside = x >= 2 && y >= 3, drawn = x >= 20 && x < 28 && y >= 20 && y < 28;
      if (y < 45) {
        uint8_t c[4];
        t.ColorAt(x, y, c);
        EXPECT_EQ(c[0], drawn ? 0 : inside ? 10 : 1) << x << "," << y;
        EXPECT_EQ(c[2], drawn ? 255 : inside ? 30 : 3) << x << "," << y;
      }
      if (x < 37) {
        float z;
        depth.LoadElement(&depth, 0, (uint32_t)x, (uint32_t)y, &z);
        EXPECT_EQ(z, drawn ? 0.25f : inside ? 0.5f : -7.0f) << x << "," << y;
      }
    }
  t.scene.state.depthTarget = &t.depth;
  ReleaseSurface(&depth);
}

PixelRecord** DropAllFsRun(const void*, PixelRecord** first, PixelRecord**) { return first; }

TEST(TileStages, AFragmentStageThatKeepsNothingChangesNothing) {
  TargetScene t(1, 32, 32, Fp32Vec4);
  t.ClearDepth(1.0f);
  const float clear[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  t.ClearColor(clear, 16);
  static const StageLayout in = {16, 1, {{0, 4}}};
  static const StageDescriptor dropAll = {reinterpret_cast<StageFunction>(DropAllFsRun), &in, &in, "DropAllFs"};
  std::vector<TestVertex> v(3);
  memset(v.data(), 0, sizeof(TestVertex) * 3);
  v[0].x = -1; v[0].y = -1; v[0].w = 1;
  v[1].x = 3; v[1].y = -1; v[1].w = 1;
  v[2].x = -1; v[2].y = 3; v[2].w = 1;
  std::vector<PipelineState> ps(1, DefaultPipeline());
  ps[0].depthCompare = CompareFunction::Always;
  ps[0].fragmentStage = &dropAll;
  SceneDraw(&t.scene, v, {TestTriangle{{0, 1, 2}, 0}}, ps);
  for (int32_t y = 0; y < 32; y++)
    for (int32_t x = 0; x < 32; x++) {
      float c[4];
      t.ColorAt(x, y, c);
      EXPECT_EQ(c[0], 0.5f);
      EXPECT_EQ(t.DepthAt(x, y), 1.0f);
    }
}

// The same scene into a linear and a Morton-ordered target (and a depth
// target that needs conversion) gives the same pixels.
TEST(TileTargets, MortonAndLinearTargetsAgree) {
  const int32_t S = 64;
  TriangleGen g(3);
  std::vector<TestVertex> v;
  std::vector<TestTriangle> tris;
  for (uint32_t i = 0; i < 60; i++) {
    for (int k = 0; k < 3; k++) {
      TestVertex tv;
      memset(&tv, 0, sizeof(tv));
      tv.w = (float)g.Uniform(0.5, 2);
      tv.x = (float)(g.Uniform(-1.5, 1.5) * tv.w);
      tv.y = (float)(g.Uniform(-1.5, 1.5) * tv.w);
      tv.z = (float)(g.Uniform(-0.9, 0.9) * tv.w);
      for (int c = 0; c < 4; c++) tv.out[c] = (float)g.Uniform(0, 1);
      v.push_back(tv);
    }
    tris.push_back(TestTriangle{{3 * i, 3 * i + 1, 3 * i + 2}, 0});
  }
  std::vector<PipelineState> ps(1, DefaultPipeline());
  ps[0].depthCompare = CompareFunction::Less;
  std::vector<float> result[2];
  std::vector<float> depth[2];
  for (int32_t layout = 0; layout < 2; layout++) {
    TargetScene t(2, S, S, Fp32Vec4);
    std::vector<float> storage((size_t)S * S * 4, 0);
    std::vector<uint16_t> depthStorage((size_t)S * S, 0);
    Surface color, z16;
    SurfaceDesc desc;
    memset(&desc, 0, sizeof(desc));
    desc.format = Fp32Vec4;
    desc.layout = layout == 0 ? kLayoutLinear : kLayoutMorton;
    desc.width = S;
    desc.height = S;
    desc.levelCount = 1;
    desc.levels[0].data = storage.data();
    desc.levels[0].size = storage.size() * 4;
    desc.levels[0].rowPitch = S * 16;
    ASSERT_EQ(InitSurface(&color, &desc, 0), 0);
    desc.format = Unorm16;
    desc.levels[0].data = depthStorage.data();
    desc.levels[0].size = depthStorage.size() * 2;
    desc.levels[0].rowPitch = S * 2;
    ASSERT_EQ(InitSurface(&z16, &desc, 0), 0);
    t.scene.state.colorTargets[0] = &color;
    t.scene.state.depthTarget = &z16;
    t.scene.state.depthClearState = kClearPending;
    const uint16_t far16 = 0xFFFF;
    memcpy(t.scene.state.depthClearValue, &far16, 2);
    SceneDraw(&t.scene, v, tris, ps);
    for (int32_t y = 0; y < S; y++)
      for (int32_t x = 0; x < S; x++) {
        float c[4];
        uint16_t z;
        color.LoadElement(&color, 0, (uint32_t)x, (uint32_t)y, c);
        z16.LoadElement(&z16, 0, (uint32_t)x, (uint32_t)y, &z);
        result[layout].insert(result[layout].end(), c, c + 4);
        depth[layout].push_back(z);
      }
  }
  EXPECT_TRUE(result[0] == result[1]);
  EXPECT_TRUE(depth[0] == depth[1]);
  uint32_t written = 0;
  for (float z : depth[0]) written += z != 65535.0f;
  EXPECT_GT(written, 500u);
}

} // namespace
