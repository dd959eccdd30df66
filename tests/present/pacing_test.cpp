// Frame limiter on a scripted clock, against a model in unbounded 64-bit
// time, including the wrap of the 32-bit microsecond count.
#include <gtest/gtest.h>

#include <random>

#include "present/pacing.h"

namespace {

struct FakeClock {
  uint64_t now;
  uint64_t yieldStep; // advance per yield
  uint64_t yields;
  uint64_t yieldLimit; // guards against a stall
};

uint64_t ReadFake(void* user) { return static_cast<FakeClock*>(user)->now; }

void YieldFake(void* user) {
  FakeClock* c = static_cast<FakeClock*>(user);
  c->now += c->yieldStep;
  ++c->yields;
  if (c->yields > c->yieldLimit) {
    ADD_FAILURE() << "limiter stalled";
    c->now += 1ull << 40; // force an exit whatever the comparison
  }
}

struct Rig {
  FakeClock clock{};
  FrameLimiter limiter{};
  explicit Rig(uint64_t start, uint64_t step = 1) {
    clock.now = start;
    clock.yieldStep = step;
    clock.yieldLimit = 50000000;
    FrameLimiterInit(&limiter, 60.0, ReadFake, YieldFake, &clock);
  }
};

TEST(FrameLimiter, PeriodAndModePlans) {
  Rig rig(0);
  EXPECT_EQ(FrameLimiterPeriod(&rig.limiter), 16666);
  for (int32_t fullscreen = 0; fullscreen < 2; ++fullscreen) {
    for (uint32_t mode = 0; mode < 9; ++mode) {
      PresentModePlan p = PlanPresentMode(mode, fullscreen);
      EXPECT_EQ(p.limiterBefore, mode == 4) << mode;
      EXPECT_EQ(p.earlyBefore, mode == 6) << mode;
      EXPECT_EQ(p.limiterAfter, mode == 5 || mode == 6) << mode;
      EXPECT_EQ(p.waitForVBlank, mode == 3 || (mode == 2 && !fullscreen)) << mode;
      EXPECT_EQ(p.syncInterval, (mode == 2 && fullscreen) ? 1u : 0u) << mode;
    }
  }
}

// Slow model: time never wraps; the hold ends at the first yield step at or
// after mark + period, unless the clock is more than a second behind.
struct Model {
  int64_t mark = 0;
  int64_t Hold(int64_t now, int64_t period, int64_t step) {
    if (now - mark + 1000000 >= 0 && now < mark + period) {
      int64_t steps = (mark + period - now + step - 1) / step;
      now += steps * step;
    }
    mark = now;
    return now;
  }
};

TEST(FrameLimiter, HoldsEachFrameAndNeverCatchesUp) {
  Rig rig(1000);
  uint32_t mark = FrameLimiterNow(&rig.limiter);
  // Short frames: held to exactly one period each.
  for (int i = 0; i < 10; ++i) {
    uint64_t before = rig.clock.now;
    rig.clock.now += 3000; // the frame's own work
    FrameLimiterHold(&rig.limiter, &mark, 16666);
    EXPECT_EQ(rig.clock.now - before, 16666u) << i;
  }
  // A late frame is not waited for, and the next one counts from it.
  uint64_t yields = rig.clock.yields;
  rig.clock.now += 25000;
  FrameLimiterHold(&rig.limiter, &mark, 16666);
  EXPECT_EQ(rig.clock.yields, yields);
  uint64_t late = rig.clock.now;
  rig.clock.now += 100;
  FrameLimiterHold(&rig.limiter, &mark, 16666);
  EXPECT_EQ(rig.clock.now - late, 16666u);
}

TEST(FrameLimiter, ClockJumpingBackOnlyResetsBeyondOneSecond) {
  Rig rig(5000000);
  uint32_t mark = FrameLimiterNow(&rig.limiter);
  FrameLimiterHold(&rig.limiter, &mark, 16666);
  // 1.5 s back: no wait at all, the mark follows the clock.
  uint64_t yields = rig.clock.yields;
  rig.clock.now -= 1500000;
  FrameLimiterHold(&rig.limiter, &mark, 16666);
  EXPECT_EQ(rig.clock.yields, yields);
  EXPECT_EQ(mark, FrameLimiterNow(&rig.limiter));
  uint64_t reset = rig.clock.now;
  FrameLimiterHold(&rig.limiter, &mark, 16666);
  EXPECT_EQ(rig.clock.now - reset, 16666u);
  // 0.5 s back is within the tolerance: the hold waits for the old mark.
  rig.limiter.clock = ReadFake;
  rig.clock.yieldStep = 1000;
  uint64_t markTime = rig.clock.now;
  rig.clock.now -= 500000;
  FrameLimiterHold(&rig.limiter, &mark, 16666);
  EXPECT_GE(rig.clock.now, markTime + 16666);
  EXPECT_LT(rig.clock.now, markTime + 16666 + 1000);
}

TEST(FrameLimiter, WrapOfTheMicrosecondCountCausesNoStall) {
  // Start so that the 32-bit count wraps a few frames in.
  Rig rig(777);
  rig.clock.now = 777 + (1ull << 32) - 40000;
  uint32_t mark = FrameLimiterNow(&rig.limiter);
  for (int i = 0; i < 10; ++i) {
    uint64_t before = rig.clock.now;
    rig.clock.now += 500;
    FrameLimiterHold(&rig.limiter, &mark, 16666);
    ASSERT_EQ(rig.clock.now - before, 16666u) << i;
  }
  EXPECT_LT(rig.clock.yields, 200000u);
  EXPECT_GT(rig.clock.now - 777, 1ull << 32);
}

TEST(FrameLimiter, RandomFrameTimesAcrossWrapsMatchTheModel) {
  std::mt19937_64 rng(99);
  for (uint64_t step : {37u, 333u, 4999u}) {
    Rig rig(123456789, step);
    Model model;
    int64_t t = 0; // model time since start, never wraps
    rig.clock.now = 123456789 + (1ull << 32) - 3000000;
    t = int64_t((1ull << 32) - 3000000);
    uint32_t mark = FrameLimiterNow(&rig.limiter);
    model.mark = t;
    for (int i = 0; i < 3000; ++i) {
      uint64_t r = rng() % 100;
      int64_t work = r < 70 ? int64_t(rng() % 16000) : r < 95 ? int64_t(rng() % 40000) : -int64_t(rng() % 2500000);
      rig.clock.now = uint64_t(int64_t(rig.clock.now) + work);
      t += work;
      FrameLimiterHold(&rig.limiter, &mark, 16666);
      t = model.Hold(t, 16666, int64_t(step));
      ASSERT_EQ(int64_t(rig.clock.now - 123456789), t) << "frame " << i << " step " << step;
      ASSERT_EQ(mark, uint32_t(t)) << "frame " << i;
    }
  }
}

TEST(FrameLimiter, PresentModesHoldWhereTheyShould) {
  // Mode 5 holds after presenting, mode 4 before, mode 6 on both sides with
  // its own 99 % mark; others never wait.
  for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u}) {
    Rig rig(0);
    rig.clock.now = 100000;
    rig.limiter.mark = 100000;
    rig.limiter.earlyMark = 100000;
    PacingBeforePresent(&rig.limiter, mode);
    uint64_t afterBefore = rig.clock.now;
    PacingAfterPresent(&rig.limiter, mode);
    uint64_t afterAfter = rig.clock.now;
    uint64_t wantBefore = mode == 4 ? 116666 : mode == 6 ? 116500 : 100000;
    uint64_t wantAfter = (mode == 5 || mode == 6) ? 116666 : wantBefore;
    EXPECT_EQ(afterBefore, wantBefore) << mode;
    EXPECT_EQ(afterAfter, wantAfter) << mode;
  }
}

} // namespace
