#include <cmath>
#include <cstring>

#include "report/report_output.h"

static const char* VerdictWords(Verdict v) {
  return v == kVerdictFelt ? "felt" : (v == kVerdictNotFelt ? "not felt" : "not settled yet");
}

// Frame rate of a period for people: "60", or "59.94" for a fractional rate.
static void RateText(char* buf, size_t size, int32_t frameUs) {
  double hz = 1e6 / double(frameUs);
  if (std::fabs(hz - std::round(hz)) < 0.05) std::snprintf(buf, size, "%.0f", hz);
  else std::snprintf(buf, size, "%.2f", hz);
}

// "3@60Hz 5@120Hz": the N at each rate that make up a row.
static void LevelsText(char* buf, size_t size, const Analysis* a, const DelayRow* r) {
  size_t used = 0;
  buf[0] = 0;
  for (int32_t k = 0; k < r->levelCount && used < size; ++k) {
    const RowLevel* l = &a->levels[r->firstLevel + k];
    char hz[32];
    RateText(hz, sizeof(hz), l->frameUs);
    int got = std::snprintf(buf + used, size - used, "%s%d@%sHz", k ? " " : "", l->frames, hz);
    if (got < 0) break;
    used += size_t(got);
  }
}

static void PrintTable(FILE* out, const Analysis* a) {
  // Mixed rates key the rows by the added delay and name the N at each rate.
  int32_t width = 9; // "N at rate"
  char label[256];
  for (int32_t i = 0; i < a->rowCount && !a->frameUs; ++i) {
    LevelsText(label, sizeof(label), a, &a->rows[i]);
    int32_t n = int32_t(std::strlen(label)) + 1;
    if (n > width) width = n;
  }
  int32_t nWidth = 1; // threshold runs reach N of two and three digits
  for (int32_t i = 0; i < a->rowCount; ++i) {
    while (a->rows[i].frames >= (nWidth == 1 ? 10 : 100) && nWidth < 3) ++nWidth;
  }
  if (a->frameUs) std::fprintf(out, "  %*s  added delay", nWidth, "N");
  else std::fprintf(out, "  added delay  %-*s", width, "N at rate");
  std::fprintf(out, "  runs  right/steps  correct  p-value    95%% interval     verdict\n");
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    char score[32];
    std::snprintf(score, sizeof(score), "%lld/%lld", (long long)r->right, (long long)r->steps);
    char p[32]; // below the double range the tail prints as a bound, not as 0
    if (r->pValue < 1e-300) std::snprintf(p, sizeof(p), "<1e-300");
    else std::snprintf(p, sizeof(p), "%.3g", r->pValue);
    if (a->frameUs) {
      std::fprintf(out, "  %*d  %6.1f ms", nWidth, r->frames, r->delayMs);
    } else {
      LevelsText(label, sizeof(label), a, r);
      std::fprintf(out, "  %8.1f ms  %-*s", r->delayMs, width - 1, label);
    }
    std::fprintf(out, "  %5lld  %11s  %6.1f%%  %-9s  %5.1f%% - %5.1f%%  %s", (long long)r->runs, score,
                 100.0 * double(r->right) / double(r->steps), p, 100.0 * r->ciLow, 100.0 * r->ciHigh,
                 VerdictWords(r->verdict));
    if (r->verdict == kVerdictOpen) {
      if (r->moreSteps > 0) {
        long long steps = (long long)r->moreSteps, runs = (steps + 19) / 20;
        std::fprintf(out, " (about %lld more step%s, %lld more run%s of 20)", steps, steps == 1 ? "" : "s", runs,
                     runs == 1 ? "" : "s");
      }
      else
        std::fprintf(out, " (more than %lld more steps at this rate)", (long long)kMaxExtraSteps);
    }
    std::fprintf(out, "\n");
  }
}

// "N = 4", and at mixed rates the rate it is meant at.
static void PrintNextN(FILE* out, const Analysis* a) {
  std::fprintf(out, "N = %d", a->nextFrames);
  if (!a->frameUs) {
    char hz[32];
    RateText(hz, sizeof(hz), a->nextFrameUs);
    std::fprintf(out, " at %s Hz (%.1f ms added)", hz, DelayMsOfFrames(a->nextFrames, a->nextFrameUs));
  }
}

