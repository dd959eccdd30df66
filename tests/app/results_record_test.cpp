// The results record written by the real delay test on the headless
// platform: its rows against what the log says and what the marker shows,
// and its behaviour with files it must not harm.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app_harness.h"

namespace {

constexpr uint8_t kSpace = 0x39, kEnter = 0x1C, kQ = 0x10, kRight = 0xCD;
uint8_t Digit(int n) { return uint8_t(0x01 + n); }

const char kHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,"
    "max_interval_ms,frame_us,input,procedure,participant";

uint32_t s_localTime = 0;
uint32_t FixedLocalTime() { return s_localTime; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::vector<std::string>> Rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, ',')) fields.push_back(cell);
    if (!line.empty() && line.back() == ',') fields.push_back(""); // an empty last field
    rows.push_back(fields);
  }
  return rows;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

class ResultsRecordTest : public ::testing::Test {
protected:
  AppHarness h;
  std::string path;
  void SetUp() override {
    s_localTime = 1796811072; // 2026-12-09T10:11:12
    ASSERT_EQ(h.Start(4242), 0);
    AppSetLocalTimeForTest(FixedLocalTime);
    path = h.Directory() + "qvdelay_results.csv";
    std::remove(path.c_str());
    h.WarmUp();
  }
  void TearDown() override { h.Stop(); }

  // From SelectDelay: chooses n and judges `steps` steps as fast as the
  // states allow, submitting the shown candidate.
  void QuickRun(int n, int steps) {
    ASSERT_EQ(h.Frame({Digit(n)}), 0);
    for (int i = 0; i < steps; ++i) {
      h.Frame();               // NewStep
      h.Frame();               // ResetTrial
      ASSERT_EQ(h.Frame({kEnter}), 0); // Trial
      ASSERT_EQ(h.Frame(), 0);         // Judge
    }
  }
  // From Result back to SelectDelay.
  void BackToSelect() {
    h.Frame({kEnter});
    h.Frame();
  }
  // After QuickRun: Q on the next step, then back to SelectDelay.
  void QuitToSelect() {
    h.Frame();
    h.Frame();
    h.Frame({kQ});
    ASSERT_EQ(h.Frame(), 0);
    BackToSelect();
  }
};

// What a step of RowsFollowTheLogTheMarkerAndThePresentTimes should leave in
// its row.
struct ExpectedRow {
  std::string delayed, submitted;
  int flips, frames, late;
  std::string maxInterval;
};

// Plays step `step` of a run at N = n, flipping 0, 1 or 2 times; the delayed
// candidate is found from the marker's latency on a held key. Step 5 has two
// late frames. *candidate is the candidate shown, kept across steps.
static ExpectedRow PlayObservedStep(AppHarness& h, int n, int step, int* candidate) {
  int frames = 0;
  auto frame = [&](std::initializer_list<uint8_t> keys) {
    h.Frame(keys);
    ++frames;
  };
  frame({}); // NewStep
  frame({}); // ResetTrial
  int flips = step % 4 == 1 ? 1 : step % 4 == 3 ? 2 : 0;
  for (int f = 0; f < flips; ++f) {
    frame({kSpace}); // Trial
    frame({});       // ToggleCandidate
    frame({});       // ResetTrial
    *candidate ^= 1;
  }
  // The marker shows from the fifth trial frame; then the frame on which it
  // answers a held key tells the shown candidate's delay.
  for (int i = 0; i < n + 2; ++i) frame({});
  Box before = PinkBox(h.Last(), 0, 270);
  EXPECT_FALSE(before.Empty());
  int latency = -1;
  for (int i = 0; i < n + 2 && latency < 0; ++i) {
    frame({kRight});
    if (!(PinkBox(h.Last(), 0, 270) == before)) latency = i;
  }
  EXPECT_TRUE(latency == 0 || latency == n - 1) << "latency " << latency;
  int delayed = latency == n - 1 ? *candidate : 1 - *candidate;
  bool late = step == 5;
  if (late) h.AdvanceClock(30000);
  frame({});
  if (late) h.AdvanceClock(20000);
  frame({kEnter});
  h.Frame(); // Judge
  return {delayed ? "A" : "B", *candidate ? "A" : "B", flips, frames, late ? 2 : 0, late ? "45.625" : "15.625"};
}

