// A self-contained SVG 1.1 picture: plain elements only, every number
// printed with two decimals, so it opens in any browser and the tests can
// find each point by its class and data-delay-frames attribute (at one
// frame rate) or data-added-ms (rates mixed, where a point may pool several N).
#include <cmath>

#include "report/report_output.h"

static double g_maxMs = kPlotMaxMs; // right end of the x axis of the picture being written

static double X(double ms) { return kPlotX0 + kPlotWidth * ms / g_maxMs; }
static double Y(double p) { return kPlotY0 - kPlotHeight * p; }

// Axes, grid, ticks (at each N of the one rate, else every 25 ms) and labels.
static void WriteSvgAxes(FILE* f, double maxMs, int32_t us) {
  std::fprintf(f, "<g stroke=\"#888\" stroke-width=\"1\">\n");
  std::fprintf(f, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", X(0), Y(0), X(maxMs), Y(0));
  std::fprintf(f, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", X(0), Y(0), X(0), Y(1));
  int32_t ticks = us ? kMaxDelayFrames - kMinDelayFrames + 1 : int32_t(maxMs / 25);
  for (int32_t i = 0; i < ticks; ++i) {
    double ms = us ? DelayMsOfFrames(kMinDelayFrames + i, us) : 25.0 * (i + 1);
    if (ms <= maxMs) std::fprintf(f, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", X(ms), Y(0), X(ms), Y(0) + 5);
  }
  std::fprintf(f, "</g>\n<g fill=\"#333\">\n");
  for (int32_t i = 0; i < ticks; ++i) {
    double ms = us ? DelayMsOfFrames(kMinDelayFrames + i, us) : 25.0 * (i + 1);
    if (ms > maxMs) continue;
    if (us)
      std::fprintf(f, "<text class=\"tick\" x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">N=%d</text>\n", X(ms),
                   Y(0) + 18, kMinDelayFrames + i);
    else
      std::fprintf(f, "<text class=\"tick\" x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%.0f</text>\n", X(ms),
                   Y(0) + 18, ms);
  }
  for (int32_t p = 0; p <= 100; p += 25)
    std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%d%%</text>\n", X(0) - 6, Y(p / 100.0) + 4, p);
  if (us)
    std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">added delay, ms (N frames: (N - 1) x %.1f ms)</text>\n",
                 X(maxMs / 2), Y(0) + 40, double(us) / 1000.0);
  else
    std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">added delay, ms ((N - 1) frame periods, rates mixed)</text>\n",
                 X(maxMs / 2), Y(0) + 40);
  std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">proportion correct per %s (dot area: steps; bars: 95%% interval)</text>\n",
               X(maxMs / 2), Y(1) - 14, us ? "N" : "delay");
  std::fprintf(f, "</g>\n");
}

// The chance and 75 % lines, and the fit with its threshold and interval.
static void WriteSvgFit(FILE* f, double maxMs, const Analysis* a) {
  std::fprintf(f, "<line class=\"chance\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#bbb\" stroke-dasharray=\"2 3\"/>\n",
               X(0), Y(0.5), X(maxMs), Y(0.5));
  std::fprintf(f, "<line class=\"line75\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#c60\" stroke-dasharray=\"6 4\"/>\n",
               X(0), Y(0.75), X(maxMs), Y(0.75));
  std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" fill=\"#c60\" text-anchor=\"end\">75%%</text>\n", X(maxMs), Y(0.75) - 4);
  if (a->fitState == kFitOk) {
    if (a->boot.ok) {
      double lo = a->boot.lowMs < maxMs ? a->boot.lowMs : maxMs;
      double hi = a->boot.highMs < maxMs ? a->boot.highMs : maxMs;
      std::fprintf(f, "<rect class=\"threshold-ci\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"#36c\" fill-opacity=\"0.12\"/>\n",
                   X(lo), Y(1), X(hi) - X(lo), kPlotHeight);
    }
    std::fprintf(f, "<polyline class=\"fit\" fill=\"none\" stroke=\"#36c\" stroke-width=\"2\" points=\"");
    for (int32_t i = 0; i <= 100; ++i) {
      double d = maxMs * i / 100.0;
      std::fprintf(f, "%s%.2f,%.2f", i ? " " : "", X(d), Y(PsychometricP(d, a->fit.alpha, a->fit.beta)));
    }
    std::fprintf(f, "\"/>\n");
    if (a->fit.thresholdMs <= maxMs) {
      std::fprintf(f, "<line class=\"threshold\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#36c\"/>\n",
                   X(a->fit.thresholdMs), Y(0), X(a->fit.thresholdMs), Y(1));
      std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" fill=\"#36c\">threshold %.1f ms</text>\n", X(a->fit.thresholdMs) + 4,
                   Y(1) + 14, a->fit.thresholdMs);
    }
  }
}

// One point a delay: its 95 % interval and a dot whose area grows with the
// steps.
static void WriteSvgPoints(FILE* f, const Analysis* a, int32_t us) {
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    double x = X(r->delayMs);
    char key[64];
    if (us) std::snprintf(key, sizeof(key), "data-delay-frames=\"%d\"", r->frames);
    else std::snprintf(key, sizeof(key), "data-added-ms=\"%.3f\"", r->delayMs);
    std::fprintf(f, "<line class=\"ci\" %s x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#222\"/>\n",
                 key, x, Y(r->ciLow), x, Y(r->ciHigh));
    // Area grows with the steps: radius 3 for one run of 20, capped at 14.
    double radius = 3.0 * std::sqrt(double(r->steps) / 20.0);
    if (radius < 2) radius = 2;
    if (radius > 14) radius = 14;
    std::fprintf(f, "<circle class=\"point\" %s data-steps=\"%lld\" cx=\"%.2f\" cy=\"%.2f\" r=\"%.2f\" fill=\"#222\" fill-opacity=\"0.7\"/>\n",
                 key, (long long)r->steps, x, Y(double(r->right) / double(r->steps)), radius);
  }
}

int32_t WriteReportSvg(const char* path, const Analysis* a) {
  double maxMs = kPlotMaxMs; // grows so that every point stays on the picture
  for (int32_t i = 0; i < a->rowCount; ++i)
    while (a->rows[i].delayMs > maxMs) maxMs += 25;
  g_maxMs = maxMs;
  const int32_t us = a->frameUs;
  FILE* f = std::fopen(path, "wb");
  if (!f) return 1;
  std::fprintf(f,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
               "font-family=\"sans-serif\" font-size=\"12\" data-x0=\"%.0f\" data-y0=\"%.0f\" data-width=\"%.0f\" "
               "data-height=\"%.0f\" data-max-ms=\"%.0f\">\n",
               kSvgWidth, kSvgHeight, kSvgWidth, kSvgHeight, kPlotX0, kPlotY0, kPlotWidth, kPlotHeight, maxMs);
  std::fprintf(f, "<title>qvdelay: proportion correct per delay</title>\n");
  std::fprintf(f, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", kSvgWidth, kSvgHeight);
  WriteSvgAxes(f, maxMs, us);
  WriteSvgFit(f, maxMs, a);
  WriteSvgPoints(f, a, us);
  std::fprintf(f, "</svg>\n");
  int32_t bad = std::ferror(f) ? 1 : 0;
  if (std::fclose(f) != 0) bad = 1;
  return bad;
}