static void PrintThreshold(FILE* out, const Analysis* a) {
  const char* what = a->frameUs ? "N" : "delay"; // at mixed rates one N is several delays
  if (a->fitState == kFitTooFewDelays) {
    std::fprintf(out, "  No threshold yet: it needs steps at two or more different %s%s, and %s%s.\n", what,
                 a->frameUs ? "" : "s", a->rowCount == 0 ? "there are none" : "only one ",
                 a->rowCount == 0 ? "" : (a->frameUs ? "N has steps" : "delay has steps"));
    std::fprintf(out, "  Run a few 20-step runs at ");
    PrintNextN(out, a);
    std::fprintf(out, " next.\n");
    return;
  }
  if (a->fitState == kFitNotConverged) {
    std::fprintf(out,
                 "  No threshold: the curve could not be fitted (the estimates ran to the edge of the search range,\n"
                 "  alpha %.0f-%.0f ms, beta %.1f-%.0f). This happens when every N is answered nearly always right,\n"
                 "  or nearly at chance, or the jump between two N is too sharp to place.\n",
                 kAlphaMinMs, kAlphaMaxMs, kBetaMin, kBetaMax);
    std::fprintf(out, "  Run a few 20-step runs at ");
    PrintNextN(out, a);
    std::fprintf(out, " next.\n");
    return;
  }
  const FitResult* f = &a->fit;
  std::fprintf(out, "  75%% correct at %.1f ms", f->thresholdMs);
  if (a->frameUs) std::fprintf(out, " = N %.2f frames", FramesOfDelayMs(f->thresholdMs, a->frameUs));
  if (a->boot.ok && a->frameUs)
    std::fprintf(out, ", 95%% interval %.1f - %.1f ms (N %.2f - %.2f)\n", a->boot.lowMs, a->boot.highMs,
                 FramesOfDelayMs(a->boot.lowMs, a->frameUs), FramesOfDelayMs(a->boot.highMs, a->frameUs));
  else if (a->boot.ok)
    std::fprintf(out, ", 95%% interval %.1f - %.1f ms\n", a->boot.lowMs, a->boot.highMs);
  else
    std::fprintf(out, " (no interval: the bootstrap failed)\n");
  std::fprintf(out, "  fit: alpha = %.1f ms, beta = %.2f, lapse fixed at %.2f\n", f->alpha, f->beta, kLapse);
  if (a->boot.ok && a->boot.boundHits > 0)
    std::fprintf(out, "  (%d of %d resamples ran to the edge of the search range and were kept there)\n",
                 a->boot.boundHits, a->boot.resamples);
}

// Threshold runs spread their steps over many delays: a row of a few steps
// is shown as it is, and said to be one.
static void PrintFewStepsNote(FILE* out, const Analysis* a) {
  int32_t few = 0;
  for (int32_t i = 0; i < a->rowCount; ++i) few += a->rows[i].steps < kFewSteps;
  if (few == 0) return;
  std::fprintf(out,
               "  %d of these %d delays %s fewer than %d steps (threshold runs spread their steps over many\n"
               "  delays): on its own such a row says little, but the threshold fit below uses every step.\n",
               few, a->rowCount, few == 1 ? "has" : "have", int32_t(kFewSteps));
}

