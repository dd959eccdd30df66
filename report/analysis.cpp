#include "report/analysis.h"

#include <cmath>
#include <cstring>

// Next N: with a threshold, the N whose delay is nearest to it (ties to the
// one with fewer steps). Without one: below the smallest tested N when every
// tested N is at or above 75 % correct, above the largest when every one is
// below, otherwise the N between the two sides (or the side with fewer steps).
static int32_t SuggestNext(const Analysis* a) {
  int64_t steps[kMaxDelayFrames + 1] = {};
  for (int32_t i = 0; i < a->rowCount; ++i) steps[a->rows[i].frames] = a->rows[i].steps;
  if (a->rowCount == 0) return 4;
  if (a->fitState == kFitOk) {
    int32_t best = kMinDelayFrames;
    double bestGap = 1e300;
    for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n) {
      double gap = std::fabs(DelayMsOfFrames(n) - a->fit.thresholdMs);
      if (gap < bestGap - 1e-9 || (std::fabs(gap - bestGap) <= 1e-9 && steps[n] < steps[best])) {
        best = n;
        bestGap = gap;
      }
    }
    return best;
  }
  int32_t highestLow = 0, lowestHigh = 0; // highest N below 75 %, lowest N at or above it
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    if (double(r->right) < 0.75 * double(r->steps)) highestLow = r->frames;
    else if (!lowestHigh) lowestHigh = r->frames;
  }
  if (!highestLow) {
    int32_t n = a->rows[0].frames - 2;
    return n < kMinDelayFrames ? kMinDelayFrames : n;
  }
  if (!lowestHigh) {
    int32_t n = a->rows[a->rowCount - 1].frames + 2;
    return n > kMaxDelayFrames ? kMaxDelayFrames : n;
  }
  int32_t lo = highestLow < lowestHigh ? highestLow : lowestHigh, hi = highestLow < lowestHigh ? lowestHigh : highestLow;
  for (int32_t n = lo + 1; n < hi; ++n)
    if (steps[n] == 0) return n;
  return steps[lo] <= steps[hi] ? lo : hi;
}

void Analyse(const ResultsTally* t, int32_t clean, int32_t resamples, uint64_t seed, Analysis* out) {
  std::memset(out, 0, sizeof(*out));
  LevelCounts levels[kMaxDelayFrames + 1];
  for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n) {
    const DelayTally* d = &t->delay[n];
    int64_t steps = clean ? d->cleanSteps : d->steps, right = clean ? d->cleanRight : d->right;
    if (steps == 0) continue;
    DelayRow* r = &out->rows[out->rowCount];
    levels[out->rowCount] = LevelCounts{DelayMsOfFrames(n), steps, right};
    out->rowCount += 1;
    out->steps += steps;
    r->frames = n;
    r->runs = d->runs;
    r->steps = steps;
    r->right = right;
    r->pValue = BinomialUpperTail(right, steps, 0.5);
    ClopperPearson(right, steps, 0.05, &r->ciLow, &r->ciHigh);
    r->verdict = JudgeCounts(right, steps);
    r->moreSteps = r->verdict == kVerdictOpen ? StepsToSettle(right, steps, kMaxExtraSteps) : 0;
  }
  if (out->rowCount < 2) {
    out->fitState = kFitTooFewDelays;
  } else if (FitPsychometric(levels, out->rowCount, nullptr, &out->fit) != 0) {
    out->fitState = kFitNotConverged;
  } else {
    out->fitState = kFitOk;
    BootstrapThreshold(levels, out->rowCount, &out->fit, resamples, seed, &out->boot);
  }
  out->nextFrames = SuggestNext(out);
}
