// Converter throughput on one 640 x 480 frame of elements.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "format/format.h"

namespace {

constexpr uint32_t kElements = 640 * 480;

void ConvertFrame(benchmark::State& state, int32_t dstFormat, int32_t srcFormat) {
  Converter converter;
  initConverter(&converter, dstFormat, srcFormat);
  std::vector<uint8_t> src((size_t)converter.srcElementSize * kElements);
  std::vector<uint8_t> dst((size_t)converter.dstElementSize * kElements);
  // Source values spread over the whole range, as a frame would have.
  const FormatInfo* srcInfo = formatInfo(srcFormat);
  for (uint32_t i = 0; i < kElements; ++i) {
    float ch[4] = {(float)(i % 256) / 255.0f, (float)(i % 97) / 96.0f, (float)(i % 1000) / 999.0f, 1.0f};
    srcInfo->ops.pack(&src[(size_t)i * converter.srcElementSize], ch);
  }
  for (auto _ : state) {
    converter.convertMany(&converter, dst.data(), src.data(), kElements);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed((int64_t)state.iterations() * kElements);
}

void BM_Unorm8BGRA_to_Fp32Vec4(benchmark::State& s) { ConvertFrame(s, Fp32Vec4, Unorm8BGRA); }
void BM_Fp32Vec4_to_Unorm8BGRA(benchmark::State& s) { ConvertFrame(s, Unorm8BGRA, Fp32Vec4); }
void BM_Fp32RGBA_to_Unorm8BGRA(benchmark::State& s) { ConvertFrame(s, Unorm8BGRA, Fp32RGBA); }
void BM_Unorm8BGRA_to_Fp32RGBA(benchmark::State& s) { ConvertFrame(s, Fp32RGBA, Unorm8BGRA); }
void BM_Unorm8RGB_to_Unorm8BGRA(benchmark::State& s) { ConvertFrame(s, Unorm8BGRA, Unorm8RGB); }
void BM_Generic_Fp16RGBA_to_Unorm16RGBA(benchmark::State& s) { ConvertFrame(s, Unorm16RGBA, Fp16RGBA); }
void BM_Copy_Unorm8RGBA_to_Unorm8Vec4(benchmark::State& s) { ConvertFrame(s, Unorm8Vec4, Unorm8RGBA); }

BENCHMARK(BM_Unorm8BGRA_to_Fp32Vec4);
BENCHMARK(BM_Fp32Vec4_to_Unorm8BGRA);
BENCHMARK(BM_Fp32RGBA_to_Unorm8BGRA);
BENCHMARK(BM_Unorm8BGRA_to_Fp32RGBA);
BENCHMARK(BM_Unorm8RGB_to_Unorm8BGRA);
BENCHMARK(BM_Generic_Fp16RGBA_to_Unorm16RGBA);
BENCHMARK(BM_Copy_Unorm8RGBA_to_Unorm8Vec4);

} // namespace

BENCHMARK_MAIN();