// Each threshold run of the participant: the program's own answer beside
// this report's fit of the run's steps.
static void PrintThresholdRuns(FILE* out, const ResultsTally* t, int32_t participant) {
  int32_t shown = 0;
  for (int64_t i = 0; i < t->thresholdRunCount; ++i) {
    const ThresholdRunRows* run = &t->thresholdRuns[i];
    if (participant >= 0 && run->participant != participant) continue;
    if (!shown++) {
      std::fprintf(out, "Threshold runs (the program picked each step's N; its answer beside this report's fit\n"
                        "of that run alone):\n");
      std::fprintf(out, "  run started           rate     steps  the program's answer                  fit of the run\n");
    }
    ThresholdRunResult r;
    AnalyseThresholdRun(t, run, &r);
    char hz[32], answer[96], fit[48];
    RateText(hz, sizeof(hz), run->frameUs);
    if (!r.replayed) std::snprintf(answer, sizeof(answer), "(frame period not replayable)");
    else if (r.program.side < 0) std::snprintf(answer, sizeof(answer), "below %.1f ms (the smallest step)", r.smallestMs);
    else if (r.program.side > 0) std::snprintf(answer, sizeof(answer), "above %.1f ms (the largest step)", r.largestMs);
    else
      std::snprintf(answer, sizeof(answer), "%.1f ms, 95%% %.1f - %.1f ms", r.program.medianMs, r.program.lowMs,
                    r.program.highMs);
    if (r.fitState == kFitOk) std::snprintf(fit, sizeof(fit), "%.1f ms", r.fitMs);
    else std::snprintf(fit, sizeof(fit), r.fitState == kFitTooFewDelays ? "too few delays" : "no fit");
    std::fprintf(out, "  %-21s %4s Hz  %5d  %-36s  %s\n", run->runStarted, hz, run->stepCount, answer, fit);
  }
  if (shown) std::fprintf(out, "\n");
}

static void PrintSection(FILE* out, const ReportInput* in, const ReportSection* s) {
  const Analysis* a = s->all;
  if (a->frameUs) {
    std::fprintf(out, "Can you feel N frames of delay? (every step; guessing scores 50%%)\n");
  } else {
    std::fprintf(out, "Can you feel the added delay? (every step, frame rates mixed: N@rate; guessing scores 50%%)\n");
  }
  PrintTable(out, a);
  PrintFewStepsNote(out, a);
  std::fprintf(out,
               "  p-value: chance of scoring at least this well by guessing (exact binomial, one-sided).\n"
               "  95%% interval: Clopper-Pearson interval of the proportion correct.\n"
               "  Verdict: \"felt\" when p < 0.05; \"not felt\" when the interval's upper end is below 75%%;\n"
               "  otherwise \"not settled yet\", with the smallest number m of extra steps at that %s after\n"
               "  which the same rate of correct answers (rounded to whole steps) out of steps + m would\n"
               "  give one of the other two verdicts.\n\n",
               a->frameUs ? "N" : "delay");

  std::fprintf(out, "Delay threshold (75%% correct), fitted over every step:\n");
  PrintThreshold(out, a);
  char d[64];
  if (a->frameUs == kOldFrameUs) std::snprintf(d, sizeof(d), "(N - 1) x 1000/60 ms");
  else if (a->frameUs) std::snprintf(d, sizeof(d), "(N - 1) x %.3f ms", double(a->frameUs) / 1000.0);
  else std::snprintf(d, sizeof(d), "the added delay in ms");
  std::fprintf(out,
               "  Model: P(d) = 0.5 + 0.48 (1 - exp(-(d/alpha)^beta)), d = %s; maximum\n"
               "  likelihood; interval from the 2.5 and 97.5 percentiles of %d parametric bootstrap refits\n"
               "  (seed %llu).\n\n",
               d, kBootstrapResamples, (unsigned long long)kBootstrapSeed);
  PrintThresholdRuns(out, in->tally, s->participant[0] || in->sections > 1 ? ResultsFindParticipant(in->tally, s->participant) : -1);

  // The program counts a frame late past 1.5 periods: 25 ms at 60 Hz.
  int32_t at60 = a->frameUs == kOldFrameUs;
  if (a->lateSteps == 0 && at60) {
    std::fprintf(out, "Late frames: no step had a frame presented more than 25 ms after the one before; every\n"
                      "step is a clean trial.\n\n");
  } else if (a->lateSteps == 0) {
    std::fprintf(out, "Late frames: no step had a frame presented more than 1.5 frame periods after the one\n"
                      "before; every step is a clean trial.\n\n");
  } else {
    if (at60)
      std::fprintf(out,
                   "Late frames: %lld of %lld steps had a frame presented more than 25 ms after the one before.\n"
                   "Those steps are not clean trials; the same numbers without them:\n",
                   (long long)a->lateSteps, (long long)a->steps);
    else
      std::fprintf(out,
                   "Late frames: %lld of %lld steps had a frame presented more than 1.5 frame periods after\n"
                   "the one before. Those steps are not clean trials; the same numbers without them:\n",
                   (long long)a->lateSteps, (long long)a->steps);
    PrintTable(out, s->clean);
    std::fprintf(out, "Delay threshold without them:\n");
    PrintThreshold(out, s->clean);
    std::fprintf(out, "\n");
  }

  std::fprintf(out, "Next: run ");
  PrintNextN(out, a);
  std::fprintf(out, a->frameUs ? ".\n" : ", the rate of the latest step.\n");
  if (a->fitState == kFitOk)
    std::fprintf(out, "  Rule: the N whose delay is nearest the threshold estimate (ties: the N with fewer steps).\n");
  else
    std::fprintf(out, "  Rule: without a threshold, two N below the smallest tested N when every tested N scores\n"
                      "  75%% or more, two above the largest when every one scores less, otherwise an untested N\n"
                      "  between the two sides (else the side with fewer steps).\n");
  if (s->svgPath)
    std::fprintf(out, "\nPicture: %s%s\n", s->svgPath, s->svgWritten ? "" : " (could not be written)");
}

