// Turns the tallies into what the report prints: per-delay tests and
// verdicts, the threshold fit with its bootstrap interval, and the next N.
#pragma once

#include <cstdint>

#include "report/binomial.h"
#include "report/psychometric.h"
#include "report/results_reader.h"
#include "threshold/psi.h"

constexpr int32_t kBootstrapResamples = 2000;
constexpr uint64_t kBootstrapSeed = 20261209;
constexpr int64_t kMaxExtraSteps = 20000; // search limit of StepsToSettle
constexpr int64_t kFewSteps = 10;        // a delay row below this many steps is said to say little

// One N at one frame period that adds to a delay row.
struct RowLevel {
  int32_t frames, frameUs;
};

// Steps are pooled by the delay they add, (N - 1) x frame_us in whole µs, so
// N 3 at 60 Hz and N 5 at 120 Hz (both 33332 µs) share a row.
struct DelayRow {
  int64_t delayUs;
  double delayMs;
  int32_t frames;                 // N when one N at one rate makes the row, else 0
  int32_t firstLevel, levelCount; // into Analysis::levels, by frame period
  int64_t runs, steps, right;
  double pValue, ciLow, ciHigh;
  Verdict verdict;
  int64_t moreSteps; // open verdicts: extra steps to settle, -1 beyond the limit
};

enum FitState : int32_t { kFitOk = 0, kFitTooFewDelays = 1, kFitNotConverged = 2 };

struct Analysis {
  DelayRow rows[kMaxLevels]; // a row has at least one level
  RowLevel levels[kMaxLevels];
  int32_t rowCount; // delays with at least one step, ascending
  int64_t steps, runs;
  int64_t lateSteps;   // of the participant's steps, whichever were counted
  int32_t frameUs;     // the one frame period of every step, 0 when they mix
  int32_t nextFrameUs; // the period nextFrames is meant at: the one, else the latest row's
  FitState fitState;
  FitResult fit;
  BootstrapResult boot;
  int32_t nextFrames;
};

// participant: index into t->participants, -1 for every row. clean != 0
// uses only the steps without late frames.
void Analyse(const ResultsTally* t, int32_t participant, int32_t clean, int32_t resamples, uint64_t seed,
             Analysis* out);

// A threshold run beside this report's view of it: the program's own
// estimate (its rows replayed through the same procedure, which is exact)
// and a maximum-likelihood fit of the run's steps alone.
struct ThresholdRunResult {
  const ThresholdRunRows* run;
  int32_t replayed; // 0 when the period is one the procedure cannot run at
  PsiEstimate program;
  double smallestMs, largestMs; // the run's smallest and largest step
  FitState fitState;
  double fitMs;
};

void AnalyseThresholdRun(const ResultsTally* t, const ThresholdRunRows* run, ThresholdRunResult* out);
