// Tiles whose triangles all run FontFs and AlphaBlendBs take the fused text
// path; with the tile shortcuts switched off they go through the general
// path, one stage function at a time over pixel records. Both must leave
// the same bytes in the colour and depth targets for any scene: sloped
// perspective triangles, every depth function, loaded or cleared targets,
// odd viewports, textures that wrap by mask or by remainder or need
// conversion, every sampler kernel, odd constants (NaN, infinities, none)
// and bins that mix text triangles with other stages; and rows of glyph
// quads side by side, drawn over each other, where consecutive triangles of
// one pipeline that do not overlap in a tile are worked together.
#include <cmath>
#include <limits>

#include "gfx/gfx.h"
#include "tests/raster/tile_harness.h"

namespace {

struct TextTextures {
  Surface pow2, other, bytes;
  TextTextures() {
    EXPECT_EQ(CreateSurface(&pow2, Fp32RGBA, 64, 32), 0);
    EXPECT_EQ(CreateSurface(&other, Fp32RGBA, 48, 40), 0);
    EXPECT_EQ(CreateSurface(&bytes, Unorm8BGRA, 32, 32), 0);
    std::mt19937 rng(5);
    for (Surface* s : {&pow2, &other}) {
      const SurfaceLevel& l = s->levels[0];
      for (uint32_t y = 0; y < l.height; y++) {
        float* row = reinterpret_cast<float*>(l.start + (size_t)y * l.pitch);
        for (uint32_t k = 0; k < 4 * l.width; k++) row[k] = (float)(rng() % 1000) / 999.0f;
      }
    }
    const SurfaceLevel& l = bytes.levels[0];
    for (uint32_t i = 0; i < l.pitch * l.height; i++) l.start[i] = (uint8_t)rng();
  }
  ~TextTextures() {
    ReleaseSurface(&pow2);
    ReleaseSurface(&other);
    ReleaseSurface(&bytes);
  }
};

float OddFloat(TriangleGen& g, double lo, double hi) {
  switch (g.Int(0, 24)) {
  case 0: return std::numeric_limits<float>::quiet_NaN();
  case 1: return std::numeric_limits<float>::infinity();
  case 2: return -0.0f;
  default: return (float)g.Uniform(lo, hi);
  }
}

struct TextScene {
  std::vector<TestVertex> vertices;
  std::vector<TestTriangle> triangles;
  std::vector<PipelineState> pipelines;
  std::vector<FontFsConstants> fragment;
  std::vector<AlphaTestConstants> blend;
  std::vector<Sampler> samplers;
  std::vector<float> ids;
};

// Pipelines first (their constants must not move), then triangles, a few of
// them covering the whole screen so that whole tiles are written.
// Adds the quad (x0, y0)-(x1, y1) as text draws it: two triangles sharing
// a diagonal; z < 0 gives each corner its own depth.
void AddQuad(TextScene* d, TriangleGen& g, float x0, float y0, float x1, float y1, float z, uint32_t pipeline,
             int32_t anyW = 1) {
  const uint32_t base = (uint32_t)d->vertices.size();
  const float corners[4][2] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
  // Mostly w = 1 (1/w is then exactly 1 at every pixel); now and then the
  // same quad with one w that is not 1 for all four corners.
  const float scales[4] = {1.0f, 1.0f, 0.5f, 3.0f};
  const float w = anyW ? scales[(size_t)g.Int(0, 3)] : 1.0f;
  for (const auto& c : corners) {
    TestVertex tv;
    memset(&tv, 0, sizeof(tv));
    tv.x = c[0] * w;
    tv.y = c[1] * w;
    tv.z = (z < 0 ? (float)g.Uniform(0, 1) : z) * w;
    tv.w = w;
    tv.out[0] = (float)g.Uniform(-1.5, 1.5);
    tv.out[1] = (float)g.Uniform(-1.5, 1.5);
    tv.out[3] = 1.0f;
    d->vertices.push_back(tv);
  }
  d->triangles.push_back(TestTriangle{{base, base + 2, base + 1}, pipeline});
  d->triangles.push_back(TestTriangle{{base + 1, base + 2, base + 3}, pipeline});
}

// Lines of glyph quads, 6 or 12 pixels wide and 13 high on a 100 x 72
// screen, in runs of one pipeline, written three times over with shifted
// origins; depths per pass, per line or per quad. Every few lines a sloped
// quad large enough that its two triangles share whole tiles.
void AddTextRows(TriangleGen& g, TextScene* d) {
  for (int32_t pass = 0; pass < 3; pass++) {
    const float ox = (float)g.Uniform(-0.1, 0.1), oy = (float)g.Uniform(-0.2, 0.2);
    const int32_t depthMode = (int32_t)g.Int(0, 2);
    float z = (float)g.Uniform(0, 1);
    uint32_t pipeline = 0, run = 0;
    for (float y = -1.0f + oy; y < 1.0f; y += 0.36f) {
      if (depthMode == 1) z = (float)g.Uniform(0, 1);
      for (float x = -1.0f + ox; x < 1.0f;) {
        if (run == 0) {
          pipeline = (uint32_t)g.Int(0, 7);
          run = (uint32_t)g.Int(1, 8);
        }
        run--;
        const float w = g.Int(0, 4) == 0 ? 0.24f : 0.12f;
        AddQuad(d, g, x, y, x + w, y + 0.36f, depthMode == 2 ? (float)g.Uniform(0, 1) : z, pipeline);
        x += w;
      }
      if (g.Int(0, 3) == 0) {
        const float bx = (float)g.Uniform(-1, 0.2), by = (float)g.Uniform(-1, 0.2);
        AddQuad(d, g, bx, by, bx + (float)g.Uniform(0.6, 1.2), by + (float)g.Uniform(0.8, 1.5), -1.0f, pipeline);
      }
    }
  }
}

void MakeTextScene(TriangleGen& g, const TextTextures& tex, uint32_t count, int32_t func, int32_t mixed, int32_t rows,
                   TextScene* d) {
  const uint32_t pipelineCount = 8;
  d->fragment.resize(pipelineCount);
  d->blend.resize(pipelineCount);
  d->samplers.resize(pipelineCount);
  d->ids.assign(pipelineCount, 0.5f);
  for (uint32_t p = 0; p < pipelineCount; p++) {
    Sampler& sm = d->samplers[p];
    memset(&sm, 0, sizeof(sm));
    sm.coarseFilter = 1 + (uint32_t)g.Int(0, 1);
    sm.fineFilter = 1 + (uint32_t)g.Int(0, 1);
    sm.mipFilter = 1 + (uint32_t)g.Int(0, 1);
    sm.addressU = 1 + (uint32_t)g.Int(0, 1);
    sm.addressV = 1 + (uint32_t)g.Int(0, 1);
    sm.maxLod = 4000;
    sm.kernel = p < 2 ? (uint32_t)p : (uint32_t)g.Int(0, 11); // point clamp and wrap always present
    const Surface* textures[3] = {&tex.pow2, &tex.other, &tex.bytes};
    FontFsConstants& f = d->fragment[p];
    f.texture = g.Int(0, 15) == 0 ? nullptr : textures[g.Int(0, 2)];
    f.sampler = &sm;
    for (int c = 0; c < 4; c++) f.colour[c] = OddFloat(g, 0.0, 1.0);
    const int32_t compares[10] = {0, CompareFunction::Never, CompareFunction::Always, CompareFunction::Less, CompareFunction::LessEqual, CompareFunction::Equal, CompareFunction::Greater, CompareFunction::GreaterEqual, CompareFunction::NotEqual, 42};
    d->blend[p] = AlphaTestConstants{CompareFunction::Value(compares[g.Int(0, 9)]), (float)g.Uniform(0, 1)};
    if (g.Int(0, 5) == 0) d->blend[p].compare = CompareFunction::Always;

    PipelineState ps = DefaultPipeline();
    ps.depthCompare = CompareFunction::Value(func);
    ps.depthTestEnable = g.Int(0, 7) != 0;
    ps.fragmentStage = &FontFs;
    ps.fragmentConstants.data = g.Int(0, 15) == 0 ? nullptr : &d->fragment[p];
    ps.blendStage = &AlphaBlendBs;
    ps.blendConstants.data = g.Int(0, 15) == 0 ? nullptr : &d->blend[p];
    if (mixed && p == pipelineCount - 1) {
      // A different fragment stage: tiles holding it go the general way.
      ps.fragmentStage = IdFs();
      ps.fragmentConstants.data = &d->ids[p];
      ps.blendStage = nullptr;
    }
    d->pipelines.push_back(ps);
  }
  if (rows) {
    AddTextRows(g, d);
    return;
  }
  for (uint32_t i = 0; i < count; i++) {
    const double size = i < 6 ? 4.0 : std::pow(10.0, g.Uniform(-1.5, 0.5));
    const double cx = i < 6 ? 0.0 : g.Uniform(-1, 1), cy = i < 6 ? 0.0 : g.Uniform(-1, 1);
    for (int v = 0; v < 3; v++) {
      TestVertex tv;
      memset(&tv, 0, sizeof(tv));
      const float w = (float)g.Uniform(0.3, 3);
      tv.x = (float)((cx + g.Uniform(-size, size)) * w);
      tv.y = (float)((cy + g.Uniform(-size, size)) * w);
      tv.z = (float)(g.Uniform(-1.2, 1.2) * w);
      tv.w = w;
      tv.out[0] = (float)g.Uniform(-1.5, 1.5);
      tv.out[1] = (float)g.Uniform(-1.5, 1.5);
      tv.out[2] = (float)g.Uniform(-1, 1);
      tv.out[3] = (float)g.Uniform(0.2, 6);
      d->vertices.push_back(tv);
    }
    d->triangles.push_back(TestTriangle{{3 * i, 3 * i + 1, 3 * i + 2}, (uint32_t)g.Int(0, 7)});
  }
  // Axis-aligned quads as text draws them, anywhere on the pixel grid.
  for (uint32_t q = 0; q < count / 3; q++) {
    const float x0 = (float)g.Uniform(-1.1, 0.9), y0 = (float)g.Uniform(-1.1, 0.9);
    const float x1 = x0 + (float)g.Uniform(0.02, 0.5), y1 = y0 + (float)g.Uniform(0.02, 0.5);
    const uint32_t pipeline = (uint32_t)g.Int(0, 7);
    AddQuad(d, g, x0, y0, x1, y1, -1.0f, pipeline);
  }
}

struct Config {
  int32_t colorFormat;
  int32_t depthFormat; // Undefined: no depth target
  int32_t vx, vy, vw, vh; // viewport; the targets are W x H
};

// Renders one scene into fresh targets and returns their bytes.
void Render(const Config& cfg, uint64_t seed, int32_t func, int32_t mixed, int32_t rows, int32_t fast,
            std::vector<uint8_t>* color, std::vector<uint8_t>* depth) {
  const int32_t W = 100, H = 72;
  TextTextures tex;
  TargetScene t(2, W, H, cfg.colorFormat);
  Surface depthSurface;
  memset(&depthSurface, 0, sizeof(depthSurface));
  t.scene.state.depthTarget = nullptr;
  if (cfg.depthFormat != Undefined) {
    ASSERT_EQ(CreateSurface(&depthSurface, cfg.depthFormat, W, H), 0);
    t.scene.state.depthTarget = &depthSurface;
  }
  SceneViewport(&t.scene, cfg.vx, cfg.vy, cfg.vw, cfg.vh, (seed & 1) ? 1.0f : 0.0f, (seed & 1) ? 0.0f : 1.0f);

  TriangleGen g(seed);
  // Starting contents: pending clears, or random bytes loaded from the targets.
  if (g.Int(0, 1)) {
    const float z = (float)g.Uniform(0, 1);
    uint8_t zBytes[16], cBytes[16];
    uint8_t raw[16];
    for (uint8_t& b : raw) b = (uint8_t)g.Int(0, 255);
    if (t.scene.state.depthTarget) {
      depthSurface.ops.packN(zBytes, &z, 1);
      t.scene.state.depthClearState = kClearPending;
      memcpy(t.scene.state.depthClearValue, zBytes, 16);
    }
    const float c[4] = {(float)g.Uniform(0, 1), (float)g.Uniform(0, 1), (float)g.Uniform(0, 1), (float)g.Uniform(0, 1)};
    t.color.ops.packN(cBytes, c, 1);
    t.ClearColor(cBytes, 16);
  } else {
    std::mt19937 bytes((uint32_t)seed);
    for (Surface* s : {&t.color, &depthSurface}) {
      if (!s->levels[0].start) continue;
      for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < W; x++) {
          float v[4] = {(float)(bytes() % 1000) / 999.0f, (float)(bytes() % 1000) / 999.0f,
                        (float)(bytes() % 1000) / 999.0f, (float)(bytes() % 1000) / 999.0f};
          if (bytes() % 32 == 0) v[0] = std::numeric_limits<float>::quiet_NaN(); // defeats the tile bounds
          uint8_t e[16];
          s->ops.packN(e, v, 1);
          s->StoreElement(s, 0, (uint32_t)x, (uint32_t)y, e);
        }
    }
  }

