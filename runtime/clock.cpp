// Microsecond clock and stopwatches.
#include "runtime/clock_convert.h"
#include "runtime/runtime.h"

uint64_t NowMicroseconds(int32_t useCounter) {
  if (useCounter) {
    uint64_t counter = 0;
    uint64_t frequency = 0;
    if (OsQueryPerformanceCounter(&counter) && OsQueryPerformanceFrequency(&frequency) && frequency != 0)
      return CounterToMicroseconds(counter, frequency);
  }
  return static_cast<uint64_t>(OsTimeGetTime()) * 1000ull;
}

void RaiseTimerResolution() { OsRaiseTimerResolution(); }

void StopwatchInit(Stopwatch* stopwatch) {
  RaiseTimerResolution();
  stopwatch->useCounter = 1;
  stopwatch->start = 0;
  stopwatch->start = NowMicroseconds(1);
}

uint64_t StopwatchElapsed(const Stopwatch* stopwatch) {
  return NowMicroseconds(stopwatch->useCounter) - stopwatch->start;
}
