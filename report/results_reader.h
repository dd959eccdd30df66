// Reader of qvdelay_results.csv files: validates every line, tallies the
// good steps per delay (all and without late frames) and reports bad lines
// with file and line number.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int32_t kMinDelayFrames = 2, kMaxDelayFrames = 8;
constexpr int32_t kMessagesPerFile = 10; // per-line messages before a count

struct DelayTally {
  int64_t steps, right;           // every good step
  int64_t cleanSteps, cleanRight; // steps with no late frame
  int64_t runs;                   // filled by ResultsFinish
};

struct ResultsTally {
  DelayTally delay[kMaxDelayFrames + 1]; // indexed by N
  int64_t goodLines, badLines, lateSteps;
  int32_t filesRead, filesFailed;
  // Run keys (hash of run_started, platform, N), one per change of run
  // between consecutive lines; sorted and counted by ResultsFinish.
  uint64_t* runKeys;
  int64_t runKeyCount, runKeyCapacity;
  char* buffer; // read block, allocated once
  int64_t bufferSize;
};

int32_t ResultsInit(ResultsTally* t);
void ResultsFree(ResultsTally* t);
// Reads one file into the tally; messages go to `messages` (may be null).
// Returns 1 when the file cannot be used at all (missing, foreign header).
int32_t ResultsReadFile(ResultsTally* t, const char* path, FILE* messages);
// Counts the distinct runs per delay.
void ResultsFinish(ResultsTally* t);