  TextScene d;
  MakeTextScene(g, tex, 120, func, mixed, rows, &d);
  SetTileFastPathsForTest(fast);
  // One set-up job per pass keeps the bin order the same in both runs; two
  // passes so the second loads what the first stored.
  for (size_t i = 0; i < d.triangles.size(); i += 16) {
    std::vector<TestTriangle> part(d.triangles.begin() + (ptrdiff_t)i,
                                   d.triangles.begin() + (ptrdiff_t)std::min(i + 16, d.triangles.size()));
    SceneDraw(&t.scene, d.vertices, part, d.pipelines);
  }
  SetTileFastPathsForTest(1);
  *color = t.Bytes(t.color);
  depth->clear();
  if (cfg.depthFormat != Undefined) {
    const uint8_t* p = depthSurface.levels[0].start;
    depth->assign(p, p + (size_t)depthSurface.levels[0].pitch * H);
    ReleaseSurface(&depthSurface);
  }
}

// Float targets: equal bits, or NaN in both (which NaN comes out of an
// operation with two NaN operands depends on operand order, which the
// compiler may swap in the stage functions).
bool SameTarget(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool floats) {
  if (a.size() != b.size()) return false;
  if (!floats) return a == b;
  for (size_t i = 0; i + 4 <= a.size(); i += 4) {
    float x, y;
    memcpy(&x, &a[i], 4);
    memcpy(&y, &b[i], 4);
    if (memcmp(&x, &y, 4) != 0 && !(std::isnan(x) && std::isnan(y))) return false;
  }
  return true;
}

