// The threshold run: every step is a step of the fixed test, but the
// adaptive procedure picks its N; the run ends with the delay at which the
// person picks the delayed side 3 times in 4.
#include <cstdio>

#include "app/app_internal.h"
#include "threshold/psi.h"

namespace {

struct ThresholdRun {
  PsiState psi; // large: lives here once; its tables are built at start-up
  int32_t prepared; // psi's tables are for psi.framePeriodMicros
  PsiEstimate estimate;
  int32_t steps;
  char text[1024]; // the result screen
};

ThresholdRun s_threshold;

int32_t RateHz() { return int32_t(g_appRuntime.rateHz + 0.5); }

double FrameMs() { return double(g_appRuntime.framePeriodMicros) / 1000.0; }

} // namespace

int32_t ThresholdRunPrepare() {
  s_threshold.prepared = PsiInit(&s_threshold.psi, g_appRuntime.framePeriodMicros) == 0;
  return s_threshold.prepared ? 0 : 1;
}

int32_t ThresholdRunStart() {
  s_threshold.steps = 0;
  // The tables were built at start-up for the running period; a run only
  // restarts the posterior, so the frame that starts it stays on time.
  if (!s_threshold.prepared || s_threshold.psi.framePeriodMicros != g_appRuntime.framePeriodMicros)
    return ThresholdRunPrepare();
  PsiRestart(&s_threshold.psi);
  return 0;
}

int32_t ThresholdNextDelayFrames() { return PsiNextLevel(&s_threshold.psi) + 1; }

int32_t ThresholdStepJudged(int32_t delayFrames, int32_t right) {
  PsiUpdate(&s_threshold.psi, delayFrames - 1, right);
  s_threshold.steps += 1;
  return PsiShouldStop(&s_threshold.psi);
}

void ThresholdRunEnded() {
  ThresholdRun& t = s_threshold;
  PsiEstimateThreshold(&t.psi, &t.estimate);
  const PsiEstimate& e = t.estimate;
  double smallest = PsiLevelMs(&t.psi, 1);
  double largest = PsiLevelMs(&t.psi, t.psi.levelCount);
  // The one line tools read for the answer.
  if (e.side < 0) {
    LogPrintf("threshold below %.1f ms (the smallest step at %d Hz), %d steps\n", smallest, RateHz(), t.steps);
  } else if (e.side > 0) {
    LogPrintf("threshold above %.1f ms (the largest step at %d Hz), %d steps\n", largest, RateHz(), t.steps);
  } else {
    LogPrintf("threshold = %.1f ms (N %.2f at %d Hz), 95%% interval %.1f - %.1f ms, %d steps\n", e.medianMs,
              1.0 + e.medianMs / FrameMs(), RateHz(), e.lowMs, e.highMs, t.steps);
  }

  int32_t n = 0;
  char* out = t.text;
  const int32_t size = int32_t(sizeof(t.text));
  if (t.steps == 0) {
    n = FormatBounded(out, uint64_t(size), "The run ended before its first step was judged:\n"
                                           "nothing is known about your threshold yet.\n");
  } else if (e.side < 0) {
    n = FormatBounded(out, uint64_t(size),
                      "Your delay threshold is below %.1f ms,\nthe smallest step at %d Hz.\n\n"
                      "You felt even one frame of added delay.\nRun at your display's full rate to go finer:\n"
                      "qvdelay --rate native\n",
                      smallest, RateHz());
  } else if (e.side > 0) {
    n = FormatBounded(out, uint64_t(size),
                      "Your delay threshold is above %.1f ms,\nthe largest step at %d Hz.\n\n"
                      "At every delay asked about you were close to\nguessing.\n",
                      largest, RateHz());
  } else {
    n = FormatBounded(out, uint64_t(size),
                      "Your delay threshold: %.1f ms of added delay\n(N %.2f at %d Hz, one frame = %.1f ms)\n"
                      "95%% interval: %.1f - %.1f ms\n\n"
                      "At about %.0f ms of added delay you pick the\ndelayed side 3 times in 4; well below that\n"
                      "you are guessing.\n",
                      e.medianMs, 1.0 + e.medianMs / FrameMs(), RateHz(), FrameMs(), e.lowMs, e.highMs, e.medianMs);
  }
  if (n < 0 || n >= size) n = size - 1;
  FormatBounded(out + n, uint64_t(size - n), "\n%d %s%s\n\nHit enter key.", t.steps, t.steps == 1 ? "step" : "steps",
                t.steps > 0 && t.steps < kPsiMinSteps ? ", ended early" : "");
}

const char* ThresholdResultText() { return s_threshold.text; }
