// Log: console before the file sink is installed, a new file per start,
// message and path length limits, a deleted file made again, whole lines
// from two threads; FormatBounded's cut and conversions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

namespace {

std::string ReadFile(const std::string& path, bool* exists) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  *exists = f != nullptr;
  if (!f) return text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) text.append(chunk, n);
  fclose(f);
  return text;
}

void WriteFile(const std::string& path, const char* text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs(text, f);
  fclose(f);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogResetForTest();
    // Beside the executable, whatever the working directory is.
    char executableDirectory[1024];
    ASSERT_EQ(OsExecutableDirectory(executableDirectory, sizeof(executableDirectory)), 0);
    directory_ = std::string(executableDirectory) + "log_test_" + std::to_string(NowMicroseconds(1));
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    ASSERT_FALSE(error) << directory_;
    directory_ += "/";
  }
  void TearDown() override {
    LogResetForTest();
    std::error_code error;
    std::filesystem::remove_all(directory_, error);
  }
  std::string LogFile() const { return directory_ + "app_log.txt"; }
  std::string FileText() {
    bool exists;
    std::string text = ReadFile(LogFile(), &exists);
    EXPECT_TRUE(exists);
    return text;
  }
  bool FileExists() {
    bool exists;
    ReadFile(LogFile(), &exists);
    return exists;
  }
  void Install() {
    LogSetDirectoryForTest(directory_.c_str());
    LogInstallFileSink();
  }
  std::string directory_;
};

TEST_F(LogTest, BeforeInstallationOnlyTheConsoleGetsMessages) {
  LogSetDirectoryForTest(directory_.c_str());
  testing::internal::CaptureStdout();
  int64_t result = LogPrintf("hello %d %s\n", 42, "world");
  std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console, "hello 42 world\n");
  EXPECT_EQ(result, 15);
  EXPECT_FALSE(FileExists());
}

TEST_F(LogTest, InstallationStartsANewFileAndEveryMessageGoesToBoth) {
  WriteFile(LogFile(), "left over from the last run\n");
  Install();
  EXPECT_FALSE(FileExists()) << "the old log must be deleted";
  testing::internal::CaptureStdout();
  LogPrintf("--------------- AppInitialize ... ---------------\n");
  LogPrintf("StartThing ... ");
  LogPrintf("failed. result=0x%08X [%s]\n", 0x887A0004u, "");
  std::string console = testing::internal::GetCapturedStdout();
  const char* expected =
      "--------------- AppInitialize ... ---------------\n"
      "StartThing ... failed. result=0x887A0004 []\n";
  EXPECT_EQ(console, expected);
  EXPECT_EQ(FileText(), expected);
}

// The console sink records what the file held when it was called.
static std::string s_seenFile;
static std::string s_seenMessages;
static std::string s_watchedFile;
static int s_sinkCalls;

static int64_t WatchingSink(const char* message) {
  bool exists;
  s_seenFile = ReadFile(s_watchedFile, &exists);
  s_seenMessages += message;
  ++s_sinkCalls;
  return 1000 + static_cast<int64_t>(strlen(message));
}

TEST_F(LogTest, FileIsWrittenBeforeTheConsoleSinkRuns) {
  s_watchedFile = LogFile();
  s_seenFile.clear();
  s_seenMessages.clear();
  s_sinkCalls = 0;
  LogExchangeSinkForTest(WatchingSink);
  Install();
  EXPECT_EQ(LogPrintf("first\n"), 1006);
  EXPECT_EQ(s_seenFile, "first\n");
  EXPECT_EQ(LogPrintf("second %u\n", 2u), 1009);
  EXPECT_EQ(s_seenFile, "first\nsecond 2\n");
  EXPECT_EQ(s_seenMessages, "first\nsecond 2\n");
  EXPECT_EQ(s_sinkCalls, 2);
}

TEST_F(LogTest, SecondInstallationKeepsOneFileSinkInTheChain) {
  s_watchedFile = LogFile();
  s_seenMessages.clear();
  s_sinkCalls = 0;
  LogExchangeSinkForTest(WatchingSink);
  Install();
  LogPrintf("before\n");
  Install(); // deletes the file again, must not chain FileSink to itself
  LogPrintf("after\n");
  EXPECT_EQ(FileText(), "after\n");
  EXPECT_EQ(s_seenMessages, "before\nafter\n");
  EXPECT_EQ(s_sinkCalls, 2);
}

TEST_F(LogTest, MessagesKeepAtMost4095Characters) {
  Install();
  std::string exact(4095, 'x');
  exact[4094] = 'E';
  std::string over(4096, 'y');
  over[4095] = 'L';
  std::string huge(20000, 'z');
  testing::internal::CaptureStdout();
  EXPECT_EQ(LogPrintf("%s", exact.c_str()), 4095);
  EXPECT_EQ(LogPrintf("%s", over.c_str()), 4095);
  EXPECT_EQ(LogPrintf("%s", huge.c_str()), 4095);
  std::string console = testing::internal::GetCapturedStdout();
  std::string expected = exact + over.substr(0, 4095) + huge.substr(0, 4095);
  std::string file = FileText();
  EXPECT_EQ(console.size(), expected.size());
  EXPECT_EQ(file.size(), expected.size());
  EXPECT_TRUE(console == expected); // no dump of 12 KiB on failure
  EXPECT_TRUE(file == expected);
}

