// Shared between the application's own files.
#pragma once

#include <cstdint>

#include "app/app.h"

struct AppHooks {
  int32_t seedOverride;
  uint32_t seed;
  uint32_t processorCount;
  uint64_t (*clock)(void* user);
  void* clockUser;
  int32_t (*createContext)(QvGfxContext* context, uint32_t processorCount);
  int32_t resultsPathSet;    // resultsPath replaces the file beside the log
  char resultsPath[512];     // empty: no results record
  uint32_t (*localTime)();   // null: LocalTimeSeconds
  int32_t failStartupStep;   // AppStartupStep made to fail, 0 = none
};

extern AppHooks g_appHooks;

// Everything AppInitialize has started, released in AppFinalize's order
// (after a failed start-up step, or by AppFinalize).
void ReleaseStarted();

// Microseconds since AppInitialize started the application clock.
uint64_t AppElapsedMicroseconds();

// ---- Results record (app/results_record.cpp) ------------------------------------
// One line per judged step, appended to qvdelay_results.csv beside the log.
// Called by the delay test on the main thread at these moments:
void ResultsRunStarted();       // the delay has been chosen
void ResultsStepStarted();      // NewStep
void ResultsFlipped();          // ToggleCandidate
// Around the state machine and the frame's present: whether this frame
// belongs to a step, then the present interval it ended with.
void ResultsFrameBegins(int32_t state);
void ResultsFrameEnded();
// Judge: appends the step's line (delayed / submitted are candidate values).
void ResultsStepJudged(int32_t step, int32_t delayedCandidate, int32_t submittedCandidate, int32_t right);
// Back to a fresh process's record state.
void ResultsResetForTest();
