// The results reader on good, malformed, missing and foreign files, both
// headers, and the pooling of rows of several frame rates by added delay.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "report/analysis.h"
#include "report/results_reader.h"

static const char kHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms\n";

static const char kNewHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms,"
    "frame_us,input,procedure,participant\n";

static void WriteFile(const char* path, const char* text) {
  FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::fclose(f);
}

// Reads path and returns what the reader wrote as messages.
static void ReadCapturing(ResultsTally* t, const char* path, int32_t* rc, char* messages, size_t size) {
  FILE* m = std::tmpfile();
  ASSERT_NE(m, nullptr);
  *rc = ResultsReadFile(t, path, m);
  std::rewind(m);
  size_t n = std::fread(messages, 1, size - 1, m);
  messages[n] = 0;
  std::fclose(m);
}

// The level of N at frameUs for the rows naming participant who.
static const LevelTally* Level(const ResultsTally* t, int32_t frames, int32_t frameUs = kOldFrameUs, const char* who = "") {
  int32_t p = ResultsFindParticipant(t, who);
  for (int32_t i = 0; i < t->levelCount; ++i)
    if (t->levels[i].participant == p && t->levels[i].frames == frames && t->levels[i].frameUs == frameUs)
      return &t->levels[i];
  static const LevelTally kNone = {};
  return &kNone;
}

static int32_t CountLines(const char* s, const char* needle) {
  int32_t n = 0;
  for (const char* p = std::strstr(s, needle); p; p = std::strstr(p + 1, needle)) ++n;
  return n;
}

// Six good lines (two runs at N = 4, one of them interleaved with the other,
// one run at N = 6; one late step) among one line of each kind of fault; the
// last good line has no newline.
TEST(ReportReader, SkipsEachKindOfBadLineAndKeepsTheGoodOnes) {
  const char* path = "report_reader_bad.csv";
  char text[8192];
  std::snprintf(text, sizeof(text), "%s%s", kHeader,
                "2026-12-09T08:01:02,linux,4,0,A,A,1,3,412,0,17.012\n"
                "2026-12-09T08:01:02,linux,4,1,B,A,0,2,300,2,41.500\r\n"
                "2026-12-09T08:01:02,linux,4,2,A,A,1\n"                              // too few fields
                "2026-12-09T08:01:02,linux,4,2,A,A,1,3,412,0,17.012,9\n"             // too many fields
                "2026-13-09T08:01:02,linux,4,2,A,A,1,3,412,0,17.012\n"               // month 13
                "2026-12-09T08:01:02,macos,4,2,A,A,1,3,412,0,17.012\n"               // platform
                "2026-12-09T08:01:02,linux,9,2,A,A,1,3,412,0,17.012\n"               // N outside 2-8
                "2026-12-09T08:01:02,linux,x,2,A,A,1,3,412,0,17.012\n"               // N not a number
                "2026-12-09T08:01:02,linux,4,20,A,A,1,3,412,0,17.012\n"              // step outside 0-19
                "2026-12-09T08:01:02,linux,4,2,C,A,1,3,412,0,17.012\n"               // delayed
                "2026-12-09T08:01:02,linux,4,2,A,b,1,3,412,0,17.012\n"               // submitted
                "2026-12-09T08:01:02,linux,4,2,A,A,2,3,412,0,17.012\n"               // correct not 0/1
                "2026-12-09T08:01:02,linux,4,2,A,B,1,3,412,0,17.012\n"               // correct disagrees
                "2026-12-09T08:01:02,linux,4,2,A,A,1,-3,412,0,17.012\n"              // flips negative
                "2026-12-09T08:01:02,linux,4,2,A,A,1,3,4x2,0,17.012\n"               // step_frames
                "2026-12-09T08:01:02,linux,4,2,A,A,1,3,412,,17.012\n"                // late_frames empty
                "2026-12-09T08:01:02,linux,4,2,A,A,1,3,412,0,17.\n"                  // interval
                "2026-12-09T08:01:02-2,linux,4,0,B,B,1,3,412,0,17.012\n"
                "2026-12-09T08:01:02,linux,4,3,A,A,1,3,412,0,17.012\n"              // first run again
                "2026-12-09T08:05:00,headless,6,0,A,B,0,3,412,0,17.012\n"
                "2026-12-09T08:05:00,headless,6,1,A,A,1,3,412,0,17.012");
  WriteFile(path, text);
  ResultsTally t;
  ASSERT_EQ(ResultsInit(&t), 0);
  int32_t rc;
  char messages[8192];
  ReadCapturing(&t, path, &rc, messages, sizeof(messages));
  ResultsFinish(&t);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(t.badLines, 15);
  EXPECT_EQ(t.goodLines, 6);
  EXPECT_EQ(Level(&t, 4)->steps, 4);
  EXPECT_EQ(Level(&t, 4)->right, 3);
  EXPECT_EQ(Level(&t, 4)->cleanSteps, 3);
  EXPECT_EQ(Level(&t, 4)->cleanRight, 3);
  EXPECT_EQ(Level(&t, 4)->runs, 2);
  EXPECT_EQ(Level(&t, 6)->steps, 2);
  EXPECT_EQ(Level(&t, 6)->right, 1);
  EXPECT_EQ(Level(&t, 6)->runs, 1);
  EXPECT_EQ(t.lateSteps, 1);
  // Capped messages name the file and line, then one count line.
  EXPECT_EQ(CountLines(messages, "report_reader_bad.csv:"), kMessagesPerFile + 1);
  EXPECT_NE(std::strstr(messages, "report_reader_bad.csv:4: skipped: fewer than 11 fields"), nullptr) << messages;
  EXPECT_NE(std::strstr(messages, "5 more malformed lines skipped (15 in all)"), nullptr) << messages;
  ResultsFree(&t);
  std::remove(path);
}

