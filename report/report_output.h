// The three renderings of an analysis: text for a person, JSON for
// machines and an SVG picture.
#pragma once

#include <cstdint>
#include <cstdio>

#include "report/analysis.h"

struct ReportInput {
  const char* const* files;
  int32_t fileCount;
  const ResultsTally* tally;
  const Analysis* all;   // every good step
  const Analysis* clean; // steps without late frames
  const char* svgPath;   // null when no picture was asked for
  int32_t svgWritten;
};

void PrintReportText(FILE* out, const ReportInput* in);
void PrintReportJson(FILE* out, const ReportInput* in);

// Plot area of the picture; the x axis is the added delay in ms, the y axis
// the proportion correct. The values are also written on the <svg> element.
constexpr double kSvgWidth = 640, kSvgHeight = 420;
constexpr double kPlotX0 = 70, kPlotY0 = 350, kPlotWidth = 530, kPlotHeight = 310, kPlotMaxMs = 125;
int32_t WriteReportSvg(const char* path, const Analysis* a);