// The log's step lines, "NN/20 : (^-^)" or "NN/20 : orz", as "1" or "0".
static std::vector<std::string> LoggedJudgements(const std::string& text) {
  std::vector<std::string> judged;
  std::stringstream log(text);
  std::string line;
  while (std::getline(log, line)) {
    if (line.size() < 8 || !isdigit((unsigned char)line[0]) || !isdigit((unsigned char)line[1]) ||
        line.compare(2, 6, "/20 : ") != 0)
      continue;
    const std::string verdict = line.substr(8);
    if (verdict == "(^-^)" || verdict == "orz") judged.push_back(verdict == "(^-^)" ? "1" : "0");
  }
  return judged;
}

TEST_F(ResultsRecordTest, RowsFollowTheLogTheMarkerAndThePresentTimes) {
  const int n = 3;
  h.Frame({Digit(n)});
  int candidate = 0;
  std::vector<ExpectedRow> expected;
  for (int step = 0; step < 20; ++step) {
    expected.push_back(PlayObservedStep(h, n, step, &candidate));
    ASSERT_FALSE(HasFailure()) << "step " << step;
  }

  // A second run ended by Q in the same second gets a name of its own.
  BackToSelect();
  QuickRun(4, 2);
  h.Frame();
  h.Frame();
  h.Frame({kQ});
  h.Frame();

  auto rows = Rows(ReadFile(path));
  ASSERT_EQ(rows.size(), 23u);
  std::string header;
  for (const std::string& f : rows[0]) header += (header.empty() ? "" : ",") + f;
  EXPECT_EQ(header, kHeader);
  std::vector<std::string> judged = LoggedJudgements(h.Log());
  ASSERT_EQ(judged.size(), 22u);
  for (int i = 0; i < 22; ++i) {
    const auto& r = rows[1 + i];
    ASSERT_EQ(r.size(), 15u) << "row " << i;
    bool second = i >= 20;
    int step = second ? i - 20 : i;
    EXPECT_EQ(r[0], second ? "2026-12-09T10:11:12-2" : "2026-12-09T10:11:12");
    EXPECT_EQ(r[1], "headless");
    EXPECT_EQ(r[2], second ? "4" : "3");
    EXPECT_EQ(r[3], std::to_string(step));
    EXPECT_EQ(r[6], judged[i]) << "row " << i;
    EXPECT_EQ(r[6], r[4] == r[5] ? "1" : "0");
    EXPECT_EQ(r[11], "16666");
    EXPECT_EQ(r[13], "fixed");
    EXPECT_EQ(r[14], "");
    if (second) continue;
    const ExpectedRow& e = expected[i];
    EXPECT_EQ(r[4], e.delayed) << "step " << i;
    EXPECT_EQ(r[5], e.submitted) << "step " << i;
    EXPECT_EQ(r[7], std::to_string(e.flips)) << "step " << i;
    EXPECT_EQ(r[8], std::to_string(e.frames)) << "step " << i;
    EXPECT_EQ(r[9], std::to_string(e.late)) << "step " << i;
    EXPECT_EQ(r[10], e.maxInterval) << "step " << i;
  }
}