TEST(ReportReader, MissingFileAndForeignHeaderNameTheFile) {
  ResultsTally t;
  ASSERT_EQ(ResultsInit(&t), 0);
  int32_t rc;
  char messages[1024];
  ReadCapturing(&t, "report_reader_no_such_file.csv", &rc, messages, sizeof(messages));
  EXPECT_EQ(rc, 1);
  EXPECT_NE(std::strstr(messages, "report_reader_no_such_file.csv"), nullptr);
  WriteFile("report_reader_foreign.csv", "name,score\nalice,3\n");
  ReadCapturing(&t, "report_reader_foreign.csv", &rc, messages, sizeof(messages));
  EXPECT_EQ(rc, 1);
  EXPECT_NE(std::strstr(messages, "report_reader_foreign.csv:1:"), nullptr);
  EXPECT_EQ(t.goodLines, 0);
  EXPECT_EQ(t.filesFailed, 2);
  ResultsFree(&t);
  std::remove("report_reader_foreign.csv");
}

// Lines cross the 1 MiB block edges; none may be lost or split.
TEST(ReportReader, LinesAcrossBlockEdgesAreAllCounted) {
  const char* path = "report_reader_big.csv";
  FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(kHeader, f);
  const int32_t lines = 60000; // about 3 MiB
  int64_t right = 0;
  for (int32_t i = 0; i < lines; ++i) {
    int32_t ok = (i % 3) != 0;
    right += ok;
    std::fprintf(f, "2026-12-09T08:%02d:%02d,linux,%d,%d,A,%s,%d,%d,%d,0,%d.%03d\n", (i / 20 / 60) % 60, (i / 20) % 60,
                 2 + (i / 20) % 7, i % 20, ok ? "A" : "B", ok, i % 7, 100 + i % 900, 16 + i % 3, i % 1000);
  }
  std::fclose(f);
  ResultsTally t;
  ASSERT_EQ(ResultsInit(&t), 0);
  EXPECT_EQ(ResultsReadFile(&t, path, nullptr), 0);
  EXPECT_EQ(t.goodLines, lines);
  EXPECT_EQ(t.badLines, 0);
  int64_t sumRight = 0;
  for (int32_t n = kMinDelayFrames; n <= kMaxDelayFrames; ++n) sumRight += Level(&t, n)->right;
  EXPECT_EQ(sumRight, right);
  ResultsFree(&t);
  std::remove(path);
}

// Reads header + one line and expects it refused for `reason`, named with
// the file and line 2.
static void ExpectRefused(const char* header, const char* line, const char* reason) {
  const char* path = "report_reader_refused.csv";
  char text[1024], messages[1024], want[256];
  std::snprintf(text, sizeof(text), "%s%s\n", header, line);
  WriteFile(path, text);
  ResultsTally t;
  ASSERT_EQ(ResultsInit(&t), 0);
  int32_t rc;
  ReadCapturing(&t, path, &rc, messages, sizeof(messages));
  std::snprintf(want, sizeof(want), "%s:2: skipped: %s", path, reason);
  EXPECT_EQ(t.goodLines, 0) << line;
  EXPECT_NE(std::strstr(messages, want), nullptr) << line << "\n" << messages;
  ResultsFree(&t);
  std::remove(path);
}

