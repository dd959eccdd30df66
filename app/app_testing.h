// Test hooks of the application: seams that tests, benchmarks and the
// headless tool use to drive start-up and the test deterministically. The
// program itself never calls them.
#pragma once

#include <cstdint>

#include "app/app.h"

// Replace the local-time seed (nonzero flag) for the next AppInitialize.
void AppSetSeedForTest(int32_t enabled, uint32_t seed);
// Job threads: 0 = the processor count (default).
void AppSetProcessorCountForTest(uint32_t processorCount);
// Microseconds since start-up used for the frame-rate measurement; null =
// the application clock.
void AppSetClockForTest(uint64_t (*clock)(void* user), void* user);
// Replaces CreateContext (null = the real one), to exercise its failure.
void AppSetCreateContextForTest(int32_t (*createContext)(QvGfxContext* context, uint32_t processorCount));
// Replaces the local clock that names a run in the results record (null =
// LocalTimeSeconds).
void AppSetLocalTimeForTest(uint32_t (*localTime)());
// Start-up steps that can be made to fail, to exercise their failure.
enum AppStartupStep : int32_t { kFailNothing = 0, kFailDepthSurface = 1, kFailFonts = 2 };
void AppSetFailStartupStepForTest(int32_t step);
// The upgrade of an old results record gives up after this many rows or
// renames (0 = never), leaving the files as a crash at that moment would.
void AppSetUpgradeStopForTest(int32_t steps);
// Back to the zeroed state of a fresh process (after AppFinalize).
void AppResetForTest();
