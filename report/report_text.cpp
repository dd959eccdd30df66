#include "report/report_output.h"

static const char* VerdictWords(Verdict v) {
  return v == kVerdictFelt ? "felt" : (v == kVerdictNotFelt ? "not felt" : "not settled yet");
}

static void PrintTable(FILE* out, const Analysis* a) {
  std::fprintf(out, "  N  added delay  runs  right/steps  correct  p-value    95%% interval     verdict\n");
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    char score[32];
    std::snprintf(score, sizeof(score), "%lld/%lld", (long long)r->right, (long long)r->steps);
    char p[32]; // below the double range the tail prints as a bound, not as 0
    if (r->pValue < 1e-300) std::snprintf(p, sizeof(p), "<1e-300");
    else std::snprintf(p, sizeof(p), "%.3g", r->pValue);
    std::fprintf(out, "  %d  %6.1f ms  %5lld  %11s  %6.1f%%  %-9s  %5.1f%% - %5.1f%%  %s", r->frames,
                 DelayMsOfFrames(r->frames), (long long)r->runs, score, 100.0 * double(r->right) / double(r->steps), p,
                 100.0 * r->ciLow, 100.0 * r->ciHigh, VerdictWords(r->verdict));
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

static void PrintThreshold(FILE* out, const Analysis* a) {
  if (a->fitState == kFitTooFewDelays) {
    std::fprintf(out, "  No threshold yet: it needs steps at two or more different N, and %s.\n",
                 a->rowCount == 0 ? "there are none" : "only one N has steps");
    std::fprintf(out, "  Run a few 20-step runs at N = %d next.\n", a->nextFrames);
    return;
  }
  if (a->fitState == kFitNotConverged) {
    std::fprintf(out,
                 "  No threshold: the curve could not be fitted (the estimates ran to the edge of the search range,\n"
                 "  alpha %.0f-%.0f ms, beta %.1f-%.0f). This happens when every N is answered nearly always right,\n"
                 "  or nearly at chance, or the jump between two N is too sharp to place.\n",
                 kAlphaMinMs, kAlphaMaxMs, kBetaMin, kBetaMax);
    std::fprintf(out, "  Run a few 20-step runs at N = %d next.\n", a->nextFrames);
    return;
  }
  const FitResult* f = &a->fit;
  std::fprintf(out, "  75%% correct at %.1f ms = N %.2f frames", f->thresholdMs, FramesOfDelayMs(f->thresholdMs));
  if (a->boot.ok)
    std::fprintf(out, ", 95%% interval %.1f - %.1f ms (N %.2f - %.2f)\n", a->boot.lowMs, a->boot.highMs,
                 FramesOfDelayMs(a->boot.lowMs), FramesOfDelayMs(a->boot.highMs));
  else
    std::fprintf(out, " (no interval: the bootstrap failed)\n");
  std::fprintf(out, "  fit: alpha = %.1f ms, beta = %.2f, lapse fixed at %.2f\n", f->alpha, f->beta, kLapse);
  if (a->boot.ok && a->boot.boundHits > 0)
    std::fprintf(out, "  (%d of %d resamples ran to the edge of the search range and were kept there)\n",
                 a->boot.boundHits, a->boot.resamples);
}

void PrintReportText(FILE* out, const ReportInput* in) {
  const ResultsTally* t = in->tally;
  const Analysis* a = in->all;
  std::fprintf(out, "qvdelay report\n");
  std::fprintf(out, "Read %d file%s:", in->fileCount, in->fileCount == 1 ? "" : "s");
  for (int32_t i = 0; i < in->fileCount; ++i) std::fprintf(out, " %s", in->files[i]);
  int64_t runs = 0;
  for (int32_t i = 0; i < a->rowCount; ++i) runs += a->rows[i].runs;
  std::fprintf(out, "\n%lld steps in %lld runs; %lld malformed line%s skipped.\n\n", (long long)t->goodLines,
               (long long)runs, (long long)t->badLines, t->badLines == 1 ? "" : "s");

  std::fprintf(out, "Can you feel N frames of delay? (every step; guessing scores 50%%)\n");
  PrintTable(out, a);
  std::fprintf(out,
               "  p-value: chance of scoring at least this well by guessing (exact binomial, one-sided).\n"
               "  95%% interval: Clopper-Pearson interval of the proportion correct.\n"
               "  Verdict: \"felt\" when p < 0.05; \"not felt\" when the interval's upper end is below 75%%;\n"
               "  otherwise \"not settled yet\", with the smallest number m of extra steps at that N after\n"
               "  which the same rate of correct answers (rounded to whole steps) out of steps + m would\n"
               "  give one of the other two verdicts.\n\n");

  std::fprintf(out, "Delay threshold (75%% correct), fitted over every step:\n");
  PrintThreshold(out, a);
  std::fprintf(out,
               "  Model: P(d) = 0.5 + 0.48 (1 - exp(-(d/alpha)^beta)), d = (N - 1) x 1000/60 ms; maximum\n"
               "  likelihood; interval from the 2.5 and 97.5 percentiles of %d parametric bootstrap refits\n"
               "  (seed %llu).\n\n",
               kBootstrapResamples, (unsigned long long)kBootstrapSeed);

  if (t->lateSteps == 0) {
    std::fprintf(out, "Late frames: no step had a frame presented more than 25 ms after the one before; every\n"
                      "step is a clean trial.\n\n");
  } else {
    std::fprintf(out,
                 "Late frames: %lld of %lld steps had a frame presented more than 25 ms after the one before.\n"
                 "Those steps are not clean trials; the same numbers without them:\n",
                 (long long)t->lateSteps, (long long)t->goodLines);
    PrintTable(out, in->clean);
    std::fprintf(out, "Delay threshold without them:\n");
    PrintThreshold(out, in->clean);
    std::fprintf(out, "\n");
  }

  std::fprintf(out, "Next: run N = %d.\n", a->nextFrames);
  if (a->fitState == kFitOk)
    std::fprintf(out, "  Rule: the N whose delay is nearest the threshold estimate (ties: the N with fewer steps).\n");
  else
    std::fprintf(out, "  Rule: without a threshold, two N below the smallest tested N when every tested N scores\n"
                      "  75%% or more, two above the largest when every one scores less, otherwise an untested N\n"
                      "  between the two sides (else the side with fewer steps).\n");
  if (in->svgPath)
    std::fprintf(out, "\nPicture: %s%s\n", in->svgPath, in->svgWritten ? "" : " (could not be written)");
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
    std::fprintf(out, "%s\n    {\"delay_frames\": %d, \"delay_ms\": %.6g, \"runs\": %lld, \"steps\": %lld, \"right\": %lld, \"p_value\": ",
                 i ? "," : "", r->frames, DelayMsOfFrames(r->frames), (long long)r->runs, (long long)r->steps,
                 (long long)r->right);
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
  std::fprintf(out, ", \"threshold_frames\": ");
  JsonNumber(out, FramesOfDelayMs(a->fit.thresholdMs), fit);
  std::fprintf(out, ", \"threshold_ci_ms\": [");
  JsonNumber(out, a->boot.lowMs, boot);
  std::fprintf(out, ", ");
  JsonNumber(out, a->boot.highMs, boot);
  std::fprintf(out, "], \"alpha_ms\": ");
  JsonNumber(out, a->fit.alpha, fit);
  std::fprintf(out, ", \"beta\": ");
  JsonNumber(out, a->fit.beta, fit);
  std::fprintf(out, ", \"fit\": \"%s\", \"next_delay_frames\": %d",
               a->fitState == kFitOk ? "ok" : (a->fitState == kFitTooFewDelays ? "too few delays" : "not converged"),
               a->nextFrames);
}

void PrintReportJson(FILE* out, const ReportInput* in) {
  std::fprintf(out, "{\"files\": [");
  for (int32_t i = 0; i < in->fileCount; ++i) {
    if (i) std::fprintf(out, ", ");
    JsonString(out, in->files[i]);
  }
  std::fprintf(out, "], \"steps\": %lld, \"malformed_lines\": %lld, \"late_steps\": %lld, \"lapse\": %.6g,\n  ",
               (long long)in->tally->goodLines, (long long)in->tally->badLines, (long long)in->tally->lateSteps, kLapse);
  JsonAnalysis(out, in->all);
  std::fprintf(out, ",\n  \"clean\": {");
  JsonAnalysis(out, in->clean);
  std::fprintf(out, "},\n  \"svg\": ");
  if (in->svgPath && in->svgWritten) JsonString(out, in->svgPath); else std::fprintf(out, "null");
  std::fprintf(out, "}\n");
}
