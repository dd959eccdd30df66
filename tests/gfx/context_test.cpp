// Graphics context through its commands: redundant state, viewport and depth
// range derivations, deferred clears, the upload halves and bindings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "gfx_harness.h"

namespace {

// What a probe command copies out of the context on the render thread.
struct Probe {
  uint32_t uploadCurrent;
  uint64_t snapshotBytes; // snapshot cursor - region start
  int32_t pipelineChanged;
  int32_t inputChanged;
  int32_t binsPhase;
  uint32_t tileJobCount;
  RenderState render;
  PipelineState pipeline;
  InputState input;
  Binding indexData;
  uint8_t* halfStart[2];
};

struct ProbeCommand {
  GfxCommand header;
  Probe* out;
};

GfxCommand* ExecuteProbe(QvGfxContext* c, GfxCommand* command) {
  Probe* p = reinterpret_cast<ProbeCommand*>(command)->out;
  p->uploadCurrent = c->upload.current;
  p->snapshotBytes = uint64_t(c->batch.cursor - c->batch.regionStart);
  p->pipelineChanged = c->batch.pipelineChanged;
  p->inputChanged = c->batch.inputChanged;
  p->binsPhase = c->binner.phase.load();
  p->tileJobCount = c->binner.tileJobCount;
  p->render = c->render;
  p->pipeline = c->pipeline;
  p->input = c->input;
  p->indexData = c->indexData;
  p->halfStart[0] = c->upload.halves[0].start;
  p->halfStart[1] = c->upload.halves[1].start;
  return NextCommand(command);
}

void RecordProbe(QvGfxContext* c, Probe* out) {
  ProbeCommand* k = static_cast<ProbeCommand*>(AllocCommand(c, sizeof(ProbeCommand)));
  ASSERT_NE(k, nullptr);
  k->header.size = sizeof(ProbeCommand);
  k->header.execute = ExecuteProbe;
  k->out = out;
  SubmitCommand(c, sizeof(ProbeCommand));
}

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateMemoryPresenter(&presenter, 2), 0);
    context = NewTestContext(2, true);
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(CreateSurface(&depth, Fp32, 640, 480), 0);
  }
  void TearDown() override {
    DeleteTestContext(context);
    ReleaseSurface(&depth);
    DestroyMemoryPresenter(&presenter);
  }
  static const AlphaTestConstants* BlendConstantsOfPreamble() {
    static const AlphaTestConstants kAlways = {CompareFunction::Always, 0.0f};
    return &kAlways;
  }
  // The preamble the application records every frame.
  void RecordPreamble() {
    float zero = 0.0f;
    uint8_t black[4] = {0, 0, 0, 0};
    RecordSetViewport(context, 0, 0, 640, 480);
    RecordSetDepthRange(context, 1.0f, 0.0f);
    RecordBindDepthTarget(context, &depth);
    RecordBindColorTarget(context, 0, &presenter.base);
    RecordClearDepth(context, &zero, 4);
    RecordClearColor(context, 0, black, 4);
    RecordSetDepthCompare(context, CompareFunction::GreaterEqual);
    RecordSetSortMode(context, SortMode::SortNearestFirst);
    RecordBindBlendStage(context, &AlphaBlendBs);
    RecordBindBlendConstants(context, BlendConstantsOfPreamble());
  }
  Probe TakeProbe() {
    Probe p;
    RecordProbe(context, &p);
    Finish(context);
    return p;
  }
  QvGfxContext* context = nullptr;
  MemoryPresenter presenter;
  Surface depth;
};

// ---- Independent model of the viewport edges ------------------------------------
// Integers sharing the largest exponent of (p, q, r), from the float bits.
void PlaneToIntegers(const float in[3], int64_t out[3]) {
  int largest = -1000;
  for (int i = 0; i < 3; i++) {
    if (in[i] != 0.0f) {
      int e;
      std::frexp(in[i], &e);
      if (e > largest) largest = e;
    }
  }
  for (int i = 0; i < 3; i++) {
    if (in[i] == 0.0f) {
      out[i] = 0;
      continue;
    }
    int e;
    double m = std::frexp(std::fabs(double(in[i])), &e); // m in [0.5, 1)
    int64_t mantissa = int64_t(m * (1 << 24));          // 24 bits with the leading one
    int shift = largest - e + 10;
    int64_t v = shift >= 32 ? 0 : (mantissa >> shift);
    out[i] = in[i] < 0 ? -v : v;
  }
}