TEST(TileText, FusedTextPathLeavesTheSameBytesAsTheStageFunctions) {
  const Config configs[] = {
      {Fp32Vec4, Fp32, 0, 0, 100, 72},
      {Unorm8BGRA, Fp32, 0, 0, 100, 72},
      {Fp32RGBA, Unorm16, 0, 0, 100, 72},
      {Fp32Vec4, Fp32, 7, 5, 81, 60},     // viewport off the tile grid
      {Unorm8BGRA, Fp32, -9, -3, 130, 90}, // viewport larger than the targets
      {Fp32Vec4, Undefined, 3, 0, 90, 70}, // no depth target
  };
  const int32_t funcs[] = {CompareFunction::Never, CompareFunction::Less, CompareFunction::Equal, CompareFunction::LessEqual, CompareFunction::Greater, CompareFunction::NotEqual, CompareFunction::GreaterEqual, CompareFunction::Always, 0, 42};
  TriangleGen seeds(31);
  uint32_t scenes = 0;
  for (const Config& cfg : configs) {
    for (int32_t func : funcs) {
      for (int32_t kind = 0; kind < 4; kind++) {
        const int32_t mixed = kind & 1, rows = kind >> 1;
        const uint64_t seed = seeds.rng();
        // The general path, then the text path at each group width this
        // processor runs.
        std::vector<uint8_t> color[2], depth[2];
        Render(cfg, seed, func, mixed, rows, 0, &color[0], &depth[0]);
        ASSERT_FALSE(color[0].empty());
        for (int32_t lanes = 4; lanes <= TextLanesAvailable(); lanes *= 2) {
          SetTextLanesForTest((uint32_t)lanes);
          Render(cfg, seed, func, mixed, rows, 1, &color[1], &depth[1]);
          SetTextLanesForTest(0);
          EXPECT_TRUE(SameTarget(color[0], color[1], cfg.colorFormat != Unorm8BGRA))
              << "colour: format " << cfg.colorFormat << " function " << func << " kind " << kind << " seed " << seed
              << " lanes " << lanes;
          EXPECT_TRUE(SameTarget(depth[0], depth[1], cfg.depthFormat == Fp32))
              << "depth: format " << cfg.depthFormat << " function " << func << " kind " << kind << " seed " << seed
              << " lanes " << lanes;
        }
        scenes++;
      }
    }
  }
  EXPECT_EQ(scenes, 240u);
}

