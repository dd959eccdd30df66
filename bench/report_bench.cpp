// Reading a results file of one million steps (about 52 MB).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "report/results_reader.h"

static const char* kPath = "report_bench_results.csv";

static void MakeFile(int64_t lines) {
  FILE* f = std::fopen(kPath, "wb");
  if (!f) return;
  std::fputs("run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,"
             "max_interval_ms\n", f);
  for (int64_t i = 0; i < lines; ++i) {
    int64_t run = i / 20, ok = (i * 7) % 10 < 7;
    std::fprintf(f, "2026-%02d-%02dT%02d:%02d:%02d,linux,%d,%d,A,%s,%d,%d,%d,%d,%d.%03d\n", int(1 + run % 12),
                 int(1 + run / 12 % 28), int(run / 336 % 24), int(run / 8064 % 60), int(run % 60), int(2 + run % 7),
                 int(i % 20), ok ? "A" : "B", int(ok), int(i % 9), int(200 + i % 700), int(i % 50 == 0),
                 int(16 + i % 9), int(i % 1000));
  }
  std::fclose(f);
}

static void BM_ReadMillionLines(benchmark::State& state) {
  MakeFile(1000000);
  ResultsTally t;
  if (ResultsInit(&t) != 0) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) {
    ResultsFree(&t);
    ResultsInit(&t);
    if (ResultsReadFile(&t, kPath, nullptr) != 0 || t.goodLines != 1000000) state.SkipWithError("read failed");
    ResultsFinish(&t);
    benchmark::DoNotOptimize(t.levels[0].right);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
  ResultsFree(&t);
  std::remove(kPath);
}
BENCHMARK(BM_ReadMillionLines)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