EdgeEquation ModelViewportEdge(const float plane[3], int64_t x, int64_t y, int64_t w, int64_t h) {
  int64_t v[3];
  PlaneToIntegers(plane, v);
  int64_t a = v[0], b = v[1], c = v[2];
  int64_t C = c * w * h - a * h * (2 * x + w) - b * w * (2 * y + h) + a * h + b * w;
  if (a < 0 || (a == 0 && b < 0)) C -= 1;
  return EdgeEquation{int32_t(a), int32_t(b), C};
}

int64_t EdgeAt(const EdgeEquation& e, int64_t px, int64_t py, int64_t w, int64_t h) {
  return int64_t(e.a) * (2 * h * px) + int64_t(e.b) * (2 * w * py) + e.c;
}

void CheckViewport(const RenderState& s, int32_t x, int32_t y, int32_t w, int32_t h) {
  EXPECT_EQ(s.viewportX, x);
  EXPECT_EQ(s.viewportY, y);
  EXPECT_EQ(s.viewportWidth, w);
  EXPECT_EQ(s.viewportHeight, h);
  EXPECT_EQ(s.halfWidth, float(w) / 2);
  EXPECT_EQ(s.halfHeight, float(h) / 2);
  EXPECT_EQ(s.centreX, float(x) + float(w) / 2);
  EXPECT_EQ(s.centreY, float(y) + float(h) / 2);
  EXPECT_FLOAT_EQ(s.rcpHalfWidth, 2.0f / float(w));
  EXPECT_FLOAT_EQ(s.rcpHalfHeight, 2.0f / float(h));
  static const float planes[4][3] = {{1, 0, 1}, {-1, 0, 1}, {0, 1, 1}, {0, -1, 1}};
  for (int i = 0; i < 4; i++) {
    EdgeEquation m = ModelViewportEdge(planes[i], x, y, w, h);
    EXPECT_EQ(s.viewportEdges[i].a, m.a) << "edge " << i;
    EXPECT_EQ(s.viewportEdges[i].b, m.b) << "edge " << i;
    EXPECT_EQ(s.viewportEdges[i].c, m.c) << "edge " << i;
  }
  // Together the four edges select exactly the viewport's pixels.
  for (int64_t py = y - 2; py < y + h + 2; py += (py > y + 2 && py < y + h - 3) ? 17 : 1) {
    for (int64_t px = x - 2; px < x + w + 2; px += (px > x + 2 && px < x + w - 3) ? 13 : 1) {
      bool inside = true;
      for (int i = 0; i < 4; i++) inside = inside && EdgeAt(s.viewportEdges[i], px, py, w, h) >= 0;
      bool expected = px >= x && px < x + w && py >= y && py < y + h;
      ASSERT_EQ(inside, expected) << px << "," << py;
    }
  }
}

TEST_F(ContextTest, ViewportDerivations) {
  RecordSetViewport(context, 0, 0, 640, 480);
  Probe a = TakeProbe();
  EXPECT_EQ(a.render.tileFirst, 0u);
  EXPECT_EQ(a.render.tileEnd, 0x80000u);
  EXPECT_EQ(a.render.blockLevel, 10u);
  EXPECT_EQ(a.render.blockX, 0u);
  EXPECT_EQ(a.render.blockY, 0u);
  CheckViewport(a.render, 0, 0, 640, 480);

  RecordSetViewport(context, 0, 0, 320, 240);
  Probe b = TakeProbe();
  EXPECT_EQ(b.render.tileFirst, 0u);
  EXPECT_EQ(b.render.tileEnd, 1u << 17); // 512 x 256 pixels
  EXPECT_EQ(b.render.blockLevel, 9u);
  CheckViewport(b.render, 0, 0, 320, 240);

  RecordSetViewport(context, 37, 101, 250, 90);
  Probe c = TakeProbe();
  CheckViewport(c.render, 37, 101, 250, 90);
  EXPECT_LE(c.render.tileFirst, MortonCode(37, 101));
  EXPECT_GT(c.render.tileEnd, MortonCode(37 + 249, 101 + 89));
}

