// The results reader on good, malformed, missing and foreign files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "report/results_reader.h"

static const char kHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms\n";

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
