// Shared between the application's own files.
#pragma once

#include <cstdint>

#include "app/app.h"
#include "app/app_testing.h"

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
  int32_t upgradeStopAfter;  // results upgrade gives up after this many steps, 0 = never
};

extern AppHooks g_appHooks;

// Everything AppInitialize has started, released in AppFinalize's order
// (after a failed start-up step, or by AppFinalize).
void ReleaseStarted();

// Hands the step's capture of the pointer to the platform (1 while a step runs).
void CaptureMouse(int32_t capture);

// ---- Threshold run (app/threshold_run.cpp) ---------------------------------------
// A new run at the running rate; 1 when the procedure cannot run at it.
// Start-up, once the rate is known: the procedure's tables for the running
// period (5 ms at 500 Hz, too long for a frame). 1 when the period is out of
// the procedure's range.
int32_t ThresholdRunPrepare();
int32_t ThresholdRunStart();
// N of the next step (the procedure's added delay + 1).
int32_t ThresholdNextDelayFrames();
// After Judge: feeds the step; 1 when the run has what it needs.
int32_t ThresholdStepJudged(int32_t delayFrames, int32_t right);
// Result's first frame (also after Q): the estimate, its log line and the
// screen's text.
void ThresholdRunEnded();
const char* ThresholdResultText();

// Microseconds since AppInitialize started the application clock (or the
// test's clock).
uint64_t AppElapsedMicroseconds();
// Local wall-clock seconds that name a run (or the test's clock).
uint32_t AppLocalSeconds();

// ---- Results record (app/results_record.cpp) ------------------------------------
constexpr char kResultsHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,"
    "max_interval_ms,frame_us,input,procedure,participant\n";
// The header of records written before the last four columns existed.
constexpr char kResultsHeaderBeforeRates[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,"
    "max_interval_ms\n";
constexpr uint32_t kResultsPathBytes = 512;
// Rewrites a record with the old header to the new one (app/results_upgrade.cpp);
// 0 when the record's name now holds the upgraded file. stopAfterSteps
// (test hook, 0 = never) gives up after that many rows or renames, as a crash.
int32_t UpgradeResultsFile(const char* path, int32_t stopAfterSteps);

// One line per judged step, appended to qvdelay_results.csv beside the log.
// The record reads no state of the test: what a row says comes in here.
struct ResultsRun {
  uint32_t localSeconds;      // names the run
  const char* platform;       // the platform column
  int32_t framePeriodMicros;  // frame_us; a frame is late past 1.5 periods
  const char* procedure;      // "fixed" or "threshold"
  const char* participant;    // "" when none was given
};
// Called by the delay test on the main thread at these moments:
void ResultsRunStarted(const ResultsRun* run); // the delay (or the threshold run) has been chosen
void ResultsStepStarted();      // NewStep
void ResultsFlipped();          // ToggleCandidate
void ResultsMarkerMoved(uint8_t sources); // Trial: kSource* bits of the sample that moved the marker
// Around the state machine and the frame's present: whether this frame
// belongs to a step, then the time its present ended (application clock).
void ResultsFrameBegins(int32_t inStep);
void ResultsFrameEnded(uint64_t presentEndMicros);
// Judge: appends the step's line (delayed / submitted are candidate values).
void ResultsStepJudged(int32_t step, int32_t delayFrames, int32_t delayedCandidate, int32_t submittedCandidate,
                       int32_t right);
// Back to a fresh process's record state.
void ResultsResetForTest();