void PrintReportText(FILE* out, const ReportInput* in, const ReportSection* s) {
  const ResultsTally* t = in->tally;
  if (s->index == 0) {
    std::fprintf(out, "qvdelay report\n");
    std::fprintf(out, "Read %d file%s:", in->fileCount, in->fileCount == 1 ? "" : "s");
    for (int32_t i = 0; i < in->fileCount; ++i) std::fprintf(out, " %s", in->files[i]);
    std::fprintf(out, "\n");
    if (in->sections == 1 && s->participant[0]) std::fprintf(out, "Participant: %s\n", s->participant);
    std::fprintf(out, "%lld steps in %lld runs", (long long)in->steps, (long long)in->runs);
    if (in->sections > 1) std::fprintf(out, " by %d participants", in->sections);
    std::fprintf(out, "; %lld malformed line%s skipped.\n\n", (long long)t->badLines, t->badLines == 1 ? "" : "s");
  }
  if (in->sections > 1) {
    std::fprintf(out, "%sParticipant: %s\n%lld steps in %lld runs.\n\n", s->index ? "\n" : "",
                 s->participant[0] ? s->participant : "(none)", (long long)s->all->steps, (long long)s->all->runs);
  }
  PrintSection(out, in, s);
}

static void JsonNumber(FILE* out, double v, int32_t valid) {
  if (valid) std::fprintf(out, "%.6g", v); else std::fprintf(out, "null");
}

static void JsonString(FILE* out, const char* s) {
  std::fputc('"', out);
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (c == '"' || c == '\\') std::fprintf(out, "\\%c", c);
    else if (c < 0x20) std::fprintf(out, "\\u%04x", c);
    else std::fputc(c, out);
  }
  std::fputc('"', out);
}

static void JsonAnalysis(FILE* out, const Analysis* a) {
  std::fprintf(out, "\"delays\": [");
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    std::fprintf(out, "%s\n    {\"delay_frames\": ", i ? "," : "");
    if (r->frames) std::fprintf(out, "%d", r->frames); else std::fprintf(out, "null");
    std::fprintf(out, ", \"delay_ms\": %.6g, \"added_ms\": %.6g, \"levels\": [", r->delayMs, r->delayMs);
    for (int32_t k = 0; k < r->levelCount; ++k) {
      const RowLevel* l = &a->levels[r->firstLevel + k];
      std::fprintf(out, "%s{\"delay_frames\": %d, \"frame_us\": %d}", k ? ", " : "", l->frames, l->frameUs);
    }
    std::fprintf(out, "], \"runs\": %lld, \"steps\": %lld, \"right\": %lld, \"p_value\": ", (long long)r->runs,
                 (long long)r->steps, (long long)r->right);
    JsonNumber(out, r->pValue, 1);
    std::fprintf(out, ", \"ci_low\": %.6g, \"ci_high\": %.6g, \"verdict\": ", r->ciLow, r->ciHigh);
    JsonString(out, VerdictWords(r->verdict));
    std::fprintf(out, ", \"more_steps\": ");
    if (r->verdict == kVerdictOpen && r->moreSteps > 0) std::fprintf(out, "%lld}", (long long)r->moreSteps);
    else std::fprintf(out, "null}");
  }
  int32_t fit = a->fitState == kFitOk, boot = fit && a->boot.ok;
  std::fprintf(out, "],\n  \"threshold_ms\": ");
  JsonNumber(out, a->fit.thresholdMs, fit);
  std::fprintf(out, ", \"threshold_frames\": "); // frames only mean something at one rate
  JsonNumber(out, a->frameUs ? FramesOfDelayMs(a->fit.thresholdMs, a->frameUs) : 0, fit && a->frameUs);
  std::fprintf(out, ", \"threshold_ci_ms\": [");
  JsonNumber(out, a->boot.lowMs, boot);
  std::fprintf(out, ", ");
  JsonNumber(out, a->boot.highMs, boot);
  std::fprintf(out, "], \"alpha_ms\": ");
  JsonNumber(out, a->fit.alpha, fit);
  std::fprintf(out, ", \"beta\": ");
  JsonNumber(out, a->fit.beta, fit);
  std::fprintf(out, ", \"fit\": \"%s\", \"next_delay_frames\": %d, \"next_frame_us\": %d",
               a->fitState == kFitOk ? "ok" : (a->fitState == kFitTooFewDelays ? "too few delays" : "not converged"),
               a->nextFrames, a->nextFrameUs);
}

