// Adaptive choice of the delay of each two-choice step (the Psi method of
// Kontsevich & Tyler): a posterior over a grid of (alpha, beta) of the curve
// P(d) = 0.5 + (0.5 - lapse)(1 - exp(-(d/alpha)^beta)), updated after each
// step; the next step takes the delay whose outcome leaves the least
// expected posterior entropy. The 75 %-correct delay is read off the
// posterior as its median and 95 % interval.
//
// Pure arithmetic on one caller-owned record (about 3 MB, a static is fine);
// nothing is allocated. The same frame period and sequence of (level,
// correct) give bit-identical results on every build: the exponentials and
// logarithms are computed here from + - * / only, not by the C library.
#pragma once

#include <cstdint>

constexpr int32_t kPsiMinSteps = 20, kPsiMaxSteps = 80, kPsiMaxLevels = 128;
constexpr double kPsiMaxAddedMicros = 250000.0;
constexpr double kPsiLapse = 0.02;
// Grid: alpha log-spaced from 400 ms down to 5 ms (further down at high
// rates, to a third of the frame period, so a threshold below the smallest
// step can be told), at a fixed log spacing; beta log-spaced over 1..6.
constexpr double kPsiAlphaTopMs = 400.0, kPsiAlphaBottomMs = 5.0;
constexpr int32_t kPsiAlphaPerRange = 50; // points over 5..400 ms
constexpr int32_t kPsiMaxAlpha = 96;      // enough down to 1/3 ms (1000 us period)
constexpr double kPsiBetaMin = 1.0, kPsiBetaMax = 6.0;
constexpr int32_t kPsiBetaCount = 16;
constexpr int32_t kPsiMaxGrid = kPsiMaxAlpha * kPsiBetaCount;
// Early stop (from kPsiMinSteps on): with the median inside the steps, the
// 95 % interval of the threshold is narrower than this ratio high / low;
// with it outside, the whole interval is outside too.
constexpr double kPsiStopRatio = 2.2;

struct PsiEstimate {
  double medianMs, lowMs, highMs; // posterior median and 2.5 / 97.5 % points
  int32_t side;                   // -1 below the smallest step, 0 inside, +1 above the largest
};

struct PsiState {
  int32_t framePeriodMicros;
  int32_t levelCount; // K: levels are k = 1..K frames of added delay
  int32_t alphaCount, betaCount;
  int32_t gridCount;   // alphaCount * betaCount; point g = a * betaCount + b
  int32_t paddedCount; // gridCount rounded up to 4; the padding has zero weight
  int32_t steps;
  int32_t nextLevel;
  double alphaMs[kPsiMaxAlpha];
  double beta[kPsiBetaCount];
  double thresholdMs[kPsiMaxGrid]; // t(alpha, beta) of each point
  int32_t byThreshold[kPsiMaxGrid]; // points in increasing t (ties: lower index)
  double posterior[kPsiMaxGrid];    // normalised weights (prior: uniform over the grid)
  // Per level k (row k - 1): P(correct | point) and its binary entropy.
  double pCorrect[kPsiMaxLevels][kPsiMaxGrid];
  double outcomeEntropy[kPsiMaxLevels][kPsiMaxGrid];
  int32_t levelSteps[kPsiMaxLevels], levelRight[kPsiMaxLevels];
};

// Builds the grid and the per-level tables for this frame period, then
// PsiRestart. 1 for a period out of 1000..40000 us (the state is then
// unusable). Costs 0.5 ms at 60 Hz and 5 ms at 500 Hz: longer than a frame
// at high rates, so the program calls it at start-up, not on a frame.
int32_t PsiInit(PsiState* s, int32_t framePeriodMicros);
// A new run over the tables PsiInit built: the uniform prior, no steps, the
// first level chosen (about 0.2 ms at 500 Hz).
void PsiRestart(PsiState* s);
int32_t PsiNextLevel(const PsiState* s); // k of the next step, 1..levelCount
double PsiLevelMs(const PsiState* s, int32_t level); // k * frame_us / 1000
// After a judged step at this k (correct: 1 right, 0 wrong); chooses the next
// k. A level out of 1..levelCount is ignored.
void PsiUpdate(PsiState* s, int32_t level, int32_t correct);
void PsiEstimateThreshold(const PsiState* s, PsiEstimate* out);
// -1 when the median is below the smallest added delay (k = 1), +1 when it
// is above the largest (k = K), 0 otherwise.
int32_t PsiClassify(const PsiState* s, double medianMs);
// Steps >= kPsiMaxSteps, or >= kPsiMinSteps and the early stop above holds.
int32_t PsiShouldStop(const PsiState* s);
// Expected entropy (nats) of the posterior after one step at this level; for
// inspection, the choice of the next level uses an equivalent form.
double PsiExpectedEntropy(const PsiState* s, int32_t level);
// The weighted quantile q of t: the piecewise-linear cumulative through
// (t of the i-th point in increasing t, weight of points 1..i), inverted.
double PsiThresholdQuantile(const PsiState* s, double q);
