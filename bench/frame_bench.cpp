// Whole frames through the command stream, the render thread and the job
// queues into the memory presenter: clear colour and depth, then N
// glyph-sized quads of text (12x26 and 24x26 pixels) alpha blended at one
// depth, in draws of up to 64 quads the way debug text records them. Each
// frame is timed from its first command to the return of EndFrame; median
// and p99 are computed here over the timed frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/resource.h>

#include "gfx/gfx.h"

namespace {

constexpr uint32_t kQuadsPerDraw = 64;
constexpr int kWarmUpFrames = 100;

struct Vertex {
  float x, y, z, w;
  float t[4];
};

struct Scene {
  QvGfxContext* context;
  MemoryPresenter presenter;
  Surface depth;
  Surface large; // Fp32RGBA 1024x2048
  Surface small; // Fp32RGBA 128x128
  Sampler sampler;
  float matrix[16];
  FontFsConstants fragment[2];
  AlphaTestConstants blend;
  // Prebuilt per draw: vertices and indices of up to 64 quads.
  std::vector<Vertex> vertices;
  std::vector<uint32_t> indices;
  std::vector<uint32_t> drawQuads;
};

// Deterministic texels with partial alpha.
void FillTexture(Surface* s, uint32_t seed) {
  const SurfaceLevel& l = s->levels[0];
  uint32_t state = seed * 2654435761u + 1;
  for (uint32_t y = 0; y < l.height; ++y) {
    float* row = reinterpret_cast<float*>(l.start + size_t(y) * l.pitch);
    for (uint32_t x = 0; x < l.width * 4; ++x) {
      state = state * 1664525u + 1013904223u;
      row[x] = float(state >> 24) / 255.0f;
    }
  }
}

// Rows of text on the 320x240 logical screen, wrapping back to the top.
void BuildQuads(Scene* s, uint32_t quadCount) {
  s->vertices.clear();
  s->indices.clear();
  s->drawQuads.clear();
  float x = 0, y = 0;
  uint32_t inDraw = 0;
  for (uint32_t q = 0; q < quadCount; ++q) {
    float width = (q % 5 == 2) ? 12.0f : 6.0f;
    if (x + width > 320.0f) {
      x = 0;
      y += 13.0f;
      if (y + 13.0f > 240.0f) y = 0;
    }
    // A cell of the glyph grid the width of the quad, 13 texels high,
    // spread over the texture so that samples touch many cache lines.
    uint32_t cell = (q * 37u) % 4096u;
    float tw = 1024.0f, th = 2048.0f;
    float x0 = float((cell % 78) * 13 + 1), y0 = float((cell / 78) * 14 + 1);
    float u0 = 2.0f * x0 / tw - 1.0f, u1 = 2.0f * (x0 + width) / tw - 1.0f;
    float vt = 1.0f - 2.0f * y0 / th, vb = 1.0f - 2.0f * (y0 + 13.0f) / th;
    const float corners[4][4] = {{x, y, u0, vt}, {x + width, y, u1, vt}, {x, y + 13, u0, vb}, {x + width, y + 13, u1, vb}};
    uint32_t k = inDraw * 4;
    for (const auto& c : corners) s->vertices.push_back(Vertex{c[0], c[1], 0.0f, 1.0f, {c[2], c[3], 1.0f, 1.0f}});
    const uint32_t order[6] = {k, k + 2, k + 1, k + 1, k + 2, k + 3};
    s->indices.insert(s->indices.end(), order, order + 6);
    x += width;
    if (++inDraw == kQuadsPerDraw) {
      s->drawQuads.push_back(inDraw);
      inDraw = 0;
    }
  }
  if (inDraw) s->drawQuads.push_back(inDraw);
}

int32_t CreateScene(Scene* s, uint32_t processors) {
  s->context = static_cast<QvGfxContext*>(calloc(1, sizeof(QvGfxContext)));
  if (!s->context || CreateContext(s->context, processors) != 0) return 1;
  if (CreateCommandStream(s->context) != 0) return 1;
  if (CreateMemoryPresenter(&s->presenter, 1) != 0) return 1;
  if (CreateSurface(&s->depth, Fp32, 640, 480) != 0) return 1;
  if (CreateSurface(&s->large, Fp32RGBA, 1024, 2048) != 0) return 1;
  if (CreateSurface(&s->small, Fp32RGBA, 128, 128) != 0) return 1;
  FillTexture(&s->large, 1);
  FillTexture(&s->small, 2);
  const uint32_t words[14] = {1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1};
  memcpy(&s->sampler, words, sizeof(words));
  const float m[16] = {2.0f / 320, 0, 0, 0, 0, -2.0f / 240, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
  memcpy(s->matrix, m, sizeof(m));
  s->fragment[0] = FontFsConstants{&s->large, &s->sampler, {1.0f, 0.9f, 0.8f, 0.85f}};
  s->fragment[1] = FontFsConstants{&s->small, &s->sampler, {0.7f, 1.0f, 0.6f, 0.9f}};
  s->blend = AlphaTestConstants{CompareFunction::Always, 0.0f};
  return 0;
}

void DestroyScene(Scene* s) {
  if (s->context) {
    if (s->context->stream.renderThread) {
      Finish(s->context);
      Quit(s->context);
      DestroyCommandStream(s->context);
    }
    DestroyContext(s->context);
    free(s->context);
  }
  ReleaseSurface(&s->depth);
  ReleaseSurface(&s->large);
  ReleaseSurface(&s->small);
  DestroyMemoryPresenter(&s->presenter);
}

void RecordFrame(Scene* s) {
  QvGfxContext* c = s->context;
  const float zero = 0.0f;
  const uint8_t black[4] = {0, 0, 0, 255};
  RecordSetViewport(c, 0, 0, 640, 480);
  RecordSetDepthRange(c, 1.0f, 0.0f);
  RecordBindDepthTarget(c, &s->depth);
  RecordBindColorTarget(c, 0, &s->presenter.base);
  RecordClearDepth(c, &zero, 4);
  RecordClearColor(c, 0, black, 4);
  RecordSetDepthCompare(c, CompareFunction::GreaterEqual);
  RecordSetSortMode(c, SortMode::SortNearestFirst);
  RecordBindBlendStage(c, &AlphaBlendBs);
  RecordBindBlendConstants(c, &s->blend);
  RecordBindVertexStage(c, &FontVs);
  RecordBindFragmentStage(c, &FontFs);
  RecordSetVertexConstants(c, s->matrix, sizeof(s->matrix), 4);
  const VertexElement position = {0, 0, 32, AttributeType::AttrFloat32, 4};
  const VertexElement texture = {0, 16, 32, AttributeType::AttrFloat32, 4};
  uint32_t firstQuad = 0;
  for (size_t d = 0; d < s->drawQuads.size(); ++d) {
    uint32_t n = s->drawQuads[d];
    RecordSetFragmentConstants(c, &s->fragment[d % 4 == 3 ? 1 : 0], sizeof(FontFsConstants), 8);
    RecordSetVertexStream(c, 0, &s->vertices[size_t(firstQuad) * 4], size_t(n) * 4 * sizeof(Vertex));
    RecordSetVertexElement(c, 0, &position);
    RecordSetVertexElement(c, 1, &texture);
    RecordSetIndexData(c, IndexFormat::Index32, &s->indices[size_t(firstQuad) * 6], size_t(n) * 6 * sizeof(uint32_t));
    RecordSetTopology(c, Topology::TriangleList);
    RecordDrawIndexed(c, n * 6);
    firstQuad += n;
  }
  EndFrame(c, &s->presenter.base, PresentMode::Immediate);
}

double Percentile(std::vector<double>* v, double p) {
  std::sort(v->begin(), v->end());
  size_t i = size_t(p * double(v->size() - 1) + 0.5);
  return (*v)[std::min(i, v->size() - 1)];
}

long MinorFaults() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// User and system time of every thread of the process: the work a frame
// costs whatever else the machine is doing.
double ProcessCpuMs() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void BM_Frame(benchmark::State& state) {
  const uint32_t quads = uint32_t(state.range(0));
  const uint32_t threads = uint32_t(state.range(1));
  Scene* s = new Scene();
  if (CreateScene(s, threads) != 0) {
    state.SkipWithError("set-up failed");
    DestroyScene(s);
    delete s;
    return;
  }
  BuildQuads(s, quads);
  for (int i = 0; i < kWarmUpFrames; ++i) RecordFrame(s);

  std::vector<double> ms;
  ms.reserve(size_t(state.max_iterations));
  long faults = MinorFaults();
  double cpu = ProcessCpuMs();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    RecordFrame(s);
    auto end = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  faults = MinorFaults() - faults;
  cpu = ProcessCpuMs() - cpu;
  double total = 0;
  for (double v : ms) total += v;
  double median = Percentile(&ms, 0.5);
  state.counters["median_ms"] = median;
  state.counters["p99_ms"] = Percentile(&ms, 0.99);
  state.counters["mean_ms"] = total / double(ms.size());
  state.counters["quads_per_s"] = median > 0 ? double(quads) / (median / 1000.0) : 0.0;
  state.counters["cpu_ms_per_frame"] = cpu / double(ms.size());
  state.counters["faults_per_frame"] = double(faults) / double(ms.size());
  DestroyScene(s);
  delete s;
}

void Args(benchmark::internal::Benchmark* b, bool largest) {
  b->ArgNames({"quads", "threads"});
  const int64_t counts[] = {0, 150, 400, 2000};
  const int64_t threadCounts[] = {1, int64_t(ProcessorCount())};
  for (int64_t t : threadCounts) {
    if (largest) b->Args({20000, t});
    else
      for (int64_t n : counts) b->Args({n, t});
    if (ProcessorCount() == 1) break;
  }
}

void SmallArgs(benchmark::internal::Benchmark* b) { Args(b, false); }
void LargestArgs(benchmark::internal::Benchmark* b) { Args(b, true); }

} // namespace

BENCHMARK(BM_Frame)->Name("Frame")->Apply(SmallArgs)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame)->Name("Frame")->Apply(LargestArgs)->Iterations(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
