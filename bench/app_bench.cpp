// Whole frames of the delay test on the headless platform, per screen:
// AppUpdate entry to the end of the present, and device read to the end of
// the present. Median and p99 over 3000 frames, default job threads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_testing.h"
#include "app/headless.h"
#include "runtime/runtime.h"

namespace {

int64_t NullSink(const char*) { return 0; }

void Press(uint8_t key) {
  HeadlessInput()->keys[key] = 0x80;
  AppUpdate();
  HeadlessInput()->keys[key] = 0;
}

double Percentile(std::vector<double>* v, double p) {
  std::sort(v->begin(), v->end());
  size_t i = size_t(p * double(v->size() - 1) + 0.5);
  return (*v)[std::min(i, v->size() - 1)];
}

// screen: 0 delay choice, 1 trial with the marker moving, 2 result with 20 lines.
void BM_Frame(benchmark::State& state) {
  const int screen = int(state.range(0));
  HeadlessConfig config;
  HeadlessConfigDefault(&config);
  config.paced = 0;
  LogResetForTest();
  std::string directory = std::string(P_tmpdir) + "/";
  LogSetDirectoryForTest(directory.c_str());
  LogExchangeSinkForTest(NullSink);
  AppResetForTest();
  AppSetSeedForTest(1, 1);
  AppSetPlatform(HeadlessPlatform(&config));
  if (AppInitialize() != 0) {
    state.SkipWithError("start-up failed");
    return;
  }
  for (int i = 0; i < 70; ++i) AppUpdate();
  if (screen >= 1) Press(0x04); // N = 3
  if (screen == 2) {
    for (int step = 0; step < 20; ++step) {
      AppUpdate(); // NewStep
      AppUpdate(); // ResetTrial
      Press(0x1C); // Trial: submit
      AppUpdate(); // Judge
    }
  }
  for (int i = 0; i < 8; ++i) AppUpdate();
  std::vector<double> update, latency;
  update.reserve(3000);
  latency.reserve(3000);
  uint32_t frame = 0;
  for (auto _ : state) {
    if (screen == 1) {
      // Sweep the marker back and forth.
      HeadlessFrameInput* in = HeadlessInput();
      in->keys[0xCD] = (frame / 60) % 2 == 0 ? 0x80 : 0;
      in->keys[0xCB] = (frame / 60) % 2 == 1 ? 0x80 : 0;
    }
    uint64_t entry = NowMicroseconds(1);
    AppUpdate();
    uint64_t end = HeadlessPresentEndMicros();
    update.push_back(double(end - entry));
    latency.push_back(double(end - HeadlessFrameReadMicros()));
    ++frame;
  }
  state.counters["update_median_us"] = Percentile(&update, 0.5);
  state.counters["update_p99_us"] = Percentile(&update, 0.99);
  state.counters["input_to_present_median_us"] = Percentile(&latency, 0.5);
  state.counters["input_to_present_p99_us"] = Percentile(&latency, 0.99);
  if (g_app.state != (screen == 0 ? 0 : screen == 1 ? 4 : 6)) state.SkipWithError("not on the intended screen");
  AppFinalize();
  HeadlessReleaseFrames();
  LogResetForTest();
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(1)->Arg(2)->Iterations(3000)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  MemInitialize();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  MemFinalize();
  return 0;
}
