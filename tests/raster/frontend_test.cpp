// Draw front end: triangle order per topology, index widths, the vertex
// cache against a model of it, attribute fetch, and draws split over flushes.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <random>
#include <vector>

#include "../gfx/gfx_harness.h"
#include "raster/frontend_internal.h"

namespace {

std::atomic<uint32_t> g_shaded{0};

// Copies the staged inputs to the outputs and counts shaded vertices.
void EchoVsMain(const void*, const float* inputs, uint8_t* first, uint8_t* end, uint32_t stride) {
  uint32_t n = 0;
  for (uint8_t* p = first; p < end; p += stride, inputs += 4, n++) {
    VertexSlot* slot = reinterpret_cast<VertexSlot*>(p);
    float* out = VertexSlotOutputs(slot);
    for (int i = 0; i < 4; i++) {
      out[i] = inputs[i];
      slot->position[i] = 0.0f; // degenerate: set-up drops it
    }
  }
  g_shaded.fetch_add(n);
}

const StageLayout kVec4 = {16, 1, {{0, 4}}};
const StageDescriptor EchoVs = {reinterpret_cast<StageFunction>(EchoVsMain), &kVec4, &kVec4, "EchoVs"};

void Draw(QvGfxContext* c, uint32_t indexCount) {
  DrawSource source = ContextDrawSource(c);
  DrawIndexedStep(&source, indexCount);
}

class FrontEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shaded.store(0);
    c = NewTestContext(2, false);
    ASSERT_NE(c, nullptr);
    DeriveViewport(&c->render, 0, 0, 64, 64);
    c->pipeline.vertexStage = &EchoVs;
  }
  void TearDown() override {
    // The tests bind their own arrays directly; they are gone by now.
    c->indexData = Binding{nullptr, 0, 4};
    memset(c->input.streams, 0, sizeof(c->input.streams));
    DeleteTestContext(c);
  }
  void BindIndices(const void* data, uint64_t bytes, int32_t format) {
    c->indexData = Binding{const_cast<void*>(data), int64_t(bytes), 4};
    c->indexFormat = format;
  }
  std::vector<TriangleRecord> Queued() const {
    std::vector<TriangleRecord> r;
    for (TriangleRecord* t = reinterpret_cast<TriangleRecord*>(c->geometry.geometryBottom); t < c->geometry.triangleCursor; t++)
      r.push_back(*t);
    return r;
  }
  static std::vector<int32_t> Flatten(const std::vector<TriangleRecord>& ts) {
    std::vector<int32_t> v;
    for (const TriangleRecord& t : ts)
      for (int k = 0; k < 3; k++) v.push_back(t.vertices[k]->vertexIndex);
    return v;
  }
  QvGfxContext* c = nullptr;
};

// Triangle k of each topology, straight from the rules.
std::vector<int32_t> ReferenceOrder(uint32_t topology, const std::vector<int32_t>& idx) {
  std::vector<int32_t> r;
  uint32_t n = uint32_t(idx.size());
  if (n < 3) return r;
  if (topology == 4) {
    for (uint32_t t = 0; t < n / 3; t++) r.insert(r.end(), {idx[3 * t], idx[3 * t + 1], idx[3 * t + 2]});
  } else if (topology == 5) {
    for (uint32_t k = 0; k < n - 2; k++) {
      if (k % 2 == 0) r.insert(r.end(), {idx[k], idx[k + 1], idx[k + 2]});
      else r.insert(r.end(), {idx[k], idx[k + 2], idx[k + 1]});
    }
  } else if (topology == 6) {
    for (uint32_t k = 0; k < n - 2; k++) r.insert(r.end(), {idx[0], idx[k + 1], idx[k + 2]});
  }
  return r;
}

