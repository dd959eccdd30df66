// One judged step of the threshold procedure: the posterior update and the
// choice of the next level over every level, at 60 Hz (15 levels) and at
// 500 Hz (125 levels); and the set-up a run pays once.
#include <benchmark/benchmark.h>

#include "threshold/psi.h"

static PsiState g_state;

static void BM_Update(benchmark::State& state) {
  int32_t period = int32_t(state.range(0));
  if (PsiInit(&g_state, period) != 0) { state.SkipWithError("init failed"); return; }
  uint64_t x = 1;
  for (auto _ : state) {
    // A fresh run every 80 steps keeps the posterior realistic.
    if (g_state.steps >= kPsiMaxSteps) {
      state.PauseTiming();
      PsiInit(&g_state, period);
      state.ResumeTiming();
    }
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    int32_t k = PsiNextLevel(&g_state);
    PsiUpdate(&g_state, k, (x >> 33) % 4 != 0 ? 1 : 0);
    benchmark::DoNotOptimize(g_state.nextLevel);
  }
  state.counters["levels"] = g_state.levelCount;
  state.counters["grid"] = g_state.gridCount;
}
BENCHMARK(BM_Update)->Arg(16666)->Arg(2000)->Unit(benchmark::kMicrosecond);

static void BM_Init(benchmark::State& state) {
  for (auto _ : state) {
    PsiInit(&g_state, int32_t(state.range(0)));
    benchmark::DoNotOptimize(g_state.nextLevel);
  }
}
BENCHMARK(BM_Init)->Arg(16666)->Arg(2000)->Unit(benchmark::kMillisecond);

// What the frame that starts a run pays: the tables are built at start-up.
static void BM_Restart(benchmark::State& state) {
  PsiInit(&g_state, int32_t(state.range(0)));
  for (auto _ : state) {
    PsiRestart(&g_state);
    benchmark::DoNotOptimize(g_state.nextLevel);
  }
}
BENCHMARK(BM_Restart)->Arg(16666)->Arg(2000)->Unit(benchmark::kMicrosecond);

static void BM_Estimate(benchmark::State& state) {
  PsiInit(&g_state, int32_t(state.range(0)));
  PsiEstimate e;
  for (auto _ : state) {
    PsiEstimateThreshold(&g_state, &e);
    benchmark::DoNotOptimize(e.medianMs);
  }
}
BENCHMARK(BM_Estimate)->Arg(16666)->Arg(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
