// Semaphores and wait cells: lock-free fast paths, sleepers woken by exactly
// enough, 64-bit counts, each wait predicate, and the pumping wait.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runtime/runtime.h"
#include "tests/runtime/wait_until.h"

// The fast paths must not need the critical section: hold it on this thread
// and let another thread run the operation.
template <typename Operation>
static bool CompletesWhileLockHeld(SyncHead* head, Operation operation) {
  std::atomic<int> done{0};
  OsEnterCriticalSection(&head->lock);
  std::thread other([&] {
    operation();
    done.store(1);
  });
  bool completed = WaitUntil([&] { return done.load() == 1; }, 5000);
  OsLeaveCriticalSection(&head->lock);
  other.join();
  return completed;
}

TEST(Semaphore, FastPathsTakeNoLock) {
  Semaphore32 s;
  Semaphore32Init(&s, 5);
  EXPECT_TRUE(CompletesWhileLockHeld(&s.head, [&] { Semaphore32Acquire(&s, 3); }));
  EXPECT_EQ(s.count.load(), 2u);
  EXPECT_TRUE(CompletesWhileLockHeld(&s.head, [&] { Semaphore32Release(&s, 4); }));
  EXPECT_EQ(s.count.load(), 6u);
  EXPECT_TRUE(CompletesWhileLockHeld(&s.head, [&] { Semaphore32Acquire(&s, 6); }));
  EXPECT_EQ(s.count.load(), 0u);
  EXPECT_TRUE(CompletesWhileLockHeld(&s.head, [&] { Semaphore32Acquire(&s, 0); }));
  EXPECT_EQ(s.waiters.load(), 0);
  Semaphore32Destroy(&s);

  WaitCell c;
  WaitCellInit(&c, 3);
  EXPECT_TRUE(CompletesWhileLockHeld(&c.head, [&] { WaitCellWaitEquals(&c, 3); }));
  EXPECT_TRUE(CompletesWhileLockHeld(&c.head, [&] { WaitCellWaitNonZero(&c); }));
  EXPECT_TRUE(CompletesWhileLockHeld(&c.head, [&] {
    c.value.exchange(0);
    WaitCellWake(&c);
  }));
  EXPECT_TRUE(CompletesWhileLockHeld(&c.head, [&] { WaitCellWaitZero(&c); }));
  WaitCellDestroy(&c);
}

TEST(Semaphore, InitialisationStartsTheStopwatch) {
  Semaphore64 s;
  Semaphore64Init(&s, 7);
  EXPECT_EQ(s.head.stopwatch.useCounter, 1);
  EXPECT_LT(StopwatchElapsed(&s.head.stopwatch), 5000000u);
  EXPECT_EQ(s.count.load(), 7u);
  EXPECT_EQ(s.waiters.load(), 0);
  Semaphore64Destroy(&s);
}

TEST(Semaphore, SleeperTakesExactlyNOnceEnoughIsReleased) {
  Semaphore32 s;
  Semaphore32Init(&s, 0);
  std::atomic<int> done{0};
  std::thread sleeper([&] {
    Semaphore32Acquire(&s, 5);
    done.store(1);
  });
  ASSERT_TRUE(WaitUntil([&] { return s.waiters.load() == 1; }));
  for (int i = 0; i < 4; ++i) {
    Semaphore32Release(&s, 1);
    SettleBriefly();
    EXPECT_EQ(done.load(), 0) << "woke with only " << i + 1;
  }
  Semaphore32Release(&s, 3);
  ASSERT_TRUE(WaitUntil([&] { return done.load() == 1; }));
  sleeper.join();
  EXPECT_EQ(s.count.load(), 2u);
  EXPECT_EQ(s.waiters.load(), 0);
  Semaphore32Destroy(&s);
}

TEST(Semaphore, TwoSleepersNeedTwiceTheAmount) {
  Semaphore32 s;
  Semaphore32Init(&s, 0);
  std::atomic<int> done{0};
  std::thread a([&] {
    Semaphore32Acquire(&s, 3);
    done.fetch_add(1);
  });
  std::thread b([&] {
    Semaphore32Acquire(&s, 3);
    done.fetch_add(1);
  });
  ASSERT_TRUE(WaitUntil([&] { return s.waiters.load() == 2; }));
  for (int released = 1; released <= 5; ++released) {
    Semaphore32Release(&s, 1);
    SettleBriefly();
    EXPECT_LE(done.load(), released / 3) << released;
  }
  Semaphore32Release(&s, 1);
  ASSERT_TRUE(WaitUntil([&] { return done.load() == 2; }));
  a.join();
  b.join();
  EXPECT_EQ(s.count.load(), 0u);
  Semaphore32Destroy(&s);
}

