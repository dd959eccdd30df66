// Reader of qvdelay_results.csv files: validates every line, tallies the
// good steps per participant, N and frame period (all and without late
// frames) and reports bad lines with file and line number.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int32_t kMinDelayFrames = 2, kMaxDelayFrames = 8; // the fixed procedure's N
constexpr int32_t kMaxThresholdFrames = 256;                 // a threshold run's N: up to the history's length
constexpr int32_t kMessagesPerFile = 10; // per-line messages before a count
// Distinct (participant, N, frame period) combinations; the run keys keep
// the index in their low bits, so this stays a power of two.
constexpr int32_t kMaxLevels = 1024;
static_assert((kMaxLevels & (kMaxLevels - 1)) == 0, "run keys mask the level index");
constexpr int32_t kMaxParticipantChars = 32;
constexpr int32_t kMinFrameUs = 1000, kMaxFrameUs = 40000; // about 1000 Hz to 25 Hz
constexpr int32_t kOldFrameUs = 16666;                     // rows of the 11-column record ran at 60 Hz

// The steps of one participant at one N and one frame period.
struct LevelTally {
  int32_t participant; // index into ResultsTally::participants
  int32_t frames, frameUs;
  int64_t steps, right;           // every good step
  int64_t cleanSteps, cleanRight; // steps with no late frame
  int64_t runs;                   // filled by ResultsFinish
};

struct Participant {
  char name[kMaxParticipantChars + 1]; // "" for rows that name none
  int32_t lastFrameUs;                 // frame period of the participant's latest good row
};

// A threshold run: its rows in order, each one step at k = N - 1 frames
// of added delay; the report replays them through the program's procedure.
struct ThresholdStep {
  int16_t level; // k
  int16_t correct;
};

struct ThresholdRunRows {
  char runStarted[32];
  int32_t participant;
  int32_t frameUs;
  int64_t firstStep; // into ResultsTally::thresholdSteps
  int32_t stepCount;
  uint64_t key; // run_started and platform
};

struct ResultsTally {
  LevelTally* levels; // kMaxLevels, allocated once
  int32_t levelCount;
  Participant* participants; // kMaxLevels (each has a level), allocated once
  int32_t participantCount;
  int64_t goodLines, badLines, lateSteps;
  int32_t filesRead, filesFailed;
  int32_t lastFrameUs; // frame period of the latest good row
  // Run keys (hash of run_started and platform, level index in the low
  // bits), one per change of run between consecutive lines; sorted and
  // counted by ResultsFinish.
  uint64_t* runKeys;
  int64_t runKeyCount, runKeyCapacity;
  char* buffer; // read block, allocated once
  int64_t bufferSize;
  // Threshold runs in the order read; grown as needed.
  ThresholdRunRows* thresholdRuns;
  int64_t thresholdRunCount, thresholdRunCapacity;
  ThresholdStep* thresholdSteps;
  int64_t thresholdStepCount, thresholdStepCapacity;
};

int32_t ResultsInit(ResultsTally* t);
void ResultsFree(ResultsTally* t);
// Reads one file into the tally; messages go to `messages` (may be null).
// Returns 1 when the file cannot be used at all (missing, foreign header).
int32_t ResultsReadFile(ResultsTally* t, const char* path, FILE* messages);
// Counts the distinct runs per level.
void ResultsFinish(ResultsTally* t);
// 1 when name is a valid participant: at most 32 letters, digits, '-', '_', '.'.
int32_t ParticipantNameValid(const char* s, int64_t n);
// Index of the participant called name, -1 when no good row names it.
int32_t ResultsFindParticipant(const ResultsTally* t, const char* name);
