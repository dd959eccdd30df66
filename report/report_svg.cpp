// A self-contained SVG 1.1 picture: plain elements only, every number
// printed with two decimals, so it opens in any browser and the tests can
// find each point by its class and data-delay-frames attribute.
#include <cmath>

#include "report/report_output.h"

static double X(double ms) { return kPlotX0 + kPlotWidth * ms / kPlotMaxMs; }
static double Y(double p) { return kPlotY0 - kPlotHeight * p; }

int32_t WriteReportSvg(const char* path, const Analysis* a) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return 1;
  std::fprintf(f,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
               "font-family=\"sans-serif\" font-size=\"12\" data-x0=\"%.0f\" data-y0=\"%.0f\" data-width=\"%.0f\" "
               "data-height=\"%.0f\" data-max-ms=\"%.0f\">\n",
               kSvgWidth, kSvgHeight, kSvgWidth, kSvgHeight, kPlotX0, kPlotY0, kPlotWidth, kPlotHeight, kPlotMaxMs);
  std::fprintf(f, "<title>qvdelay: proportion correct per delay</title>\n");
  std::fprintf(f, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", kSvgWidth, kSvgHeight);
  // Axes, grid and labels.
  std::fprintf(f, "<g stroke=\"#888\" stroke-width=\"1\">\n");
  std::fprintf(f, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", X(0), Y(0), X(kPlotMaxMs), Y(0));
  std::fprintf(f, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", X(0), Y(0), X(0), Y(1));
  for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n)
    std::fprintf(f, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", X(DelayMsOfFrames(n)), Y(0),
                 X(DelayMsOfFrames(n)), Y(0) + 5);
  std::fprintf(f, "</g>\n<g fill=\"#333\">\n");
  for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n)
    std::fprintf(f, "<text class=\"tick\" x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">N=%d</text>\n",
                 X(DelayMsOfFrames(n)), Y(0) + 18, n);
  for (int32_t p = 0; p <= 100; p += 25)
    std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%d%%</text>\n", X(0) - 6, Y(p / 100.0) + 4, p);
  std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">added delay, ms (N frames: (N - 1) x 16.7 ms)</text>\n",
               X(kPlotMaxMs / 2), Y(0) + 40);
  std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">proportion correct per N (dot area: steps; bars: 95%% interval)</text>\n",
               X(kPlotMaxMs / 2), Y(1) - 14);
  std::fprintf(f, "</g>\n");
  std::fprintf(f, "<line class=\"chance\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#bbb\" stroke-dasharray=\"2 3\"/>\n",
               X(0), Y(0.5), X(kPlotMaxMs), Y(0.5));
  std::fprintf(f, "<line class=\"line75\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#c60\" stroke-dasharray=\"6 4\"/>\n",
               X(0), Y(0.75), X(kPlotMaxMs), Y(0.75));
  std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" fill=\"#c60\" text-anchor=\"end\">75%%</text>\n", X(kPlotMaxMs), Y(0.75) - 4);
  if (a->fitState == kFitOk) {
    if (a->boot.ok) {
      double lo = a->boot.lowMs < kPlotMaxMs ? a->boot.lowMs : kPlotMaxMs;
      double hi = a->boot.highMs < kPlotMaxMs ? a->boot.highMs : kPlotMaxMs;
      std::fprintf(f, "<rect class=\"threshold-ci\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"#36c\" fill-opacity=\"0.12\"/>\n",
                   X(lo), Y(1), X(hi) - X(lo), kPlotHeight);
    }
    std::fprintf(f, "<polyline class=\"fit\" fill=\"none\" stroke=\"#36c\" stroke-width=\"2\" points=\"");
    for (int32_t i = 0; i <= 100; ++i) {
      double d = kPlotMaxMs * i / 100.0;
      std::fprintf(f, "%s%.2f,%.2f", i ? " " : "", X(d), Y(PsychometricP(d, a->fit.alpha, a->fit.beta)));
    }
    std::fprintf(f, "\"/>\n");
    if (a->fit.thresholdMs <= kPlotMaxMs) {
      std::fprintf(f, "<line class=\"threshold\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#36c\"/>\n",
                   X(a->fit.thresholdMs), Y(0), X(a->fit.thresholdMs), Y(1));
      std::fprintf(f, "<text x=\"%.2f\" y=\"%.2f\" fill=\"#36c\">threshold %.1f ms</text>\n", X(a->fit.thresholdMs) + 4,
                   Y(1) + 14, a->fit.thresholdMs);
    }
  }
  for (int32_t i = 0; i < a->rowCount; ++i) {
    const DelayRow* r = &a->rows[i];
    double x = X(DelayMsOfFrames(r->frames));
    std::fprintf(f, "<line class=\"ci\" data-delay-frames=\"%d\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#222\"/>\n",
                 r->frames, x, Y(r->ciLow), x, Y(r->ciHigh));
    // Area grows with the steps: radius 3 for one run of 20, capped at 14.
    double radius = 3.0 * std::sqrt(double(r->steps) / 20.0);
    if (radius < 2) radius = 2;
    if (radius > 14) radius = 14;
    std::fprintf(f, "<circle class=\"point\" data-delay-frames=\"%d\" data-steps=\"%lld\" cx=\"%.2f\" cy=\"%.2f\" r=\"%.2f\" fill=\"#222\" fill-opacity=\"0.7\"/>\n",
                 r->frames, (long long)r->steps, x, Y(double(r->right) / double(r->steps)), radius);
  }
  std::fprintf(f, "</svg>\n");
  int32_t bad = std::ferror(f) ? 1 : 0;
  if (std::fclose(f) != 0) bad = 1;
  return bad;
}