TEST_F(FrontEndTest, TriangleOrderForEveryTopologyAndIndexWidth) {
  for (uint32_t topology = 4; topology <= 6; topology++) {
    for (int32_t format : {0, 1, 2}) {
      for (uint32_t n : {0u, 2u, 3u, 4u, 5u, 7u, 8u, 12u}) {
        std::vector<int32_t> idx;
        for (uint32_t i = 0; i < n; i++) idx.push_back(format == 1 ? int32_t(70000 + 31 * i) : format == 2 ? int32_t(300 + 17 * i) : int32_t(200 + i));
        std::vector<uint8_t> bytes;
        for (int32_t v : idx) {
          uint32_t u = uint32_t(v);
          int width = format == 1 ? 4 : format == 2 ? 2 : 1;
          for (int b = 0; b < width; b++) bytes.push_back(uint8_t(u >> (8 * b)));
        }
        BindIndices(bytes.data(), bytes.size(), format);
        c->topology = topology;
        Draw(c, n);
        EXPECT_EQ(Flatten(Queued()), ReferenceOrder(topology, idx)) << "topology " << topology << " format " << format << " n " << n;
        for (const TriangleRecord& t : Queued()) EXPECT_EQ(t.pipeline, c->batch.pipeline);
        FlushGeometry(&c->geometry, c->batch.input, c->batch.pipeline);
      }
    }
  }
}

TEST_F(FrontEndTest, IndexCountBeyondTheBoundDataIsCut) {
  static const uint16_t kIdx[5] = {1, 2, 3, 4, 5};
  BindIndices(kIdx, sizeof(kIdx), 2);
  c->topology = 5;
  Draw(c, 1000);
  EXPECT_EQ(Queued().size(), 3u);
  FlushGeometry(&c->geometry, c->batch.input, c->batch.pipeline);
  c->indexData = Binding{nullptr, 0, 4};
  Draw(c, 1000);
  EXPECT_EQ(Queued().size(), 0u);
}

TEST_F(FrontEndTest, TopologyThreeOrLessDrawsNothing) {
  static const uint8_t kIdx[6] = {0, 1, 2, 3, 4, 5};
  BindIndices(kIdx, sizeof(kIdx), 0);
  for (uint32_t topology : {0u, 1u, 2u, 3u, 7u, 100u}) {
    c->topology = topology;
    Draw(c, 6);
    EXPECT_EQ(Queued().size(), 0u);
    EXPECT_EQ(c->geometry.vertexCursor, c->geometry.geometryTop);
  }
}

// The direct-mapped 16-entry cache as the rules describe it: returns, for
// every vertex reference in walk order, the number of the slot it uses.
std::vector<int32_t> ModelSlots(const std::vector<int32_t>& refs, uint32_t* slotsMade) {
  int64_t cacheIndex[16];
  int32_t cacheSlot[16];
  for (int i = 0; i < 16; i++) cacheIndex[i] = -1LL << 40;
  std::vector<int32_t> r;
  int32_t next = 0;
  for (int32_t v : refs) {
    int e = v & 15;
    if (cacheIndex[e] != v) {
      cacheIndex[e] = v;
      cacheSlot[e] = next++;
    }
    r.push_back(cacheSlot[e]);
  }
  *slotsMade = uint32_t(next);
  return r;
}

TEST_F(FrontEndTest, VertexCacheReuseAndEvictionMatchTheModel) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; round++) {
    uint32_t topology = 4 + round % 3;
    uint32_t n = 3 + rng() % 200;
    uint32_t range = round < 20 ? 24 : 300; // small ranges collide often
    std::vector<int32_t> idx(n);
    for (auto& v : idx) v = int32_t(rng() % range);
    std::vector<uint32_t> words(idx.begin(), idx.end());
    BindIndices(words.data(), words.size() * 4, 1);
    c->topology = topology;
    g_shaded.store(0);
    Draw(c, n);
    std::vector<TriangleRecord> ts = Queued();
    std::vector<int32_t> refs = ReferenceOrder(topology, idx);
    uint32_t made = 0;
    std::vector<int32_t> model = ModelSlots(refs, &made);
    ASSERT_EQ(ts.size() * 3, refs.size());
    // Same sharing pattern: two references share a slot exactly when the
    // model says so (compared through first-use numbering).
    std::vector<VertexSlot*> seen;
    for (size_t i = 0; i < refs.size(); i++) {
      VertexSlot* s = ts[i / 3].vertices[i % 3];
      ASSERT_EQ(s->vertexIndex, refs[i]);
      size_t number = std::find(seen.begin(), seen.end(), s) - seen.begin();
      if (number == seen.size()) seen.push_back(s);
      ASSERT_EQ(int32_t(number), model[i]) << "round " << round << " reference " << i;
    }
    WaitJobs(&c->geometry.jobs);
    EXPECT_EQ(g_shaded.load(), made);
    FlushGeometry(&c->geometry, c->batch.input, c->batch.pipeline);
  }
}