TEST_F(ContextTest, ZeroSizedViewportDrawsNothing) {
  RecordPreamble();
  RecordSetViewport(context, 10, 10, 0, 0);
  RecordSetTopology(context, Topology::TriangleList);
  static const float kTriangle[12] = {-1, -1, 0, 1, 1, -1, 0, 1, -1, 1, 0, 1};
  static const uint16_t kIndices[3] = {0, 1, 2};
  VertexElement e = {0, 0, 16, AttributeType::AttrFloat32, 4};
  RecordSetVertexStream(context, 0, kTriangle, sizeof(kTriangle));
  RecordSetVertexElement(context, 0, &e);
  RecordSetIndexData(context, IndexFormat::Index16, kIndices, sizeof(kIndices));
  RecordDrawIndexed(context, 3);
  Probe p = TakeProbe();
  EXPECT_EQ(p.render.viewportWidth, 0);
  EXPECT_EQ(p.render.tileFirst, p.render.tileEnd);
  EXPECT_EQ(p.binsPhase, kBinsClosed);
  EndFrame(context, &presenter.base, PresentMode::PresentThenLimit);
}

TEST_F(ContextTest, DepthRangeNumbers) {
  RecordSetDepthRange(context, 1.0f, 0.0f);
  Probe p = TakeProbe();
  EXPECT_EQ(p.render.depthNear, 1.0f);
  EXPECT_EQ(p.render.depthFar, 0.0f);
  EXPECT_EQ(p.render.depthMin, 0.0f);
  EXPECT_EQ(p.render.depthMax, 1.0f);
  EXPECT_EQ(p.render.depthScale, -0.5f);
  EXPECT_EQ(p.render.depthOffset, 0.5f);
  RecordSetDepthRange(context, 0.25f, 0.75f);
  p = TakeProbe();
  EXPECT_EQ(p.render.depthMin, 0.25f);
  EXPECT_EQ(p.render.depthMax, 0.75f);
  EXPECT_EQ(p.render.depthScale, 0.25f);
  EXPECT_EQ(p.render.depthOffset, 0.5f);
}

// Each FlushDraws switches the upload half, so the half index tells an even
// from an odd number of flushes between two probes.
TEST_F(ContextTest, RedundantStateCommandsNeitherFlushNorSnapshot) {
  static const float kTriangle[12] = {-1, -1, 0, 1, 1, -1, 0, 1, -1, 1, 0, 1};
  static const uint16_t kIndices[3] = {0, 1, 2};
  VertexElement e = {0, 0, 16, AttributeType::AttrFloat32, 4};
  RecordPreamble();
  RecordSetVertexStream(context, 0, kTriangle, sizeof(kTriangle));
  RecordSetVertexElement(context, 0, &e);
  RecordSetIndexData(context, IndexFormat::Index16, kIndices, sizeof(kIndices));
  RecordSetTopology(context, Topology::TriangleList);
  RecordDrawIndexed(context, 3);
  Probe a;
  RecordProbe(context, &a);
  // Every state command again with the bound values (clears excepted: they
  // always flush).
  RecordSetViewport(context, 0, 0, 640, 480);
  RecordSetDepthRange(context, 1.0f, 0.0f);
  RecordBindDepthTarget(context, &depth);
  RecordBindColorTarget(context, 0, &presenter.base);
  RecordSetDepthCompare(context, CompareFunction::GreaterEqual);
  RecordSetSortMode(context, SortMode::SortNearestFirst);
  RecordBindBlendStage(context, &AlphaBlendBs);
  RecordBindBlendConstants(context, BlendConstantsOfPreamble());
  RecordSetVertexElement(context, 0, &e);
  RecordBindVertexStage(context, nullptr);
  RecordBindFragmentStage(context, nullptr);
  RecordSetTopology(context, Topology::TriangleList);
  RecordDrawIndexed(context, 3);
  Probe c;
  RecordProbe(context, &c);
  // A changed pipeline value: a new pipeline snapshot but no flush.
  RecordSetDepthCompare(context, CompareFunction::Greater);
  RecordDrawIndexed(context, 3);
  Probe d;
  RecordProbe(context, &d);
  // A changed viewport flushes.
  RecordSetViewport(context, 0, 0, 320, 240);
  Probe e2;
  RecordProbe(context, &e2);
  Finish(context);

  EXPECT_EQ(a.pipelineChanged, 0);
  EXPECT_EQ(a.inputChanged, 0);
  EXPECT_GT(a.snapshotBytes, 0u);
  EXPECT_EQ(c.snapshotBytes, a.snapshotBytes);
  EXPECT_EQ(c.uploadCurrent, a.uploadCurrent);
  EXPECT_EQ(c.pipelineChanged, 0);
  EXPECT_EQ(c.inputChanged, 0);
  EXPECT_GT(d.snapshotBytes, c.snapshotBytes);
  EXPECT_LT(d.snapshotBytes - c.snapshotBytes, sizeof(InputState));
  EXPECT_EQ(d.uploadCurrent, c.uploadCurrent);
  EXPECT_EQ(d.pipeline.depthCompare, CompareFunction::Greater);
  EXPECT_NE(e2.uploadCurrent, d.uploadCurrent);
  EXPECT_EQ(e2.snapshotBytes, 0u);
}

