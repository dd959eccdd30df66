// Point sampling of an Fp32RGBA 1024 x 2048 texture with the program's text
// sampler (point filters, nearest level, wrap, kernel 1).
#include <benchmark/benchmark.h>

#include <cstring>

#include "format/format.h"

namespace {

const Sampler kProgramSampler = {1, 1, 1, 2, 2, 2, {0.0f, 0.0f, 0.0f}, 0, 0, 0, 1, 1};

void BM_SamplePointFp32RGBA(benchmark::State& state) {
  Surface surface;
  if (CreateSurface(&surface, Fp32RGBA, 1024, 2048) != 0) {
    state.SkipWithError("no storage");
    return;
  }
  for (uint32_t y = 0; y < 2048; ++y)
    for (uint32_t x = 0; x < 1024; ++x) {
      float v[4] = {static_cast<float>(x), static_cast<float>(y), 0.5f, 1.0f};
      surface.StoreElement(&surface, 0, x, y, v);
    }
  // A 640 x 480 grid of pixels stepping through the texture a little faster
  // than one texel per pixel, as scaled text does.
  const uint32_t kWidth = 640, kHeight = 480;
  float sum = 0.0f;
  for (auto _ : state) {
    for (uint32_t j = 0; j < kHeight; ++j) {
      float v = 1.0f - static_cast<float>(j) * (2.5f / kHeight);
      for (uint32_t i = 0; i < kWidth; ++i) {
        float pixel[4] = {-1.0f + static_cast<float>(i) * (2.5f / kWidth), v, 0.0f, 1.25f};
        float result[4];
        SampleSurface(&surface, &kProgramSampler, pixel, result);
        sum += result[0];
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
  ReleaseSurface(&surface);
}
BENCHMARK(BM_SamplePointFp32RGBA)->Unit(benchmark::kMillisecond);

// The same through the general kernel (kernel 2), for comparison.
void BM_SamplePointFp32RGBAGeneral(benchmark::State& state) {
  Surface surface;
  if (CreateSurface(&surface, Fp32RGBA, 1024, 2048) != 0) {
    state.SkipWithError("no storage");
    return;
  }
  Sampler sampler = kProgramSampler;
  sampler.kernel = 2;
  float sum = 0.0f;
  for (auto _ : state) {
    for (uint32_t j = 0; j < 480; ++j)
      for (uint32_t i = 0; i < 640; ++i) {
        float pixel[4] = {-1.0f + static_cast<float>(i) * (2.5f / 640), 1.0f - static_cast<float>(j) * (2.5f / 480),
                          0.0f, 1.25f};
        float result[4];
        SampleSurface(&surface, &sampler, pixel, result);
        sum += result[0];
      }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 640 * 480);
  ReleaseSurface(&surface);
}
BENCHMARK(BM_SamplePointFp32RGBAGeneral)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