static int64_t GoodLinesOf(const char* line) {
  const char* path = "report_reader_good.csv";
  char text[1024];
  std::snprintf(text, sizeof(text), "%s%s\n", kNewHeader, line);
  WriteFile(path, text);
  ResultsTally t;
  EXPECT_EQ(ResultsInit(&t), 0);
  ResultsReadFile(&t, path, nullptr);
  int64_t good = t.goodLines;
  ResultsFree(&t);
  std::remove(path);
  return good;
}

#define ROW "2026-12-09T08:01:02,linux,4,0,A,A,1,3,412,0,17.012"

TEST(ReportReaderColumns, FrameUsOutsideItsRange) {
  ExpectRefused(kNewHeader, ROW ",999,keys,fixed,", "frame_us is not a whole number from 1000 to 40000");
  ExpectRefused(kNewHeader, ROW ",40001,keys,fixed,", "frame_us is not a whole number from 1000 to 40000");
  ExpectRefused(kNewHeader, ROW ",,keys,fixed,", "frame_us is not a whole number");
  EXPECT_EQ(GoodLinesOf(ROW ",1000,keys,fixed,") + GoodLinesOf(ROW ",40000,keys,fixed,"), 2);
}

TEST(ReportReaderColumns, InputNotAnOrderedJoinOfDevices) {
  const char* reason = "input is not none or keys, joystick, mouse joined by + in that order";
  ExpectRefused(kNewHeader, ROW ",6944,mouse+keys,fixed,", reason);
  ExpectRefused(kNewHeader, ROW ",6944,keys+keys,fixed,", reason);
  ExpectRefused(kNewHeader, ROW ",6944,keys+,fixed,", reason);
  ExpectRefused(kNewHeader, ROW ",6944,none+keys,fixed,", reason);
  ExpectRefused(kNewHeader, ROW ",6944,Keys,fixed,", reason);
  EXPECT_EQ(GoodLinesOf(ROW ",6944,keys+joystick+mouse,fixed,") + GoodLinesOf(ROW ",6944,joystick,fixed,") +
                GoodLinesOf(ROW ",6944,none,fixed,") + GoodLinesOf(ROW ",6944,,fixed,"),
            4);
}

TEST(ReportReaderColumns, UnknownProcedureIsNamed) {
  ExpectRefused(kNewHeader, ROW ",16666,keys,staircase,", "procedure \"staircase\" is not known");
  ExpectRefused(kNewHeader, ROW ",16666,keys,,", "procedure \"\" is not known");
}

TEST(ReportReaderColumns, ParticipantNameRules) {
  const char* reason = "participant is not up to 32 letters, digits, '-', '_' or '.'";
  ExpectRefused(kNewHeader, ROW ",16666,keys,fixed,a b", reason);
  ExpectRefused(kNewHeader, ROW ",16666,keys,fixed,ab\"c", reason);
  ExpectRefused(kNewHeader, ROW ",16666,keys,fixed,abcdefghijklmnopqrstuvwxyz0123456", reason); // 33
  EXPECT_EQ(GoodLinesOf(ROW ",16666,keys,fixed,Az09-_.bcdefghijklmnopqrstuvwxyz"), 1);        // 32
}

TEST(ReportReaderColumns, FixedProcedureKeepsNFromTwoToEight) {
  const char* reason = "delay_frames is not a whole number from 2 to 8";
  ExpectRefused(kNewHeader, "2026-12-09T08:01:02,linux,9,0,A,A,1,3,412,0,17.012,8333,keys,fixed,", reason);
  ExpectRefused(kNewHeader, "2026-12-09T08:01:02,linux,1,0,A,A,1,3,412,0,17.012,8333,keys,fixed,", reason);
  ExpectRefused(kHeader, "2026-12-09T08:01:02,linux,9,0,A,A,1,3,412,0,17.012", reason);
  // A threshold run goes to N 256 and 80 steps; a fixed run stays at 20.
  EXPECT_EQ(GoodLinesOf("2026-12-09T08:01:02,linux,256,79,A,A,1,3,412,0,17.012,2000,keys,threshold,"), 1);
  ExpectRefused(kNewHeader, "2026-12-09T08:01:02,linux,257,0,A,A,1,3,412,0,17.012,2000,keys,threshold,",
                "delay_frames is not a whole number from 2 to 256");
  ExpectRefused(kNewHeader, "2026-12-09T08:01:02,linux,16,80,A,A,1,3,412,0,17.012,16666,keys,threshold,",
                "step is not a whole number from 0 to 79");
  ExpectRefused(kNewHeader, "2026-12-09T08:01:02,linux,4,20,A,A,1,3,412,0,17.012,16666,keys,fixed,",
                "step is not a whole number from 0 to 19");
}