// One object per section; with several participants they form an array.
void PrintReportJson(FILE* out, const ReportInput* in, const ReportSection* s) {
  const Analysis* a = s->all;
  if (in->sections > 1) std::fprintf(out, "%s", s->index == 0 ? "[\n" : ",\n");
  std::fprintf(out, "{\"files\": [");
  for (int32_t i = 0; i < in->fileCount; ++i) {
    if (i) std::fprintf(out, ", ");
    JsonString(out, in->files[i]);
  }
  std::fprintf(out, "], \"participant\": ");
  JsonString(out, s->participant);
  std::fprintf(out, ", \"steps\": %lld, \"malformed_lines\": %lld, \"late_steps\": %lld, \"lapse\": %.6g, \"frame_us\": ",
               (long long)a->steps, (long long)in->tally->badLines, (long long)a->lateSteps, kLapse);
  if (a->frameUs) std::fprintf(out, "%d", a->frameUs); else std::fprintf(out, "null");
  std::fprintf(out, ",\n  ");
  JsonAnalysis(out, a);
  std::fprintf(out, ",\n  \"clean\": {");
  JsonAnalysis(out, s->clean);
  std::fprintf(out, "},\n  \"threshold_runs\": [");
  int32_t participant =
      s->participant[0] || in->sections > 1 ? ResultsFindParticipant(in->tally, s->participant) : -1;
  int32_t listed = 0;
  for (int64_t i = 0; i < in->tally->thresholdRunCount; ++i) {
    const ThresholdRunRows* run = &in->tally->thresholdRuns[i];
    if (participant >= 0 && run->participant != participant) continue;
    ThresholdRunResult r;
    AnalyseThresholdRun(in->tally, run, &r);
    std::fprintf(out, "%s\n    {\"run_started\": ", listed++ ? "," : "");
    JsonString(out, run->runStarted);
    std::fprintf(out, ", \"frame_us\": %d, \"steps\": %d, \"program_ms\": ", run->frameUs, run->stepCount);
    JsonNumber(out, r.program.medianMs, r.replayed);
    std::fprintf(out, ", \"program_ci_ms\": [");
    JsonNumber(out, r.program.lowMs, r.replayed);
    std::fprintf(out, ", ");
    JsonNumber(out, r.program.highMs, r.replayed);
    std::fprintf(out, "], \"program_side\": \"%s\", \"fit_ms\": ",
                 !r.replayed ? "unknown" : (r.program.side < 0 ? "below" : (r.program.side > 0 ? "above" : "inside")));
    JsonNumber(out, r.fitMs, r.fitState == kFitOk);
    std::fprintf(out, "}");
  }
  std::fprintf(out, "],\n  \"svg\": ");
  if (s->svgPath && s->svgWritten) JsonString(out, s->svgPath); else std::fprintf(out, "null");
  std::fprintf(out, "}");
  if (in->sections <= 1) std::fprintf(out, "\n");
  else if (s->index == in->sections - 1) std::fprintf(out, "\n]\n");
}
