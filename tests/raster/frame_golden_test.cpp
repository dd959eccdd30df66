// Text-like frames through the whole pipeline (command stream, render
// thread, job queues, tile stage, FontVs/FontFs/AlphaBlendBs) into the memory
// presenter, compared bit for bit with a per-pixel model built here from the
// rules: axis-aligned quads on whole pixels cover exactly their rectangle,
// point sampling takes the texel under the pixel centre (wrapping), the
// texel times the colour is alpha blended over the target in float, and the
// frame stores trunc(clamp(c) * 255). Quad edges sit on pixel boundaries and
// pixel centres a quarter texel inside texels, so no rounding detail of the
// pipeline can move a sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/gfx.h"

namespace {

struct Quad {
  int32_t x, y;   // logical units, top left
  int32_t width;  // 6 or 12 logical units; 13 high
  int32_t tx, ty; // texel of the top-left corner (may lie outside: wraps)
};

struct Draw {
  int32_t texture; // 0 or 1
  float colour[4];
  std::vector<Quad> quads;
};

struct Lcg {
  uint32_t state;
  uint32_t Next() { return state = state * 1664525u + 1013904223u; }
  int32_t Range(int32_t lo, int32_t hi) { return lo + int32_t((Next() >> 8) % uint32_t(hi - lo)); }
  float Unit() { return float(Next() >> 8) / 16777216.0f; }
};

struct Texture {
  Surface surface;
  uint32_t width, height;
  const float* Texel(int32_t x, int32_t y) const {
    int32_t w = int32_t(width), h = int32_t(height);
    x = ((x % w) + w) % w;
    y = ((y % h) + h) % h;
    return reinterpret_cast<const float*>(surface.levels[0].start + size_t(y) * surface.levels[0].pitch) + 4 * x;
  }
};

constexpr float kDepthClear = 0.25f;
const uint8_t kClearBgra[4] = {40, 90, 160, 200};

struct Fixture {
  QvGfxContext* context = nullptr;
  MemoryPresenter presenter;
  Surface depth;
  Texture textures[2];
  Sampler sampler;
  AlphaTestConstants blend = {CompareFunction::Always, 0.0f};
  std::vector<FontFsConstants> fragment; // one per draw, alive until the frame ends
  std::vector<std::vector<float>> vertices;
  std::vector<std::vector<uint32_t>> indices;

  bool Create(uint32_t processors) {
    context = static_cast<QvGfxContext*>(calloc(1, sizeof(QvGfxContext)));
    if (!context || CreateContext(context, processors) != 0) return false;
    if (CreateCommandStream(context) != 0) return false;
    if (CreateMemoryPresenter(&presenter, 1) != 0) return false;
    if (CreateSurface(&depth, Fp32, 640, 480) != 0) return false;
    // A power-of-two texture (wrap by mask) and one that is not (wrap by
    // remainder); texels with partial alpha.
    const uint32_t sizes[2][2] = {{64, 32}, {48, 40}};
    Lcg rng{7};
    for (int i = 0; i < 2; ++i) {
      Texture& t = textures[i];
      t.width = sizes[i][0];
      t.height = sizes[i][1];
      if (CreateSurface(&t.surface, Fp32RGBA, t.width, t.height) != 0) return false;
      for (uint32_t y = 0; y < t.height; ++y) {
        float* row = reinterpret_cast<float*>(t.surface.levels[0].start + size_t(y) * t.surface.levels[0].pitch);
        for (uint32_t k = 0; k < 4 * t.width; ++k) row[k] = rng.Unit();
      }
    }
    const uint32_t words[14] = {1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1};
    memcpy(&sampler, words, sizeof(words));
    return true;
  }

  ~Fixture() {
    if (context) {
      if (context->stream.renderThread) {
        Finish(context);
        Quit(context);
        DestroyCommandStream(context);
      }
      DestroyContext(context);
      free(context);
    }
    ReleaseSurface(&depth);
    ReleaseSurface(&textures[0].surface);
    ReleaseSurface(&textures[1].surface);
    DestroyMemoryPresenter(&presenter);
  }