// The header decides the count: old rows in a new file and new rows in an
// old file are both refused.
TEST(ReportReaderColumns, FieldCountFollowsTheHeader) {
  ExpectRefused(kNewHeader, ROW, "fewer than 15 fields");
  ExpectRefused(kNewHeader, ROW ",16666,keys,fixed,,x", "more than 15 fields");
  ExpectRefused(kHeader, ROW ",16666,keys,fixed,", "more than 11 fields");
}

// A file past the table's capacity: the extra combinations are refused with
// a message, the rest still counted. 7 N x 147 periods = 1029 combinations.
TEST(ReportReaderColumns, TooManyDistinctDelaysAreRefusedNotOverrun) {
  const char* path = "report_reader_many.csv";
  FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(kNewHeader, f);
  for (int32_t us = 1000; us < 1147; ++us)
    for (int32_t n = 2; n <= 8; ++n) std::fprintf(f, "2026-12-09T08:01:02,linux,%d,0,A,A,1,3,412,0,17.012,%d,keys,fixed,\n", n, us);
  std::fclose(f);
  ResultsTally t;
  ASSERT_EQ(ResultsInit(&t), 0);
  int32_t rc;
  char messages[4096];
  ReadCapturing(&t, path, &rc, messages, sizeof(messages));
  EXPECT_EQ(t.goodLines, kMaxLevels);
  EXPECT_EQ(t.badLines, 1029 - kMaxLevels);
  EXPECT_NE(std::strstr(messages, "more than 1024 distinct delays"), nullptr) << messages;
  ResultsFree(&t);
  std::remove(path);
}

// An old-header file and a new-header file read together tally exactly as
// one new file whose old rows carry the suffix the program gives them.
TEST(ReportReaderColumns, OldAndNewHeadersTallyAlike) {
  const char* oldRows = "2026-12-09T08:01:02,linux,4,0,A,A,1,3,412,0,17.012\n"
                        "2026-12-09T08:01:02,linux,4,1,B,A,0,3,412,2,41.000\n"
                        "2026-12-09T08:03:00,windows,3,0,B,B,1,3,412,0,17.012\n";
  const char* newRows = "2026-12-10T09:00:00,linux,5,0,A,A,1,3,412,0,8.400,8333,keys+mouse,fixed,ann\n"
                        "2026-12-10T09:00:00,linux,5,1,A,B,0,3,412,0,8.400,8333,keys,fixed,ann\n"
                        "2026-12-10T09:05:00,linux,4,0,A,A,1,3,412,0,17.000,16666,none,fixed,\n";
  char text[2048];
  std::snprintf(text, sizeof(text), "%s%s", kHeader, oldRows);
  WriteFile("report_reader_old.csv", text);
  std::snprintf(text, sizeof(text), "%s%s", kNewHeader, newRows);
  WriteFile("report_reader_new.csv", text);
  std::snprintf(text, sizeof(text), "%s%s%s%s%s", kNewHeader,
                "2026-12-09T08:01:02,linux,4,0,A,A,1,3,412,0,17.012,16666,,fixed,\n",
                "2026-12-09T08:01:02,linux,4,1,B,A,0,3,412,2,41.000,16666,,fixed,\n",
                "2026-12-09T08:03:00,windows,3,0,B,B,1,3,412,0,17.012,16666,,fixed,\n", newRows);
  WriteFile("report_reader_upgraded.csv", text);
  ResultsTally two, one;
  ASSERT_EQ(ResultsInit(&two), 0);
  ASSERT_EQ(ResultsInit(&one), 0);
  EXPECT_EQ(ResultsReadFile(&two, "report_reader_old.csv", nullptr), 0);
  EXPECT_EQ(ResultsReadFile(&two, "report_reader_new.csv", nullptr), 0);
  EXPECT_EQ(ResultsReadFile(&one, "report_reader_upgraded.csv", nullptr), 0);
  ResultsFinish(&two);
  ResultsFinish(&one);
  EXPECT_EQ(two.goodLines, 6);
  EXPECT_EQ(two.badLines + one.badLines, 0);
  ASSERT_EQ(two.levelCount, 3); // 4 and 3 at 60 Hz unnamed, 5 at 120 Hz for ann
  ASSERT_EQ(two.levelCount, one.levelCount);
  for (int32_t i = 0; i < one.levelCount; ++i) {
    const LevelTally *a = &two.levels[i], *b = &one.levels[i];
    EXPECT_EQ(a->frames, b->frames);
    EXPECT_EQ(a->frameUs, b->frameUs);
    EXPECT_STREQ(two.participants[a->participant].name, one.participants[b->participant].name);
    EXPECT_EQ(a->steps, b->steps);
    EXPECT_EQ(a->right, b->right);
    EXPECT_EQ(a->cleanSteps, b->cleanSteps);
    EXPECT_EQ(a->runs, b->runs);
  }
  // Hand count: N 4 at 60 Hz, unnamed: three steps, two right, one late, two runs.
  EXPECT_EQ(Level(&one, 4)->steps, 3);
  EXPECT_EQ(Level(&one, 4)->right, 2);
  EXPECT_EQ(Level(&one, 4)->cleanSteps, 2);
  EXPECT_EQ(Level(&one, 4)->runs, 2);
  EXPECT_EQ(Level(&one, 5, 8333, "ann")->steps, 2);
  ResultsFree(&two);
  ResultsFree(&one);
  std::remove("report_reader_old.csv");
  std::remove("report_reader_new.csv");
  std::remove("report_reader_upgraded.csv");
}