TEST_F(FrontEndTest, CacheHitAndEvictionByShaderCount) {
  static const uint8_t kReuse[6] = {0, 1, 2, 0, 2, 3};
  BindIndices(kReuse, sizeof(kReuse), 0);
  c->topology = 4;
  Draw(c, 6);
  FlushGeometry(&c->geometry, c->batch.input, c->batch.pipeline);
  EXPECT_EQ(g_shaded.load(), 4u);
  g_shaded.store(0);
  static const uint8_t kEvict[9] = {0, 1, 2, 16, 17, 18, 0, 1, 2};
  BindIndices(kEvict, sizeof(kEvict), 0);
  Draw(c, 9);
  FlushGeometry(&c->geometry, c->batch.input, c->batch.pipeline);
  EXPECT_EQ(g_shaded.load(), 9u);
}

float HalfReference(uint16_t h) {
  int sign = h >> 15, e = (h >> 10) & 31, m = h & 1023;
  double v = e == 0 ? std::ldexp(double(m), -24) : std::ldexp(1.0 + m / 1024.0, e - 15);
  return float(sign ? -v : v);
}

TEST(AttributeFetch, ConversionsPerType) {
  float d[4];
  // Every finite half, against a decoder written from the IEEE layout.
  for (uint32_t h = 0; h < 65536; h++) {
    if (((h >> 10) & 31) == 31) continue;
    uint16_t v = uint16_t(h);
    ASSERT_EQ(FetchAttribute(AttributeType::AttrFloat16, 1, reinterpret_cast<const uint8_t*>(&v), d), 0);
    ASSERT_EQ(d[0], HalfReference(v)) << std::hex << h;
  }
  uint16_t one = 0x3C00;
  FetchAttribute(AttributeType::AttrFloat16, 1, reinterpret_cast<const uint8_t*>(&one), d);
  EXPECT_EQ(d[0], 1.0f);

  int16_t s16[4] = {32767, -32768, 0, -1};
  ASSERT_EQ(FetchAttribute(AttributeType::AttrSnorm16, 4, reinterpret_cast<const uint8_t*>(s16), d), 0);
  EXPECT_FLOAT_EQ(d[0], 1.0f);
  EXPECT_NEAR(d[1], -32768.0 / 32767.0, 1e-6);
  EXPECT_EQ(d[2], 0.0f);
  EXPECT_NEAR(d[3], -1.0 / 32767.0, 1e-10);

  int8_t s8[3] = {127, -128, 64};
  ASSERT_EQ(FetchAttribute(AttributeType::AttrSnorm8, 3, reinterpret_cast<const uint8_t*>(s8), d), 0);
  EXPECT_FLOAT_EQ(d[0], 1.0f);
  EXPECT_NEAR(d[1], -1.007874, 1e-6); // no clamping
  EXPECT_NEAR(d[2], 64.0 / 127.0, 1e-6);

  int32_t s32[2] = {INT32_MIN, 1 << 30};
  ASSERT_EQ(FetchAttribute(AttributeType::AttrSnorm32, 2, reinterpret_cast<const uint8_t*>(s32), d), 0);
  EXPECT_FLOAT_EQ(d[0], -1.0f);
  EXPECT_FLOAT_EQ(d[1], 0.5f);

  float f[4] = {1.5f, -2.25f, 1e30f, -0.0f};
  ASSERT_EQ(FetchAttribute(AttributeType::AttrFloat32, 4, reinterpret_cast<const uint8_t*>(f), d), 0);
  EXPECT_EQ(memcmp(d, f, 16), 0);

  EXPECT_EQ(FetchAttribute(0, 4, reinterpret_cast<const uint8_t*>(f), d), 1);
  EXPECT_EQ(FetchAttribute(6, 4, reinterpret_cast<const uint8_t*>(f), d), 1);
  EXPECT_EQ(FetchAttribute(AttributeType::AttrFloat32, 5, reinterpret_cast<const uint8_t*>(f), d), 1);
}

