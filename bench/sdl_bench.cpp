// The real SDL path (needs a display, e.g. Xvfb): the whole program on the
// SDL platform for 3000 frames. Reports the interval between present calls
// (median, p99: the pacing and its jitter), the time from the frame's
// keyboard read to its present call (median, p99), and the SDL layer's own
// share of it: PresentFrame entry (texture unlock, follow-up, clear, copy)
// to the present call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/app.h"
#include "app/app_testing.h"
#include "app/platform_sdl.h"
#include "present/present_sdl.h"
#include "runtime/runtime.h"

namespace {

constexpr uint32_t kFrames = 3000;

struct Trace {
  std::vector<uint64_t> presents;
  uint64_t lastRead;
  uint64_t presentEntry;
  std::vector<double> readToPresent;
  std::vector<double> entryToPresent; // the SDL layer's own share
};
Trace g_trace;
Platform g_platform;

int32_t TracedKeyboardRead(uint8_t* state) {
  g_trace.lastRead = NowMicroseconds(1);
  return SdlPlatform()->KeyboardRead(state);
}

void OnPresent(void*) {
  uint64_t now = NowMicroseconds(1);
  g_trace.presents.push_back(now);
  if (g_trace.lastRead) g_trace.readToPresent.push_back(double(now - g_trace.lastRead) / 1000.0);
  if (g_trace.presentEntry) g_trace.entryToPresent.push_back(double(now - g_trace.presentEntry) / 1000.0);
}

// Forwards to the SDL presenter, noting when PresentFrame is entered.
struct TimedPresenter {
  Presenter base;
  Presenter* inner;
};
TimedPresenter g_timed;

Surface* TimedAcquire(Presenter*) { return g_timed.inner->AcquireFrameSurface(g_timed.inner); }
int32_t TimedPresent(Presenter*, uint32_t mode) {
  g_trace.presentEntry = NowMicroseconds(1);
  return g_timed.inner->PresentFrame(g_timed.inner, mode);
}

int64_t NullSink(const char*) { return 0; }

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = size_t(p * double(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

void BM_SdlFrames(benchmark::State& state) {
  if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) {
    state.SkipWithError("no display (run under xvfb-run)");
    return;
  }
  for (auto _ : state) {
    MemInitialize();
    LogSink previous = LogExchangeSinkForTest(NullSink);
    g_platform = *SdlPlatform();
    g_platform.KeyboardRead = TracedKeyboardRead;
    g_trace.presents.clear();
    g_trace.presents.reserve(kFrames + 8);
    g_trace.readToPresent.clear();
    g_trace.readToPresent.reserve(kFrames + 8);
    g_trace.lastRead = 0;
    g_trace.presentEntry = 0;
    g_trace.entryToPresent.clear();
    g_trace.entryToPresent.reserve(kFrames + 8);
    SdlPresenterSetPresentHook(OnPresent, nullptr);
    AppResetForTest();
    AppSetPlatform(&g_platform);
    g_platform.DevicesSetup();
    if (AppInitialize() != 0) {
      state.SkipWithError("start-up failed");
    } else {
      g_timed.base.AcquireFrameSurface = TimedAcquire;
      g_timed.base.PresentFrame = TimedPresent;
      g_timed.inner = g_appRuntime.presenter;
      g_appRuntime.presenter = &g_timed.base;
      for (uint32_t i = 0; i < kFrames && AppUpdate() == 0; i++) g_platform.PumpMessages();
      g_appRuntime.presenter = g_timed.inner;
      AppFinalize();
    }
    SdlDestroyWindow();
    g_platform.DevicesRelease();
    SdlPresenterSetPresentHook(nullptr, nullptr);
    LogExchangeSinkForTest(previous);
    MemFinalize();
  }
  // Intervals between presents, start-up frames left out.
  std::vector<double> intervals;
  for (size_t i = 61; i < g_trace.presents.size(); i++)
    intervals.push_back(double(g_trace.presents[i] - g_trace.presents[i - 1]) / 1000.0);
  if (intervals.empty()) return;
  std::vector<double> latency(g_trace.readToPresent.begin() + std::min<size_t>(60, g_trace.readToPresent.size()),
                              g_trace.readToPresent.end());
  state.counters["interval_median_ms"] = Percentile(intervals, 0.5);
  state.counters["interval_p99_ms"] = Percentile(intervals, 0.99);
  state.counters["interval_max_ms"] = Percentile(intervals, 1.0);
  state.counters["read_to_present_median_ms"] = Percentile(latency, 0.5);
  state.counters["read_to_present_p99_ms"] = Percentile(latency, 0.99);
  std::vector<double> own(g_trace.entryToPresent.begin() + std::min<size_t>(60, g_trace.entryToPresent.size()),
                          g_trace.entryToPresent.end());
  if (!own.empty()) {
    state.counters["present_entry_to_call_median_ms"] = Percentile(own, 0.5);
    state.counters["present_entry_to_call_p99_ms"] = Percentile(own, 0.99);
  }
  state.counters["frames"] = double(g_trace.presents.size());
}

BENCHMARK(BM_SdlFrames)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