TEST_F(ContextTest, StageBindingsAndBlendConstantsByReference) {
  static const AlphaTestConstants kTest = {CompareFunction::Greater, 0.5f};
  RecordBindVertexStage(context, &FontVs);
  Probe a = TakeProbe();
  EXPECT_EQ(a.pipeline.vertexStage, &FontVs);
  RecordBindVertexStage(context, nullptr);
  RecordBindBlendConstants(context, &kTest);
  RecordFlush(context);
  RecordFlush(context);
  Probe b = TakeProbe();
  EXPECT_EQ(b.pipeline.vertexStage, &NullVs);
  // Held by reference: never copied into the upload area, however often it flushes.
  EXPECT_EQ(b.pipeline.blendConstants.data, &kTest);
  EXPECT_EQ(b.pipeline.blendConstants.size, -1);
}

TEST_F(ContextTest, ClearWithoutTargetChangesNothing) {
  uint8_t white[4] = {255, 255, 255, 255};
  Probe a, b;
  RecordProbe(context, &a);
  RecordClearColor(context, 0, white, 4);
  RecordClearColor(context, 15, white, 4);
  RecordClearColor(context, 99, white, 4); // no such slot
  RecordClearDepth(context, white, 4);
  RecordProbe(context, &b);
  Finish(context);
  EXPECT_EQ(b.uploadCurrent, a.uploadCurrent); // no flush
  EXPECT_EQ(memcmp(&a.render, &b.render, sizeof(RenderState)), 0);
  EXPECT_EQ(RecordClearColor(context, 0, white, 17), 1); // more than one element
}

TEST_F(ContextTest, RebindingTheSameColourTargetKeepsThePendingClear) {
  uint8_t grey[4] = {128, 128, 128, 255};
  RecordSetViewport(context, 0, 0, 640, 480);
  RecordBindColorTarget(context, 0, &presenter.base);
  RecordClearColor(context, 0, grey, 4);
  Probe a;
  RecordProbe(context, &a);
  RecordBindColorTarget(context, 0, &presenter.base);
  Probe b;
  RecordProbe(context, &b);
  EndFrame(context, &presenter.base, PresentMode::PresentThenLimit);
  EXPECT_EQ(a.render.colorClearState[0], kClearPending);
  EXPECT_EQ(b.render.colorClearState[0], kClearPending);
  EXPECT_EQ(b.uploadCurrent, a.uploadCurrent);
  EXPECT_EQ(b.binsPhase, kBinsClosed);
  // Present carried the clear out over the whole frame.
  const uint8_t* f = MemoryPresenterFrame(&presenter, 0);
  ASSERT_NE(f, nullptr);
  for (uint32_t y = 0; y < 480; y += 3)
    for (uint32_t x = 0; x < 640; x += 7) ASSERT_EQ(memcmp(f + y * 2560 + x * 4, grey, 4), 0) << x << "," << y;
}