  // Records one frame the way debug text does and waits for its present.
  void Render(const std::vector<Draw>& draws, int32_t viewportX, int32_t viewportY) {
    QvGfxContext* c = context;
    fragment.assign(draws.size(), FontFsConstants{});
    vertices.assign(draws.size(), {});
    indices.assign(draws.size(), {});
    const float matrix[16] = {2.0f / 320, 0, 0, 0, 0, -2.0f / 240, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
    RecordSetViewport(c, viewportX, viewportY, 640, 480);
    RecordSetDepthRange(c, 1.0f, 0.0f);
    RecordBindDepthTarget(c, &depth);
    RecordBindColorTarget(c, 0, &presenter.base);
    RecordClearDepth(c, &kDepthClear, 4);
    RecordClearColor(c, 0, kClearBgra, 4);
    RecordSetDepthCompare(c, CompareFunction::GreaterEqual);
    RecordSetSortMode(c, SortMode::SortNearestFirst);
    RecordBindBlendStage(c, &AlphaBlendBs);
    RecordBindBlendConstants(c, &blend);
    RecordBindVertexStage(c, &FontVs);
    RecordBindFragmentStage(c, &FontFs);
    RecordSetVertexConstants(c, matrix, sizeof(matrix), 4);
    const VertexElement position = {0, 0, 32, AttributeType::AttrFloat32, 4};
    const VertexElement texcoord = {0, 16, 32, AttributeType::AttrFloat32, 4};
    for (size_t d = 0; d < draws.size(); ++d) {
      const Draw& draw = draws[d];
      const Texture& t = textures[draw.texture];
      fragment[d].texture = &t.surface;
      fragment[d].sampler = &sampler;
      memcpy(fragment[d].colour, draw.colour, sizeof(draw.colour));
      uint32_t k = 0;
      for (const Quad& q : draw.quads) {
        const float W = float(t.width), H = float(t.height);
        float u0 = 2.0f * float(q.tx) / W - 1.0f, u1 = 2.0f * float(q.tx + q.width) / W - 1.0f;
        float vt = 1.0f - 2.0f * float(q.ty) / H, vb = 1.0f - 2.0f * float(q.ty + 13) / H;
        float l = float(q.x), r = float(q.x + q.width), top = float(q.y), bottom = float(q.y + 13);
        const float corners[4][4] = {{l, top, u0, vt}, {r, top, u1, vt}, {l, bottom, u0, vb}, {r, bottom, u1, vb}};
        for (const auto& corner : corners) {
          const float v[8] = {corner[0], corner[1], 0.0f, 1.0f, corner[2], corner[3], 1.0f, 1.0f};
          vertices[d].insert(vertices[d].end(), v, v + 8);
        }
        const uint32_t order[6] = {k, k + 2, k + 1, k + 1, k + 2, k + 3};
        indices[d].insert(indices[d].end(), order, order + 6);
        k += 4;
      }
      RecordSetFragmentConstants(c, &fragment[d], sizeof(FontFsConstants), 8);
      RecordSetVertexStream(c, 0, vertices[d].data(), vertices[d].size() * sizeof(float));
      RecordSetVertexElement(c, 0, &position);
      RecordSetVertexElement(c, 1, &texcoord);
      RecordSetIndexData(c, IndexFormat::Index32, indices[d].data(), indices[d].size() * sizeof(uint32_t));
      RecordSetTopology(c, Topology::TriangleList);
      RecordDrawIndexed(c, uint32_t(indices[d].size()));
    }
    EndFrame(c, &presenter.base, PresentMode::Immediate);
  }
};

// The model: RGBA floats of the visible rectangle, then the frame bytes.
struct Model {
  int32_t x0, y0, x1, y1; // viewport clipped to the 640x480 frame
  int32_t ox, oy;         // viewport origin
  std::vector<float> rgba = std::vector<float>(640 * 480 * 4, 0.0f);
  std::vector<uint8_t> covered = std::vector<uint8_t>(640 * 480, 0);