TEST(Semaphore, SixtyFourBitCountsAreNotCut) {
  Semaphore64 s;
  Semaphore64Init(&s, 1ull << 40);
  Semaphore64Acquire(&s, (1ull << 40) - 1);
  EXPECT_EQ(s.count.load(), 1u);
  Semaphore64Acquire(&s, 1);
  std::atomic<int> done{0};
  std::thread sleeper([&] {
    Semaphore64Acquire(&s, 1ull << 33);
    done.store(1);
  });
  ASSERT_TRUE(WaitUntil([&] { return s.waiters.load() == 1; }));
  Semaphore64Release(&s, 1ull << 32); // zero in 32 bits
  SettleBriefly();
  EXPECT_EQ(done.load(), 0);
  Semaphore64Release(&s, (1ull << 32) + 9);
  ASSERT_TRUE(WaitUntil([&] { return done.load() == 1; }));
  sleeper.join();
  EXPECT_EQ(s.count.load(), 9u);
  Semaphore64Destroy(&s);
}

TEST(WaitCell, EachEqualityWaiterWakesAtItsValue) {
  WaitCell c;
  WaitCellInit(&c, 0);
  constexpr int kWaiters = 6;
  std::atomic<int> seen[kWaiters + 1];
  for (auto& s : seen) s.store(-1);
  std::thread threads[kWaiters];
  for (int k = 1; k <= kWaiters; ++k)
    threads[k - 1] = std::thread([&, k] {
      WaitCellWaitEquals(&c, k);
      seen[k].store(c.value.load());
    });
  ASSERT_TRUE(WaitUntil([&] { return c.waiters.load() == kWaiters; }));
  for (int k = 1; k <= kWaiters; ++k) {
    c.value.exchange(k);
    WaitCellWake(&c);
    ASSERT_TRUE(WaitUntil([&] { return seen[k].load() != -1; })) << k;
    EXPECT_EQ(seen[k].load(), k);
    for (int later = k + 1; later <= kWaiters; ++later) EXPECT_EQ(seen[later].load(), -1);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(c.waiters.load(), 0);
  WaitCellDestroy(&c);
}

TEST(WaitCell, ZeroAndNonZeroPredicates) {
  WaitCell c;
  WaitCellInit(&c, 0);
  std::atomic<int> done{0};
  std::thread nonZero([&] {
    WaitCellWaitNonZero(&c);
    done.fetch_add(1);
  });
  ASSERT_TRUE(WaitUntil([&] { return c.waiters.load() == 1; }));
  c.value.fetch_add(2);
  WaitCellWake(&c);
  nonZero.join();
  EXPECT_EQ(done.load(), 1);

  std::thread zero([&] {
    WaitCellWaitZero(&c);
    done.fetch_add(1);
  });
  ASSERT_TRUE(WaitUntil([&] { return c.waiters.load() == 1; }));
  c.value.fetch_sub(1);
  WaitCellWake(&c);
  SettleBriefly();
  EXPECT_EQ(done.load(), 1) << "value 1 is not zero";
  c.value.fetch_sub(1);
  WaitCellWake(&c);
  zero.join();
  EXPECT_EQ(done.load(), 2);
  WaitCellDestroy(&c);
}

// The waiter keeps calling its pump while it waits: here the value only
// arrives after the pump has run three times, as a window's sent message
// must be answered before the thread waited for can finish its frame.
std::atomic<int32_t> s_pumped{0};
void CountPump() { s_pumped.fetch_add(1); }

TEST(WaitCell, PumpingWaiterRunsItsPumpUntilTheValueArrives) {
  WaitCell c;
  WaitCellInit(&c, 0);
  s_pumped.store(0);
  std::thread setter([&] {
    while (s_pumped.load() < 3) std::this_thread::yield();
    c.value.store(1);
    WaitCellWake(&c);
  });
  WaitCellWaitEqualsPumping(&c, 1, CountPump);
  setter.join();
  EXPECT_EQ(c.value.load(), 1);
  EXPECT_GE(s_pumped.load(), 3);
  WaitCellWaitEqualsPumping(&c, 1, nullptr); // already equal: returns at once
  WaitCellDestroy(&c);
}
