// Clock and stopwatch: the counter and millisecond clocks move forward and
// together, the stopwatch follows them, and the counter-to-microsecond
// conversion matches exact arithmetic, also above 2^63.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/clock_convert.h"
#include "runtime/runtime.h"

TEST(Clock, CounterReadsNeverDecrease) {
  uint64_t previous = NowMicroseconds(1);
  for (int i = 0; i < 200000; ++i) {
    uint64_t now = NowMicroseconds(1);
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(Clock, MillisecondFallbackGivesWholeMilliseconds) {
  uint64_t previous = NowMicroseconds(0);
  bool advanced = false;
  for (int i = 0; i < 2000; ++i) {
    uint64_t now = NowMicroseconds(0);
    ASSERT_EQ(now % 1000, 0u);
    ASSERT_GE(now, previous);
    advanced |= now > previous;
    previous = now;
    OsSleepMilliseconds(i % 50 == 0 ? 1 : 0);
  }
  EXPECT_TRUE(advanced);
}

// The two clocks come from different sources on Windows and different
// arithmetic everywhere; over a sleep they must agree.
TEST(Clock, CounterAndMillisecondClockAdvanceTogether) {
  uint64_t c0 = NowMicroseconds(1);
  uint64_t m0 = NowMicroseconds(0);
  OsSleepMilliseconds(120);
  uint64_t m1 = NowMicroseconds(0);
  uint64_t c1 = NowMicroseconds(1);
  int64_t counterDelta = static_cast<int64_t>(c1 - c0);
  int64_t millisecondDelta = static_cast<int64_t>(m1 - m0);
  EXPECT_GE(counterDelta, 110000);
  EXPECT_NEAR(static_cast<double>(counterDelta), static_cast<double>(millisecondDelta), 20000.0);
}

TEST(Clock, StopwatchStartsAtZeroAndFollowsTime) {
  Stopwatch watch;
  StopwatchInit(&watch);
  EXPECT_EQ(watch.useCounter, 1);
  EXPECT_LT(StopwatchElapsed(&watch), 50000u);
  OsSleepMilliseconds(20);
  uint64_t elapsed = StopwatchElapsed(&watch);
  EXPECT_GE(elapsed, 15000u);
  EXPECT_LT(elapsed, 5000000u);
  Stopwatch coarse = {0, NowMicroseconds(0)};
  EXPECT_EQ(StopwatchElapsed(&coarse) % 1000, 0u);
}

// Reference: exact integer arithmetic in 128 bits.
static unsigned __int128 ExactMicroseconds(uint64_t counter, uint64_t frequency) {
  return static_cast<unsigned __int128>(counter) * 1000000u / frequency;
}

TEST(Clock, CounterConversionMatchesExactArithmetic) {
  const uint64_t frequencies[] = {1000000ull, 3579545ull, 10000000ull, 24000000ull, 1000000000ull, 2994373ull};
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint64_t frequency : frequencies) {
    for (int i = 0; i < 20000; ++i) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      uint64_t counter = x >> (i % 40); // magnitudes from 2^24 to 2^64
      unsigned __int128 exact = ExactMicroseconds(counter, frequency);
      if (exact >= (static_cast<unsigned __int128>(1) << 64)) continue;
      uint64_t got = CounterToMicroseconds(counter, frequency);
      double exactD = static_cast<double>(static_cast<uint64_t>(exact));
      // Double rounding of a product and a quotient: within a few ulps.
      double tolerance = exactD * 4.0 * 2.220446049250313e-16 + 1.0;
      ASSERT_NEAR(static_cast<double>(got), exactD, tolerance) << counter << " / " << frequency;
    }
  }
  EXPECT_EQ(CounterToMicroseconds(123456789ull, 10000000ull), 12345678u);
  EXPECT_EQ(CounterToMicroseconds(0, 10000000ull), 0u);
}

TEST(Clock, ConversionAboveTwoTo63) {
  // Exactly representable values at and above 2^63 come back unchanged.
  const uint64_t exactValues[] = {1ull << 63, (1ull << 63) + (1ull << 40), 0xFFFFFFFFFFFFF800ull};
  for (uint64_t v : exactValues) EXPECT_EQ(CounterToMicroseconds(v, 1000000ull), v);
  EXPECT_EQ(CounterToMicroseconds(1ull << 62, 500000ull), 1ull << 63);
  // Beyond 2^64 µs there is nothing sensible; it must not be undefined.
  EXPECT_EQ(CounterToMicroseconds(UINT64_MAX, 1000ull), UINT64_MAX);
}