// Runs at 144 Hz N 2 (11/20), 60 Hz N 3 (12/20, its first step late),
// 120 Hz N 5 (16/20) and 60 Hz N 5 (18/20). By hand: 6944 us, 33332 us
// (3 at 60 Hz and 5 at 120 Hz pooled: 28/40, two runs; 27/39 clean) and
// 66664 us; the fit sees 6.944, 33.332 and 66.664 ms.
TEST(ReportRates, MixedRatesPoolByAddedDelayAndFitInMs) {
  struct Run { int32_t frames, frameUs, right; };
  const Run runs[] = {{2, 6944, 11}, {3, 16666, 12}, {5, 8333, 16}, {5, 16666, 18}};
  const char* path = "report_rates_mixed.csv";
  FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(kNewHeader, f);
  for (int32_t r = 0; r < 4; ++r)
    for (int32_t s = 0; s < 20; ++s)
      std::fprintf(f, "2026-12-10T10:0%d:00,linux,%d,%d,A,%s,%d,3,412,%d,17.000,%d,keys,fixed,\n", r, runs[r].frames,
                   s, s < runs[r].right ? "A" : "B", s < runs[r].right ? 1 : 0, r == 1 && s == 0 ? 1 : 0,
                   runs[r].frameUs);
  std::fclose(f);
  ResultsTally t;
  ASSERT_EQ(ResultsInit(&t), 0);
  ASSERT_EQ(ResultsReadFile(&t, path, nullptr), 0);
  ResultsFinish(&t);
  static Analysis a, clean;
  Analyse(&t, -1, 0, 20, 1, &a);
  Analyse(&t, -1, 1, 20, 1, &clean);
  EXPECT_EQ(a.frameUs, 0); // mixed
  EXPECT_EQ(a.nextFrameUs, 16666); // the latest row's rate
  ASSERT_EQ(a.rowCount, 3);
  const int64_t us[] = {6944, 33332, 66664}, steps[] = {20, 40, 20}, right[] = {11, 28, 18}, nRuns[] = {1, 2, 1};
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(a.rows[i].delayUs, us[i]);
    EXPECT_EQ(a.rows[i].steps, steps[i]);
    EXPECT_EQ(a.rows[i].right, right[i]);
    EXPECT_EQ(a.rows[i].runs, nRuns[i]);
  }
  ASSERT_EQ(a.rows[1].levelCount, 2);
  EXPECT_EQ(a.levels[a.rows[1].firstLevel].frames, 3); // 60 Hz listed before 120 Hz
  EXPECT_EQ(a.levels[a.rows[1].firstLevel + 1].frames, 5);
  EXPECT_EQ(a.rows[1].frames, 0);
  EXPECT_EQ(clean.rows[1].steps, 39);
  EXPECT_EQ(clean.rows[1].right, 27);
  EXPECT_EQ(a.lateSteps, 1);
  LevelCounts levels[3] = {{6.944, 20, 11}, {33.332, 40, 28}, {66.664, 20, 18}};
  FitResult fit;
  FitPsychometric(levels, 3, nullptr, &fit);
  EXPECT_NEAR(a.fit.alpha, fit.alpha, 1e-9);
  EXPECT_NEAR(a.fit.beta, fit.beta, 1e-9);
  EXPECT_NEAR(a.fit.thresholdMs, fit.thresholdMs, 1e-9);
  ResultsFree(&t);
  std::remove(path);
}