  Model(int32_t viewportX, int32_t viewportY) : ox(viewportX), oy(viewportY) {
    x0 = std::max(viewportX, 0);
    y0 = std::max(viewportY, 0);
    x1 = std::min(viewportX + 640, 640);
    y1 = std::min(viewportY + 480, 480);
    const float clear[4] = {float(kClearBgra[2]) * (1.0f / 255.0f), float(kClearBgra[1]) * (1.0f / 255.0f),
                            float(kClearBgra[0]) * (1.0f / 255.0f), float(kClearBgra[3]) * (1.0f / 255.0f)};
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = x0; x < x1; ++x) memcpy(&rgba[(size_t(y) * 640 + x) * 4], clear, sizeof(clear));
  }

  void Draw(const Texture& t, const float* colour, const Quad& q) {
    for (int32_t dy = 0; dy < 26; ++dy) {
      for (int32_t dx = 0; dx < 2 * q.width; ++dx) {
        int32_t px = ox + 2 * q.x + dx, py = oy + 2 * q.y + dy;
        if (px < x0 || py < y0 || px >= x1 || py >= y1) continue;
        const float* texel = t.Texel(q.tx + dx / 2, q.ty + dy / 2);
        float s[4];
        for (int i = 0; i < 4; ++i) s[i] = texel[i] * colour[i];
        float* d = &rgba[(size_t(py) * 640 + px) * 4];
        const float a = s[3];
        for (int i = 0; i < 3; ++i) d[i] = (1.0f - a) * d[i] + a * s[i];
        d[3] = a;
        covered[size_t(py) * 640 + px] = 1;
      }
    }
  }

  static uint8_t Unorm8(float c) {
    c = std::min(std::max(c, 0.0f), 1.0f);
    return uint8_t(int32_t(c * 255.0f));
  }

