#include "report/analysis.h"

#include <cmath>
#include <cstring>

static int64_t StepsAtUs(const Analysis* a, int64_t us) {
  for (int32_t i = 0; i < a->rowCount; ++i)
    if (a->rows[i].delayUs == us) return a->rows[i].steps;
  return 0;
}

// The N at the advised period nearest to a row's delay, within the fixed
// range (a row at another rate may fall between two N or outside).
static int32_t FramesNear(int64_t delayUs, int32_t frameUs) {
  int32_t n = int32_t(std::lround(1.0 + double(delayUs) / double(frameUs)));
  return n < kMinDelayFrames ? kMinDelayFrames : (n > kMaxDelayFrames ? kMaxDelayFrames : n);
}

// Next N at the period nextFrameUs: with a threshold, the N whose delay is
// nearest to it (ties to the one with fewer steps). Without one: below the
// smallest tested delay when every tested delay is at or above 75 % correct,
// above the largest when every one is below, otherwise the N between the two
// sides (or the side with fewer steps). At one rate the rows are exactly the
// N, so this is the rule over N.
static int32_t SuggestNext(const Analysis* a) {
  const int32_t us = a->nextFrameUs;
  int64_t steps[kMaxDelayFrames + 1] = {};
  for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n) steps[n] = StepsAtUs(a, int64_t(n - 1) * us);
  if (a->rowCount == 0) return 4;
  if (a->fitState == kFitOk) {
    int32_t best = kMinDelayFrames;
    double bestGap = 1e300;
    for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n) {
      double gap = std::fabs(DelayMsOfFrames(n, us) - a->fit.thresholdMs);
      if (gap < bestGap - 1e-9 || (std::fabs(gap - bestGap) <= 1e-9 && steps[n] < steps[best])) {
        best = n;
        bestGap = gap;
      }
    }
    return best;
  }
  int32_t highestLow = -1, lowestHigh = -1; // rows: highest delay below 75 %, lowest at or above it
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    if (double(r->right) < 0.75 * double(r->steps)) highestLow = i;
    else if (lowestHigh < 0) lowestHigh = i;
  }
  if (highestLow < 0) {
    int32_t n = FramesNear(a->rows[0].delayUs, us) - 2;
    return n < kMinDelayFrames ? kMinDelayFrames : n;
  }
  if (lowestHigh < 0) {
    int32_t n = FramesNear(a->rows[a->rowCount - 1].delayUs, us) + 2;
    return n > kMaxDelayFrames ? kMaxDelayFrames : n;
  }
  int32_t nLow = FramesNear(a->rows[highestLow].delayUs, us), nHigh = FramesNear(a->rows[lowestHigh].delayUs, us);
  int32_t lo = nLow < nHigh ? nLow : nHigh, hi = nLow < nHigh ? nHigh : nLow;
  for (int32_t n = lo + 1; n < hi; ++n)
    if (steps[n] == 0) return n;
  return steps[lo] <= steps[hi] ? lo : hi;
}

static int64_t DelayUs(const LevelTally* l) { return int64_t(l->frames - 1) * l->frameUs; }

void Analyse(const ResultsTally* t, int32_t participant, int32_t clean, int32_t resamples, uint64_t seed,
             Analysis* out) {
  std::memset(out, 0, sizeof(*out));
  // The participant's levels with steps, by delay then rate (longest
  // period first; insertion sort: the levels are few and mostly in order already).
  int32_t order[kMaxLevels];
  int32_t count = 0, frameUs = -1, last = -1;
  for (int32_t i = 0; i < t->levelCount; ++i) {
    const LevelTally* l = &t->levels[i];
    if (participant >= 0 && l->participant != participant) continue;
    if (l->steps == 0) continue;
    frameUs = frameUs < 0 || frameUs == l->frameUs ? l->frameUs : 0;
    out->lateSteps += l->steps - l->cleanSteps;
    if ((clean ? l->cleanSteps : l->steps) == 0) continue;
    int32_t j = count++;
    for (; j > 0; --j) {
      const LevelTally* m = &t->levels[order[j - 1]];
      if (DelayUs(m) < DelayUs(l) || (DelayUs(m) == DelayUs(l) && m->frameUs >= l->frameUs)) break;
      order[j] = order[j - 1];
    }
    order[j] = i;
  }
  out->frameUs = frameUs < 0 ? kOldFrameUs : frameUs;
  last = participant >= 0 ? t->participants[participant].lastFrameUs : t->lastFrameUs;
  out->nextFrameUs = out->frameUs ? out->frameUs : last;

  LevelCounts levels[kMaxLevels];
  for (int32_t k = 0; k < count; ++k) {
    const LevelTally* l = &t->levels[order[k]];
    int64_t steps = clean ? l->cleanSteps : l->steps, right = clean ? l->cleanRight : l->right;
    DelayRow* r = &out->rows[out->rowCount];
    if (k == 0 || DelayUs(l) != r[-1].delayUs) {
      r->delayUs = DelayUs(l);
      r->delayMs = double(r->delayUs) / 1000.0;
      r->frames = l->frames;
      r->firstLevel = k;
      out->rowCount += 1;
    } else {
      r -= 1;
      r->frames = 0;
    }
    out->levels[k] = RowLevel{l->frames, l->frameUs};
    r->levelCount += 1;
    r->runs += l->runs;
    r->steps += steps;
    r->right += right;
    out->steps += steps;
    out->runs += l->runs;
  }
  for (int32_t i = 0; i < out->rowCount; ++i) {
    DelayRow* r = &out->rows[i];
    levels[i] = LevelCounts{r->delayMs, r->steps, r->right};
    r->pValue = BinomialUpperTail(r->right, r->steps, 0.5);
    ClopperPearson(r->right, r->steps, 0.05, &r->ciLow, &r->ciHigh);
    r->verdict = JudgeCounts(r->right, r->steps);
    r->moreSteps = r->verdict == kVerdictOpen ? StepsToSettle(r->right, r->steps, kMaxExtraSteps) : 0;
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

void AnalyseThresholdRun(const ResultsTally* t, const ThresholdRunRows* run, ThresholdRunResult* out) {
  static PsiState psi; // a few MB: one, reused for every run
  std::memset(out, 0, sizeof(*out));
  out->run = run;
  out->fitState = kFitTooFewDelays;
  const ThresholdStep* steps = t->thresholdSteps + run->firstStep;
  if (PsiInit(&psi, run->frameUs) == 0) {
    out->replayed = 1;
    for (int32_t i = 0; i < run->stepCount; ++i) PsiUpdate(&psi, steps[i].level, steps[i].correct);
    PsiEstimateThreshold(&psi, &out->program);
    out->smallestMs = PsiLevelMs(&psi, 1);
    out->largestMs = PsiLevelMs(&psi, psi.levelCount);
  }
  // The run's own counts per delay, for the report's fit.
  static LevelCounts levels[kMaxThresholdFrames];
  int32_t count = 0;
  for (int32_t i = 0; i < run->stepCount; ++i) {
    double ms = double(steps[i].level) * double(run->frameUs) / 1000.0;
    int32_t k = 0;
    while (k < count && levels[k].delayMs != ms) ++k;
    if (k == count) levels[count++] = LevelCounts{ms, 0, 0};
    levels[k].steps += 1;
    levels[k].right += steps[i].correct;
  }
  if (count < 2) return;
  FitResult fit;
  out->fitState = FitPsychometric(levels, count, nullptr, &fit) == 0 ? kFitOk : kFitNotConverged;
  out->fitMs = fit.thresholdMs;
}