// Two-entry input layout: (0, 4) and (16, 2), outputs echo six floats.
void PairVsMain(const void*, const float* inputs, uint8_t* first, uint8_t* end, uint32_t stride) {
  for (uint8_t* p = first; p < end; p += stride, inputs += 8) {
    VertexSlot* slot = reinterpret_cast<VertexSlot*>(p);
    memcpy(VertexSlotOutputs(slot), inputs, 24);
    memset(slot->position, 0, 16);
  }
}
const StageLayout kPairIn = {32, 2, {{0, 4}, {16, 2}}};
const StageLayout kPairOut = {24, 1, {{0, 4}}};
const StageDescriptor PairVs = {reinterpret_cast<StageFunction>(PairVsMain), &kPairIn, &kPairOut, "PairVs"};

TEST_F(FrontEndTest, VertexJobsFetchThroughElementsAndStreams) {
  // Stream 0: interleaved {snorm16 x4, half x2} of 12 bytes per vertex plus a
  // 4-byte header; stream 3: snorm8 x2 at stride 3 - element 1 reads it.
  const uint32_t kVertices = 600; // more than two runs of 256
  std::vector<uint8_t> s0(4 + 12 * kVertices), s3(3 * kVertices);
  for (uint32_t v = 0; v < kVertices; v++) {
    int16_t q[4] = {int16_t(v * 50 - 15000), int16_t(-int32_t(v)), 32767, -32767};
    memcpy(&s0[4 + 12 * v], q, 8);
    uint16_t h[2] = {FloatToHalf(float(v)), 0x3C00};
    memcpy(&s0[4 + 12 * v + 8], h, 4);
    s3[3 * v] = uint8_t(int8_t(v % 256 - 128));
    s3[3 * v + 1] = uint8_t(v % 7);
  }
  c->input.streams[0] = Binding{s0.data(), int64_t(s0.size()), 4};
  c->input.streams[3] = Binding{s3.data(), int64_t(s3.size()), 4};
  c->input.elements[0] = VertexElement{0, 4, 12, AttributeType::AttrSnorm16, 4};
  c->input.elements[1] = VertexElement{3, 0, 3, AttributeType::AttrSnorm8, 2};
  c->pipeline.vertexStage = &PairVs;
  // Indices walk the vertices backwards, plus one past the end of the streams.
  std::vector<uint32_t> idx;
  for (uint32_t v = 0; v < kVertices; v++) idx.push_back(kVertices - 1 - v);
  idx.push_back(kVertices + 5);
  idx.push_back(0);
  idx.push_back(1);
  BindIndices(idx.data(), idx.size() * 4, 1);
  c->topology = 4;
  Draw(c, uint32_t(idx.size()));
  WaitJobs(&c->geometry.jobs);
  std::vector<TriangleRecord> ts = Queued();
  ASSERT_EQ(ts.size(), idx.size() / 3);
  for (const TriangleRecord& t : ts) {
    for (int k = 0; k < 3; k++) {
      VertexSlot* s = t.vertices[k];
      const float* out = VertexSlotOutputs(s);
      uint32_t v = uint32_t(s->vertexIndex);
      if (v >= kVertices) {
        // Outside the streams: zeros, not a stray read.
        for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], 0.0f);
        continue;
      }
      EXPECT_NEAR(out[0], (int32_t(v) * 50 - 15000) / 32767.0, 1e-6) << v;
      EXPECT_NEAR(out[1], -double(v) / 32767.0, 1e-6);
      EXPECT_FLOAT_EQ(out[2], 1.0f);
      EXPECT_FLOAT_EQ(out[3], -1.0f);
      EXPECT_NEAR(out[4], (int32_t(v % 256) - 128) / 127.0, 1e-6);
      EXPECT_NEAR(out[5], (v % 7) / 127.0, 1e-6);
    }
  }
  FlushGeometry(&c->geometry, c->batch.input, c->batch.pipeline);
}