  // Pixels outside the viewport keep what the (zeroed) buffer held.
  uint8_t Byte(int32_t x, int32_t y, int32_t bgraIndex) const {
    if (x < x0 || y < y0 || x >= x1 || y >= y1) return 0;
    static const int kChannel[4] = {2, 1, 0, 3};
    return Unorm8(rgba[(size_t(y) * 640 + x) * 4 + kChannel[bgraIndex]]);
  }
};

// Compares the presented frame with the model, and the depth buffer with
// "one common depth where covered, the clear elsewhere in the viewport".
void ExpectFrame(const Fixture& f, uint32_t frameIndex, const Model& m, const char* what) {
  const uint8_t* frame = MemoryPresenterFrame(&f.presenter, frameIndex);
  ASSERT_NE(frame, nullptr) << what;
  uint32_t bad = 0, lit = 0;
  for (int32_t y = 0; y < 480; ++y) {
    for (int32_t x = 0; x < 640; ++x) {
      const uint8_t* got = frame + size_t(y) * kFramePitch + size_t(x) * 4;
      uint8_t want[4];
      for (int i = 0; i < 4; ++i) want[i] = m.Byte(x, y, i);
      lit += m.covered[size_t(y) * 640 + x];
      if (memcmp(got, want, 4) != 0 && bad++ < 8)
        ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") BGRA " << int(got[0]) << " " << int(got[1]) << " "
                      << int(got[2]) << " " << int(got[3]) << ", model " << int(want[0]) << " " << int(want[1]) << " "
                      << int(want[2]) << " " << int(want[3]);
    }
  }
  EXPECT_EQ(bad, 0u) << what;
  EXPECT_GT(lit, 20000u) << what << ": the model drew too little to mean anything";

  const SurfaceLevel& level = f.depth.levels[0];
  float common = 0.0f;
  bool haveCommon = false;
  uint32_t depthBad = 0;
  for (int32_t y = m.y0; y < m.y1; ++y) {
    const float* row = reinterpret_cast<const float*>(level.start + size_t(y) * level.pitch);
    for (int32_t x = m.x0; x < m.x1; ++x) {
      float z = row[x];
      bool ok;
      if (m.covered[size_t(y) * 640 + x]) {
        if (!haveCommon) common = z, haveCommon = true;
        ok = z == common && z != kDepthClear;
      } else {
        ok = z == kDepthClear;
      }
      if (!ok && depthBad++ < 4) ADD_FAILURE() << what << ": depth at (" << x << ", " << y << ") is " << z;
    }
  }
  EXPECT_EQ(depthBad, 0u) << what;
}

std::vector<Draw> SplitIntoDraws(const std::vector<Quad>& quads, Lcg* rng) {
  std::vector<Draw> draws;
  for (size_t i = 0; i < quads.size(); i += 64) {
    Draw d;
    d.texture = draws.size() % 4 == 3 ? 1 : 0;
    for (float& c : d.colour) c = 0.3f + 0.7f * rng->Unit();
    d.quads.assign(quads.begin() + long(i), quads.begin() + long(std::min(i + 64, quads.size())));
    draws.push_back(d);
  }
  return draws;
}

int32_t RandomTexelOrigin(Lcg* rng, int32_t size) { return rng->Range(-6, size + 6); }

// Rows of text that never overlap, running off the right and bottom edges.
std::vector<Quad> TextRows(Lcg* rng, int32_t rows, int32_t left) {
  std::vector<Quad> quads;
  for (int32_t row = 0; row < rows; ++row) {
    for (int32_t x = left + rng->Range(0, 4); x < 326;) {
      Quad q;
      q.width = rng->Range(0, 5) == 0 ? 12 : 6;
      q.x = x;
      q.y = row * 13 + (row > 10 ? 1 : 0);
      q.tx = RandomTexelOrigin(rng, 64);
      q.ty = RandomTexelOrigin(rng, 40);
      quads.push_back(q);
      x += q.width + (rng->Range(0, 8) == 0 ? 6 : 0);
    }
  }
  return quads;
}

// Render order must be the model's order where quads overlap, which only a
// single thread guarantees (set-up jobs reach a bin in no defined order).
TEST(FrameGoldenTest, OverlappingTextOnOneThreadMatchesTheModel) {
  Fixture f;
  ASSERT_TRUE(f.Create(1));
  Lcg rng{12345};
  for (uint32_t frame = 0; frame < 2; ++frame) {
    std::vector<Quad> quads;
    for (int i = 0; i < 700; ++i) {
      Quad q;
      q.width = rng.Range(0, 5) == 0 ? 12 : 6;
      q.x = rng.Range(-12, 322);
      q.y = rng.Range(-13, 242);
      q.tx = RandomTexelOrigin(&rng, 64);
      q.ty = RandomTexelOrigin(&rng, 40);
      quads.push_back(q);
    }
    std::vector<Draw> draws = SplitIntoDraws(quads, &rng);
    f.Render(draws, 0, 0);
    Model m(0, 0);
    for (const Draw& d : draws)
      for (const Quad& q : d.quads) m.Draw(f.textures[d.texture], d.colour, q);
    ExpectFrame(f, frame, m, frame == 0 ? "first frame" : "second frame");
  }
}

// Many job threads, partial tiles at a shifted viewport and the frame edge.
TEST(FrameGoldenTest, TextRowsOnJobThreadsMatchTheModel) {
  for (uint32_t processors : {2u, 4u}) {
    Fixture f;
    ASSERT_TRUE(f.Create(processors));
    Lcg rng{processors};
    const int32_t viewports[3][2] = {{0, 0}, {8, 8}, {0, 0}};
    for (uint32_t frame = 0; frame < 3; ++frame) {
      std::vector<Draw> draws = SplitIntoDraws(TextRows(&rng, 19, frame == 1 ? -3 : 0), &rng);
      f.Render(draws, viewports[frame][0], viewports[frame][1]);
      Model m(viewports[frame][0], viewports[frame][1]);
      for (const Draw& d : draws)
        for (const Quad& q : d.quads) m.Draw(f.textures[d.texture], d.colour, q);
      // Frame 2 reuses frame 0's buffer: outside the viewport nothing
      // differs there either, as both viewports cover the whole frame.
      ExpectFrame(f, frame, m, processors == 2 ? "two processors" : "four processors");
    }
  }
}

} // namespace