TEST_F(ResultsRecordTest, ForeignCutAndUnwritableFilesAreNeverHarmed) {
  // Someone else's file: untouched, one log line, the test goes on.
  const std::string foreign = "name,score\nx,1\n";
  WriteFile(path, foreign);
  QuickRun(2, 3);
  EXPECT_EQ(ReadFile(path), foreign);
  EXPECT_EQ(Count(h.Log(), "not the results header"), 1u);

  // A last line cut short by a crash is ended before the next one.
  const std::string cut = std::string(kHeader) + "\n2026-01-01T00:00:00,linux,2,0,A,B,0,0,1";
  WriteFile(path, cut);
  QuitToSelect();
  s_localTime = 1709251199; // 2024-02-29T23:59:59
  QuickRun(5, 1);
  std::string text = ReadFile(path);
  ASSERT_EQ(text.substr(0, cut.size() + 1), cut + "\n");
  EXPECT_EQ(text.substr(cut.size() + 1, 30), "2024-02-29T23:59:59,headless,5");
  EXPECT_EQ(Rows(text).size(), 3u);

  // A folder that does not exist: one log line per run, no frame lost.
  QuitToSelect();
  AppSetResultsPath((h.Directory() + "missing/qvdelay_results.csv").c_str());
  for (int run = 0; run < 2; ++run) {
    QuickRun(2, 3);
    QuitToSelect();
  }
  EXPECT_EQ(Count(h.Log(), "cannot be written"), 2u);
  EXPECT_EQ(Rows(ReadFile(path)).size(), 3u);
}

TEST_F(ResultsRecordTest, AnOldRecordIsUpgradedOnceAndIsWholeAtEveryMoment) {
  const std::string oldHeader =
      "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,"
      "max_interval_ms\n";
  // Rows as older programs wrote them: one with CRLF, a blank line, and a
  // last line cut short by a crash.
  const std::string old = oldHeader + "2026-01-01T00:00:00,linux,2,0,A,B,0,0,31,0,16.700\n" +
                          "2026-01-01T00:00:00,linux,2,1,B,B,1,2,60,1,33.400\r\n\n" +
                          "2026-01-01T00:00:00,linux,2,2,A";
  const std::string upgraded = std::string(kHeader) + "\n" +
                               "2026-01-01T00:00:00,linux,2,0,A,B,0,0,31,0,16.700,16666,,fixed,\n" +
                               "2026-01-01T00:00:00,linux,2,1,B,B,1,2,60,1,33.400,16666,,fixed,\r\n\n" +
                               "2026-01-01T00:00:00,linux,2,2,A";
  // A backup of an earlier upgrade is never overwritten.
  for (const char* name : {".bak2", ".bak3", ".bak4"}) std::remove((path + name).c_str());
  WriteFile(path + ".bak", "an earlier backup\n");
  // Given up after each row written and before each rename, as a crash
  // there would: the record is still the old file, whole.
  for (int stop = 1; stop <= 5; ++stop) {
    SCOPED_TRACE(stop);
    WriteFile(path, old);
    AppSetUpgradeStopForTest(stop);
    QuickRun(2, 1);
    EXPECT_EQ(ReadFile(path), old);
    QuitToSelect();
  }
  AppSetUpgradeStopForTest(0);
  QuickRun(3, 1);
  std::string text = ReadFile(path);
  ASSERT_GE(text.size(), upgraded.size() + 1);
  EXPECT_EQ(text.substr(0, upgraded.size() + 1), upgraded + "\n");
  auto rows = Rows(text);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[5][2], "3");
  EXPECT_EQ(rows[5].size(), 15u);
  EXPECT_EQ(ReadFile(path + ".bak"), "an earlier backup\n");
  // The attempt given up after the backup's link left one more backup.
  EXPECT_EQ(ReadFile(path + ".bak2"), old);
  EXPECT_EQ(ReadFile(path + ".bak3"), old);
  EXPECT_EQ(Count(h.Log(), "upgraded to the new columns"), 1u);
  // Upgraded once: the next run only appends.
  QuitToSelect();
  QuickRun(4, 1);
  EXPECT_EQ(Rows(ReadFile(path)).size(), 7u);
  EXPECT_EQ(Count(h.Log(), "upgraded to the new columns"), 1u);
  EXPECT_FALSE(std::ifstream(path + ".bak4").good());
}

} // namespace
