// Job queue throughput and latency.
#include <benchmark/benchmark.h>

#include "runtime/runtime.h"

static void EmptyJob(void* user, uint32_t index, uint32_t count) { benchmark::DoNotOptimize(index); }

// Empty jobs per second over every worker plus the waiting thread.
static void BM_EmptyJobs(benchmark::State& state) {
  uint32_t threads = static_cast<uint32_t>(state.range(0));
  uint32_t batch = static_cast<uint32_t>(state.range(1));
  JobQueue queue;
  CreateJobQueue(&queue, threads * 1024, threads);
  for (auto _ : state) {
    SubmitJobs(&queue, batch, EmptyJob, nullptr);
    WaitJobs(&queue);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * batch);
  DestroyJobQueue(&queue);
}
BENCHMARK(BM_EmptyJobs)
    ->ArgsProduct({{1, 2, 4, static_cast<int64_t>(ProcessorCount())}, {65536}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Submit-to-WaitJobs latency of one batch of 64.
static void BM_Batch64Latency(benchmark::State& state) {
  uint32_t threads = static_cast<uint32_t>(state.range(0));
  JobQueue queue;
  CreateJobQueue(&queue, threads * 1024, threads);
  for (auto _ : state) {
    SubmitJobs(&queue, 64, EmptyJob, nullptr);
    WaitJobs(&queue);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 64);
  DestroyJobQueue(&queue);
}
BENCHMARK(BM_Batch64Latency)->Arg(2)->Arg(static_cast<int64_t>(ProcessorCount()))->UseRealTime()->Unit(benchmark::kMicrosecond);

static void BM_SemaphoreUncontended(benchmark::State& state) {
  Semaphore32 s;
  Semaphore32Init(&s, 0);
  for (auto _ : state) {
    Semaphore32Release(&s, 1);
    Semaphore32Acquire(&s, 1);
  }
  Semaphore32Destroy(&s);
}
BENCHMARK(BM_SemaphoreUncontended);

BENCHMARK_MAIN();