// A sloped quad whose two triangles share every tile along its diagonal,
// then a flat quad just above the first triangle's depths: the tile's depth
// bounds after the sloped quad must span both triangles, or the flat quad
// would be taken whole over pixels of the second that are in front of it.
TEST(TileText, TrianglesSharingATileKeepBothDepthRanges) {
  TextTextures tex;
  Sampler sampler;
  memset(&sampler, 0, sizeof(sampler));
  sampler.coarseFilter = sampler.fineFilter = sampler.mipFilter = 1;
  sampler.addressU = sampler.addressV = 1;
  sampler.maxLod = 4000;
  FontFsConstants fragment = {&tex.pow2, &sampler, {1.0f, 1.0f, 1.0f, 1.0f}};
  AlphaTestConstants blend = {CompareFunction::Always, 0.0f};
  PipelineState ps = DefaultPipeline();
  ps.depthCompare = CompareFunction::GreaterEqual;
  ps.depthTestEnable = 1;
  ps.fragmentStage = &FontFs;
  ps.fragmentConstants.data = &fragment;
  ps.blendStage = &AlphaBlendBs;
  ps.blendConstants.data = &blend;
  const std::vector<PipelineState> pipelines = {ps};

  // The general path, then the text path at each group width.
  std::vector<uint8_t> depth[3];
  for (int32_t run = 0; run < 3; run++) {
    const int32_t fast = run > 0, lanes = 4 * run;
    if (lanes > TextLanesAvailable()) continue;
    SetTextLanesForTest((uint32_t)lanes);
    TextScene d;
    TriangleGen g(7);
    AddQuad(&d, g, -1.0f, -1.0f, 1.0f, 1.0f, -1.0f, 0, 0);
    const float corner[4] = {0.1f, 0.5f, 0.5f, 0.9f};
    for (int32_t i = 0; i < 4; i++) d.vertices[(size_t)i].z = corner[i];
    AddQuad(&d, g, -1.0f, -1.0f, 1.0f, 1.0f, 0.52f, 0, 0);
    TargetScene t(2, 64, 64, Fp32Vec4);
    t.ClearDepth(0.0f);
    SetTileFastPathsForTest(fast);
    SceneDraw(&t.scene, d.vertices, d.triangles, pipelines);
    SetTileFastPathsForTest(1);
    SetTextLanesForTest(0);
    depth[run] = t.Bytes(t.depth);
    // Both halves of the sloped quad: behind the flat one near its first
    // corner, in front of it near the last (window depth is (z + 1) / 2, so
    // the flat quad lands at 0.76).
    EXPECT_NEAR(t.DepthAt(2, 2), 0.76f, 1e-6f);
    EXPECT_GT(t.DepthAt(61, 61), 0.9f);
  }
  EXPECT_EQ(depth[0], depth[1]);
  if (TextLanesAvailable() == 8) {
    EXPECT_EQ(depth[0], depth[2]);
  }
}

} // namespace