TEST_F(ContextTest, ClearOfAHalfSizedViewportRunsItsTiles) {
  uint8_t red[4] = {0, 0, 255, 255};
  RecordSetViewport(context, 0, 0, 320, 240);
  RecordBindColorTarget(context, 0, &presenter.base);
  RecordClearColor(context, 0, red, 4);
  RecordFlush(context);
  Probe p = TakeProbe();
  EXPECT_EQ(p.tileJobCount, 300u); // 20 x 15 tiles of the 512 walked
  EXPECT_EQ(p.render.colorClearState[0], kClearNone);
  EndFrame(context, &presenter.base, PresentMode::PresentThenLimit);
  const uint8_t* f = MemoryPresenterFrame(&presenter, 0);
  ASSERT_NE(f, nullptr);
  for (uint32_t y = 0; y < 480; y += 1) {
    for (uint32_t x = 0; x < 640; x += (y % 16 == 0) ? 1 : 5) {
      bool inside = x < 320 && y < 240;
      ASSERT_EQ(memcmp(f + y * 2560 + x * 4, red, 4) == 0, inside) << x << "," << y;
    }
  }
}

TEST_F(ContextTest, UploadPayloadThatDoesNotFitGoesToTheOtherHalf) {
  static uint8_t a[600000], b[300000], c[600000];
  for (size_t i = 0; i < sizeof(a); i++) {
    a[i] = uint8_t(i * 7);
    c[i] = uint8_t(i * 13 + 1);
  }
  for (size_t i = 0; i < sizeof(b); i++) b[i] = uint8_t(i * 3 + 5);
  Probe p0 = TakeProbe(); // Finish flushed: the current half is empty
  RecordSetVertexConstants(context, a, sizeof(a), 16);
  RecordSetFragmentConstants(context, b, sizeof(b), 16);
  Probe p1;
  RecordProbe(context, &p1);
  // The new vertex constants do not fit beside the others.
  RecordSetVertexConstants(context, c, sizeof(c), 16);
  Probe p2;
  RecordProbe(context, &p2);
  Finish(context);

  // The probe ran before Finish's flush switched halves.
  uint32_t h = 1 - p0.uploadCurrent;
  EXPECT_EQ(p1.uploadCurrent, h);
  uint8_t* start = p1.halfStart[h];
  EXPECT_EQ(p1.pipeline.vertexConstants.data, start);
  EXPECT_EQ(p1.pipeline.fragmentConstants.data, start + sizeof(a));
  EXPECT_EQ(p1.pipeline.fragmentConstants.size, int64_t(sizeof(b)));
  // After the flush: the surviving binding is copied first, then the new one.
  EXPECT_EQ(p2.uploadCurrent, 1 - h);
  uint8_t* other = p2.halfStart[1 - h];
  EXPECT_EQ(p2.pipeline.fragmentConstants.data, other);
  EXPECT_EQ(p2.pipeline.vertexConstants.data, other + sizeof(b));
  EXPECT_EQ(p2.pipeline.vertexConstants.size, int64_t(sizeof(c)));
  EXPECT_EQ(p2.pipeline.vertexConstants.alignment, 16u);
  // The render thread is idle now; the bound copies are readable.
  EXPECT_EQ(memcmp(context->pipeline.fragmentConstants.data, b, sizeof(b)), 0);
  EXPECT_EQ(memcmp(context->pipeline.vertexConstants.data, c, sizeof(c)), 0);
}

std::string* s_failureLog = nullptr;
int64_t CaptureFailure(const char* message) {
  s_failureLog->append(message);
  return 0;
}