// One small triangle per pixel of a 128 x 128 target, colour = pixel
// number; the geometry region is shrunk so the draw needs many flushes.
void PixelVsMain(const void*, const float* inputs, uint8_t* first, uint8_t* end, uint32_t stride) {
  for (uint8_t* p = first; p < end; p += stride, inputs += 4) {
    VertexSlot* slot = reinterpret_cast<VertexSlot*>(p);
    uint32_t v = uint32_t(slot->vertexIndex);
    uint32_t pixel = v / 3, corner = v % 3;
    float px = float(pixel % 128), py = float(pixel / 128);
    // Corners around the pixel centre, in NDC of the 128 x 128 viewport.
    float dx[3] = {-0.4f, 0.45f, -0.4f}, dy[3] = {-0.4f, -0.4f, 0.45f};
    float x = (px + 0.5f + dx[corner]) / 64.0f - 1.0f;
    float y = (py + 0.5f + dy[corner]) / 64.0f - 1.0f;
    slot->position[0] = x;
    slot->position[1] = y; // y down already
    slot->position[2] = 0.5f;
    slot->position[3] = 1.0f;
    float* out = VertexSlotOutputs(slot);
    out[0] = float(pixel % 128) / 255.0f;
    out[1] = float(pixel / 128) / 255.0f;
    out[2] = 1.0f;
    out[3] = 1.0f;
    g_shaded.fetch_add(1);
  }
}
const StageDescriptor PixelVs = {reinterpret_cast<StageFunction>(PixelVsMain), &kVec4, &kVec4, "PixelVs"};

TEST_F(FrontEndTest, DrawLargerThanTheGeometryRegionCompletesAcrossFlushes) {
  Surface target;
  ASSERT_EQ(CreateSurface(&target, Unorm8BGRA, 128, 128), 0);
  DeriveViewport(&c->render, 0, 0, 128, 128);
  DeriveDepthRange(&c->render, 0.0f, 1.0f);
  c->render.colorTargets[0] = &target;
  c->render.targetLayout = kVec4;
  c->pipeline.vertexStage = &PixelVs;
  // A region for a few hundred triangles instead of 64 MiB.
  GeometryQueue* q = &c->geometry;
  uint8_t* savedTop = q->geometryTop;
  q->geometryTop = q->geometryBottom + 40000;
  q->vertexCursor = q->vertexMark = q->geometryTop;

  const uint32_t kPixels = 128 * 128;
  std::vector<uint32_t> idx(3 * kPixels);
  for (uint32_t i = 0; i < idx.size(); i++) idx[i] = i;
  BindIndices(idx.data(), idx.size() * 4, 1);
  c->topology = 4;
  Draw(c, uint32_t(idx.size()));
  EXPECT_LT(uint64_t(q->triangleCursor - reinterpret_cast<TriangleRecord*>(q->geometryBottom)), kPixels / 10);
  FlushGeometry(q, c->batch.input, c->batch.pipeline);
  EXPECT_EQ(g_shaded.load(), 3 * kPixels);

  uint32_t wrong = 0;
  for (uint32_t y = 0; y < 128; y++) {
    for (uint32_t x = 0; x < 128; x++) {
      const uint8_t* p = target.levels[0].start + y * target.levels[0].pitch + 4 * x;
      // B, G, R, A
      if (p[0] != 255 || p[1] != y || p[2] != x || p[3] != 255) wrong++;
    }
  }
  EXPECT_EQ(wrong, 0u);
  q->geometryTop = savedTop;
  q->vertexCursor = q->vertexMark = savedTop;
  c->render.colorTargets[0] = nullptr;
  ReleaseSurface(&target);
}

} // namespace