TEST_F(LogTest, DeletedFileIsCreatedAgainByTheNextMessage) {
  Install();
  testing::internal::CaptureStdout();
  LogPrintf("one\n");
  ASSERT_EQ(FileText(), "one\n");
  ASSERT_EQ(OsDeleteFile(LogFile().c_str()), 0);
  EXPECT_FALSE(FileExists());
  LogPrintf("two\n");
  EXPECT_EQ(FileText(), "two\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "one\ntwo\n");
}

TEST_F(LogTest, PathIsComposedOnlyUpTo511Characters) {
  const size_t name = strlen("app_log.txt");
  for (size_t length = 490; length <= 510; ++length) {
    LogResetForTest();
    std::string base(length - 1, 'q');
    base += '/';
    LogSetDirectoryForTest(base.c_str());
    LogInstallFileSink();
    char path[512];
    memset(path, '#', sizeof(path));
    LogComposePath(path);
    if (length + name + 1 <= 512) {
      EXPECT_EQ(std::string(path), base + "app_log.txt") << length;
    } else {
      EXPECT_EQ(path[0], 0) << length;
    }
  }
}

// A valid but over-long spelling of the test directory: the message must
// still reach the console and the file must stay unwritten.
TEST_F(LogTest, OverlongPathLeavesTheFileUnwrittenButNotTheConsole) {
  std::string longDirectory = directory_;
  while (longDirectory.size() + 11 + 1 <= 512) longDirectory += "./";
  LogSetDirectoryForTest(longDirectory.c_str());
  LogInstallFileSink();
  testing::internal::CaptureStdout();
  int64_t result = LogPrintf("still on the console\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "still on the console\n");
  EXPECT_EQ(result, 21);
  EXPECT_FALSE(FileExists());
}

// The sink after the file: a plain memory transcript with no lock of its
// own, like a console or a test capture.
static char s_transcript[1 << 22];
static size_t s_transcriptBytes;

static int64_t TranscriptSink(const char* message) {
  size_t at = s_transcriptBytes;
  size_t n = strlen(message);
  if (at + n <= sizeof(s_transcript)) {
    memcpy(s_transcript + at, message, n);
    s_transcriptBytes = at + n;
  }
  return int64_t(n);
}

// Every line appears whole, once: split at newlines, count each of the
// expected lines and refuse any other.
static void ExpectEveryLineOnce(const std::string& text, int threads, int lines, const char* where) {
  std::vector<int> seen(size_t(threads) * lines, 0);
  int strange = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    int t = -1, k = -1, used = 0;
    bool ok = sscanf(line.c_str(), "thread %d line %d: 0123456789abcdefghijklmnopqrstuvwxyz%n", &t, &k, &used) == 2 &&
              size_t(used) == line.size() && t >= 0 && t < threads && k >= 0 && k < lines;
    if (ok)
      ++seen[size_t(t) * lines + k];
    else
      ++strange;
    start = end + 1;
  }
  int missing = 0, twice = 0;
  for (int c : seen) missing += c == 0, twice += c > 1;
  EXPECT_EQ(strange, 0) << where;
  EXPECT_EQ(missing, 0) << where;
  EXPECT_EQ(twice, 0) << where;
}

TEST_F(LogTest, LinesFromTwoThreadsArriveWhole) {
  constexpr int kThreads = 2, kLines = 10000;
  s_transcriptBytes = 0;
  LogExchangeSinkForTest(TranscriptSink); // becomes the file sink's successor
  Install();
  std::thread writers[kThreads];
  for (int t = 0; t < kThreads; t++)
    writers[t] = std::thread([t] {
      for (int k = 0; k < kLines; k++) LogPrintf("thread %d line %d: 0123456789abcdefghijklmnopqrstuvwxyz\n", t, k);
    });
  for (std::thread& w : writers) w.join();
  ExpectEveryLineOnce(FileText(), kThreads, kLines, "file");
  ExpectEveryLineOnce(std::string(s_transcript, s_transcriptBytes), kThreads, kLines, "transcript");
}

TEST(FormatBounded, CutsAndAlwaysTerminates) {
  char buffer[16];
  memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(FormatBounded(buffer, 5, "%s", "abcdefgh"), 4);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(buffer[5], '#') << "nothing written past size";

  memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(FormatBounded(buffer, 1, "%d", 12345), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], '#');

  memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(FormatBounded(buffer, 0, "%d", 12345), 0);
  EXPECT_EQ(buffer[0], '#');

  EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "QvJobConsumer%d", 6), 14);
  EXPECT_STREQ(buffer, "QvJobConsumer6");
  EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "QvJobConsumer%d", 123), 15);
  EXPECT_STREQ(buffer, "QvJobConsumer12");
}

TEST(FormatBounded, WideIntegerConversionsWork) {
  char buffer[128];
  FormatBounded(buffer, sizeof(buffer), "%llu %lld %zu %08X", 18446744073709551615ull, -9223372036854775807ll - 1,
                static_cast<size_t>(4096), 0xBEEFu);
  EXPECT_STREQ(buffer, "18446744073709551615 -9223372036854775808 4096 0000BEEF");
}

} // namespace
