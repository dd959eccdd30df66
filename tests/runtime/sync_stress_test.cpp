// Semaphores and wait cells under load: ping-pong between two threads and
// many waiters against many releasers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

namespace {

constexpr uint32_t kRounds = 100000;

// Two threads hand a token back and forth; a lost wake-up hangs.
TEST(SyncStress, SemaphorePingPong) {
  Semaphore32 ping, pong;
  Semaphore32Init(&ping, 0);
  Semaphore32Init(&pong, 0);
  std::thread other([&] {
    for (uint32_t i = 0; i < kRounds; ++i) {
      Semaphore32Acquire(&ping, 1);
      Semaphore32Release(&pong, 1);
    }
  });
  for (uint32_t i = 0; i < kRounds; ++i) {
    Semaphore32Release(&ping, 1);
    Semaphore32Acquire(&pong, 1);
  }
  other.join();
  EXPECT_EQ(ping.count.load(), 0u);
  EXPECT_EQ(pong.count.load(), 0u);
  Semaphore32Destroy(&ping);
  Semaphore32Destroy(&pong);
}

TEST(SyncStress, WaitCellPingPong) {
  WaitCell cell;
  WaitCellInit(&cell, 0);
  std::thread other([&] {
    for (uint32_t i = 0; i < kRounds; ++i) {
      WaitCellWaitNonZero(&cell);
      cell.value.exchange(0);
      WaitCellWake(&cell);
    }
  });
  for (uint32_t i = 0; i < kRounds; ++i) {
    WaitCellWaitZero(&cell);
    cell.value.exchange(1);
    WaitCellWake(&cell);
  }
  WaitCellWaitZero(&cell);
  other.join();
  EXPECT_EQ(cell.value.load(), 0);
  EXPECT_EQ(cell.waiters.load(), 0);
  WaitCellDestroy(&cell);
}

// Producers release and consumers acquire random amounts with the same
// total; everyone must finish and the count must come back to zero.
template <typename Semaphore, typename Count, void (*Init)(Semaphore*, Count), void (*Acquire)(Semaphore*, Count),
          void (*Release)(Semaphore*, Count), void (*Destroy)(Semaphore*)>
void ManyWaitersAndReleasers(Count unit) {
  Semaphore s;
  Init(&s, 0);
  constexpr int kThreads = 4;
  const uint64_t quota = kRounds * 4ull;
  std::vector<std::thread> threads;
  std::atomic<uint64_t> acquired{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      uint32_t x = 0x12345u + static_cast<uint32_t>(t) * 7919u;
      uint64_t left = quota;
      while (left > 0) {
        x = x * 1664525u + 1013904223u;
        uint64_t n = 1 + (x >> 24) % 7;
        if (n > left) n = left;
        Release(&s, static_cast<Count>(n * unit));
        left -= n;
      }
    });
    threads.emplace_back([&, t] {
      uint32_t x = 0x9876u + static_cast<uint32_t>(t) * 104729u;
      uint64_t left = quota;
      while (left > 0) {
        x = x * 1664525u + 1013904223u;
        uint64_t n = 1 + (x >> 24) % 11;
        if (n > left) n = left;
        Acquire(&s, static_cast<Count>(n * unit));
        acquired.fetch_add(n);
        left -= n;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(acquired.load(), quota * kThreads);
  EXPECT_EQ(s.count.load(), 0u);
  EXPECT_EQ(s.waiters.load(), 0);
  Destroy(&s);
}

TEST(SyncStress, Semaphore32ManyWaitersAndReleasers) {
  ManyWaitersAndReleasers<Semaphore32, uint32_t, Semaphore32Init, Semaphore32Acquire, Semaphore32Release,
                          Semaphore32Destroy>(1u);
}

TEST(SyncStress, Semaphore64ManyWaitersAndReleasers) {
  ManyWaitersAndReleasers<Semaphore64, uint64_t, Semaphore64Init, Semaphore64Acquire, Semaphore64Release,
                          Semaphore64Destroy>(1ull << 34);
}

// Waiters for different values of one cell while it steps up and down.
TEST(SyncStress, WaitCellManyWaitersSeeTheirValue) {
  WaitCell cell;
  WaitCellInit(&cell, 0);
  constexpr int kWaiters = 6;
  const uint32_t laps = kRounds / 50;
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  // Waiter k waits for value k, then acknowledges by setting -k; the stepper
  // waits for each acknowledgement before going on.
  for (int k = 1; k <= kWaiters; ++k) {
    threads.emplace_back([&, k] {
      for (uint32_t lap = 0; lap < laps; ++lap) {
        WaitCellWaitEquals(&cell, k);
        arrived.fetch_add(1);
        cell.value.exchange(-k);
        WaitCellWake(&cell);
      }
    });
  }
  for (uint32_t lap = 0; lap < laps; ++lap) {
    for (int k = 1; k <= kWaiters; ++k) {
      cell.value.exchange(k);
      WaitCellWake(&cell);
      WaitCellWaitEquals(&cell, -k);
    }
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(arrived.load(), static_cast<int>(laps) * kWaiters);
  WaitCellDestroy(&cell);
}

} // namespace
