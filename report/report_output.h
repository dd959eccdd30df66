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
  int32_t sections;    // participants reported; with more than one, a section each
  int64_t steps, runs; // over every section
};

// One participant's part of the report.
struct ReportSection {
  int32_t index;           // 0 .. sections - 1, printed in this order
  const char* participant; // "" for the rows that name none
  const Analysis* all;     // every good step
  const Analysis* clean;   // steps without late frames
  const char* svgPath;     // null when no picture was asked for
  int32_t svgWritten;
};

// Each prints one section; the first also prints what comes before the
// sections, the last what comes after.
void PrintReportText(FILE* out, const ReportInput* in, const ReportSection* s);
void PrintReportJson(FILE* out, const ReportInput* in, const ReportSection* s);

// Plot area of the picture; the x axis is the added delay in ms, the y axis
// the proportion correct. The values are also written on the <svg> element;
// the axis grows past kPlotMaxMs in steps of 25 ms when a delay lies beyond.
constexpr double kSvgWidth = 640, kSvgHeight = 420;
constexpr double kPlotX0 = 70, kPlotY0 = 350, kPlotWidth = 530, kPlotHeight = 310, kPlotMaxMs = 125;
int32_t WriteReportSvg(const char* path, const Analysis* a);
