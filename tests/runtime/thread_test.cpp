// Threads: start and join with the entry's result, names, the stack size
// every thread gets, the processor count and the executable's folder.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "runtime/runtime.h"

static int64_t ReturnArgumentNegated(void* argument) { return -static_cast<int64_t>(*static_cast<int32_t*>(argument)); }

TEST(Thread, StartRunsEntryAndJoinKeepsItsResult) {
  int32_t value = 77;
  Thread* thread = nullptr;
  ASSERT_EQ(StartThread(&thread, ReturnArgumentNegated, &value, "QvTestThread"), 0);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(thread->handle, nullptr);
  EXPECT_EQ(thread->entry, ReturnArgumentNegated);
  EXPECT_EQ(thread->startGate.value.load(), 1);
  OsJoinThread(thread->handle); // wait without freeing to look at the result
  EXPECT_EQ(thread->result, static_cast<uint64_t>(-77));
  thread->handle = nullptr;
  JoinThread(thread);
}

static int64_t CountUp(void* argument) {
  static_cast<std::atomic<int>*>(argument)->fetch_add(1);
  return 0;
}

TEST(Thread, ManyThreadsWithAndWithoutNames) {
  std::atomic<int> counter{0};
  Thread* threads[24];
  for (int i = 0; i < 24; ++i)
    ASSERT_EQ(StartThread(&threads[i], CountUp, &counter, i % 2 ? nullptr : "QvNameLongerThanFifteen"), 0);
  for (int i = 23; i >= 0; --i) JoinThread(threads[i]);
  EXPECT_EQ(counter.load(), 24);
  JoinThread(nullptr);
}

// Tile jobs keep a few hundred KiB on the stack of whichever thread runs
// them.
static int64_t UseDeepStack(void* argument) {
  volatile unsigned char frame[640 * 1024];
  for (size_t i = 0; i < sizeof(frame); i += 512) frame[i] = 1;
  int64_t sum = 0;
  for (size_t i = 0; i < sizeof(frame); i += 4096) sum += frame[i];
  *static_cast<int64_t*>(argument) = sum;
  return 0;
}

TEST(Thread, StackHoldsMoreThanHalfAMebibyte) {
  int64_t sum = -1;
  Thread* thread = nullptr;
  ASSERT_EQ(StartThread(&thread, UseDeepStack, &sum, "QvDeepStack"), 0);
  JoinThread(thread);
  EXPECT_EQ(sum, 640 * 1024 / 4096);
}

TEST(Thread, ProcessorCountIsPositive) { EXPECT_GE(ProcessorCount(), 1u); }

TEST(Os, ExecutableDirectoryEndsWithASeparator) {
  char directory[1024];
  ASSERT_EQ(OsExecutableDirectory(directory, sizeof(directory)), 0);
  size_t n = strlen(directory);
  ASSERT_GT(n, 0u);
  EXPECT_TRUE(directory[n - 1] == '/' || directory[n - 1] == '\\');
  char tiny[2];
  EXPECT_EQ(OsExecutableDirectory(tiny, sizeof(tiny)), 1);
  EXPECT_EQ(OsSetWorkingDirectory(directory), 0);
}