// Every refused record logs the step's failure line the way every other step
// does ("<step> ... failed."), with its detail on lines of their own.
TEST_F(ContextTest, RefusedRecordsLogTheFailureLineThenTheDetail) {
  std::string log;
  s_failureLog = &log;
  LogSink previous = LogExchangeSinkForTest(CaptureFailure);
  static uint8_t data[64];
  EXPECT_EQ(RecordSetVertexConstants(context, data, 16, 3), 1);
  EXPECT_EQ(RecordSetFragmentConstants(context, data, kMaxInlineBytes + 1, 16), 1);
  EXPECT_EQ(RecordClearDepth(context, data, 17), 1);
  EXPECT_EQ(RecordClearColor(context, 0, data, 17), 1);
  EXPECT_EQ(RecordSetIndexData(context, 0, data, kMaxInlineBytes + 1), 1);
  LogExchangeSinkForTest(previous);
  s_failureLog = nullptr;
  EXPECT_EQ(log, "SetConstants ... failed.\n\talignment=3\n"
                 "SetConstants ... failed.\n\tsize=" + std::to_string(kMaxInlineBytes + 1) + "\n"
                 "ClearDepth ... failed.\n\tbyteCount=17\n"
                 "ClearColor ... failed.\n\tbyteCount=17\n"
                 "SetIndexData ... failed.\n\tsize=" + std::to_string(kMaxInlineBytes + 1) + "\n");
}

TEST(LinearAllocator, AllocReleaseReset) {
  alignas(16) static uint8_t buffer[256];
  LinearAllocator a;
  LinearInit(&a, buffer, sizeof(buffer));
  EXPECT_EQ(LinearAlloc(&a, 0, 4), nullptr);
  uint8_t* p = static_cast<uint8_t*>(LinearAlloc(&a, 3, 1));
  EXPECT_EQ(p, buffer);
  uint8_t* q = static_cast<uint8_t*>(LinearAlloc(&a, 16, 16));
  EXPECT_EQ(q, buffer + 16);
  EXPECT_EQ(LinearReleaseLast(&a, nullptr), kLinearNull);
  EXPECT_EQ(LinearReleaseLast(&a, p), kLinearNotLast);
  EXPECT_EQ(LinearReleaseLast(&a, q), kLinearReleased);
  EXPECT_EQ(a.cursor, buffer + 3); // back to before the aligned allocation
  EXPECT_EQ(LinearAlloc(&a, 254, 1), nullptr); // 3 + 254 > 256
  uint8_t* r = static_cast<uint8_t*>(LinearAlloc(&a, 253, 1));
  EXPECT_EQ(r, buffer + 3);
  EXPECT_EQ(LinearAlloc(&a, 1, 1), nullptr);
  EXPECT_EQ(LinearNop(&a), 0);
  LinearReset(&a);
  EXPECT_EQ(LinearAlloc(&a, 256, 8), buffer);
}

TEST(Context, FramesReachThePresenterInOrder) {
  MemoryPresenter presenter;
  ASSERT_EQ(CreateMemoryPresenter(&presenter, 4), 0);
  QvGfxContext* c = NewTestContext(3, true);
  ASSERT_NE(c, nullptr);
  for (uint32_t frame = 0; frame < 6; frame++) {
    uint8_t colour[4] = {uint8_t(frame), uint8_t(2 * frame), uint8_t(3 * frame), 255};
    RecordSetViewport(c, 0, 0, 640, 480);
    RecordBindColorTarget(c, 0, &presenter.base);
    RecordClearColor(c, 0, colour, 4);
    EndFrame(c, &presenter.base, PresentMode::PresentThenLimit);
    // EndFrame returns only once the frame has been presented.
    ASSERT_EQ(MemoryPresenterPresentedCount(&presenter), frame + 1);
    EXPECT_EQ(c->stream.frameDone.value.load(), int32_t(frame + 1));
    const uint8_t* f = MemoryPresenterFrame(&presenter, frame);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(memcmp(f + 479 * 2560 + 639 * 4, colour, 4), 0);
  }
  EXPECT_EQ(presenter.lastMode.load(), 5u);
  DeleteTestContext(c);
  DestroyMemoryPresenter(&presenter);
}

} // namespace
