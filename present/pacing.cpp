// Present modes and the frame limiter.
#include "present/pacing.h"

#include "runtime/runtime.h"
#include "runtime/spin.h"

namespace {

uint64_t ReadClock(const FrameLimiter* limiter) {
  if (limiter->clock != nullptr) return limiter->clock(limiter->user);
  return NowMicroseconds(1);
}

} // namespace

void FrameLimiterInit(FrameLimiter* limiter, double refreshRate, PacingClockFn clock,
                      PacingYieldFn yield, void* user) {
  limiter->clock = clock;
  limiter->yield = yield;
  limiter->user = user;
  limiter->refreshRate = refreshRate > 0.0 ? refreshRate : kDefaultRefreshRate;
  limiter->clockStart = 0;
  limiter->clockStart = ReadClock(limiter);
  limiter->mark = 0;
  limiter->earlyMark = 0;
  limiter->waitCount = 0;
}

int32_t FrameLimiterPeriod(const FrameLimiter* limiter) {
  return int32_t(1e6 / limiter->refreshRate);
}

uint32_t FrameLimiterNow(const FrameLimiter* limiter) {
  return uint32_t(ReadClock(limiter) - limiter->clockStart);
}

void FrameLimiterHold(FrameLimiter* limiter, uint32_t* mark, int32_t period) {
  // All differences are taken modulo 2^32 and read as signed, so the wrap of
  // the 32-bit microsecond count (every ~71 minutes) is invisible.
  uint32_t now = FrameLimiterNow(limiter);
  if (int32_t(now - *mark + 1000000u) >= 0) {
    uint32_t spins = 0;
    while (int32_t(now - uint32_t(period) - *mark) < 0) {
      if (limiter->yield != nullptr) {
        limiter->yield(limiter->user);
      } else {
        SpinBackOff(&spins);
      }
      ++limiter->waitCount;
      now = FrameLimiterNow(limiter);
    }
  }
  *mark = now;
}

PresentModePlan PlanPresentMode(uint32_t mode, int32_t fullscreen) {
  PresentModePlan plan = {};
  switch (mode) {
  case 2:
    if (fullscreen) {
      plan.syncInterval = 1;
    } else {
      plan.waitForVBlank = 1;
    }
    break;
  case 3: plan.waitForVBlank = 1; break;
  case 4: plan.limiterBefore = 1; break;
  case 5: plan.limiterAfter = 1; break;
  case 6:
    plan.earlyBefore = 1;
    plan.limiterAfter = 1;
    break;
  default: break;
  }
  return plan;
}

void PacingBeforePresent(FrameLimiter* limiter, uint32_t mode) {
  PresentModePlan plan = PlanPresentMode(mode, 0);
  if (plan.limiterBefore) FrameLimiterHold(limiter, &limiter->mark, FrameLimiterPeriod(limiter));
  if (plan.earlyBefore) {
    FrameLimiterHold(limiter, &limiter->earlyMark, int32_t(990000.0 / limiter->refreshRate));
  }
}

void PacingAfterPresent(FrameLimiter* limiter, uint32_t mode) {
  PresentModePlan plan = PlanPresentMode(mode, 0);
  if (plan.limiterAfter) FrameLimiterHold(limiter, &limiter->mark, FrameLimiterPeriod(limiter));
}
