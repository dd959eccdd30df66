// Turns the tallies into what the report prints: per-delay tests and
// verdicts, the threshold fit with its bootstrap interval, and the next N.
#pragma once

#include <cstdint>

#include "report/binomial.h"
#include "report/psychometric.h"
#include "report/results_reader.h"

constexpr int32_t kBootstrapResamples = 2000;
constexpr uint64_t kBootstrapSeed = 20261209;
constexpr int64_t kMaxExtraSteps = 20000; // search limit of StepsToSettle

struct DelayRow {
  int32_t frames;
  int64_t runs, steps, right;
  double pValue, ciLow, ciHigh;
  Verdict verdict;
  int64_t moreSteps; // open verdicts: extra steps to settle, -1 beyond the limit
};

enum FitState : int32_t { kFitOk = 0, kFitTooFewDelays = 1, kFitNotConverged = 2 };

struct Analysis {
  DelayRow rows[kMaxDelayFrames - kMinDelayFrames + 1];
  int32_t rowCount; // delays with at least one step, ascending
  int64_t steps;
  FitState fitState;
  FitResult fit;
  BootstrapResult boot;
  int32_t nextFrames;
};

// clean != 0 uses only the steps without late frames.
void Analyse(const ResultsTally* t, int32_t clean, int32_t resamples, uint64_t seed, Analysis* out);
