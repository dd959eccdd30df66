// Frame pacing shared by every presenter: the present modes and the frame
// limiter that holds the frame period. The clock and the yield are
// injectable so the limiter can be driven by a scripted clock.
//
// A presenter's PresentFrame(mode) does:
//   PresentModePlan plan = PlanPresentMode(mode, fullscreen);
//   PacingBeforePresent(&limiter, mode);        // modes 4 and 6
//   if (plan.waitForVBlank) <wait for the vertical blank>;
//   <present with plan.syncInterval>;
//   PacingAfterPresent(&limiter, mode);         // modes 5 and 6, even when
//                                               // the present failed
#pragma once

#include <cstdint>

// Microseconds from any fixed origin; only differences are used.
typedef uint64_t (*PacingClockFn)(void* user);
// Called between clock reads while the limiter waits.
typedef void (*PacingYieldFn)(void* user);

struct FrameLimiter {
  PacingClockFn clock; // null: NowMicroseconds(1)
  PacingYieldFn yield; // null: SpinBackOff
  void* user;
  uint64_t clockStart;  // clock reading at FrameLimiterInit
  double refreshRate;   // 60.0
  uint32_t mark;        // end of the previous hold, µs since clockStart (mod 2^32)
  uint32_t earlyMark;   // mode 6's own mark for its pre-present hold
  uint64_t waitCount;   // yields taken, for diagnostics
};

constexpr double kDefaultRefreshRate = 60.0;

// clock and yield may be null for the real clock and yield.
void FrameLimiterInit(FrameLimiter* limiter, double refreshRate, PacingClockFn clock,
                      PacingYieldFn yield, void* user);
// (int)(1e6 / refresh rate): 16666 at 60 Hz.
int32_t FrameLimiterPeriod(const FrameLimiter* limiter);
// Microseconds since clockStart, as the 32-bit value the limiter compares.
uint32_t FrameLimiterNow(const FrameLimiter* limiter);
// Holds until period µs have passed since *mark (32-bit wrap-safe), then
// *mark = now. A clock more than a second behind *mark only resets it.
// Lateness is never caught up: the next period counts from the new mark.
void FrameLimiterHold(FrameLimiter* limiter, uint32_t* mark, int32_t period);

struct PresentModePlan {
  int32_t limiterBefore;  // full-period hold before presenting (mode 4)
  int32_t earlyBefore;    // 99 % hold on the early mark before presenting (mode 6)
  int32_t waitForVBlank;  // wait for the vertical blank, then present
  uint32_t syncInterval;  // first argument of the present call
  int32_t limiterAfter;   // full-period hold after presenting (modes 5 and 6)
};

// Modes: 2 vsync (windowed: wait for vblank + interval 0; fullscreen:
// interval 1), 3 wait for vblank + interval 0, 4 limiter then present,
// 5 present then limiter, 6 99 % hold, present, limiter; others: present.
PresentModePlan PlanPresentMode(uint32_t mode, int32_t fullscreen);
void PacingBeforePresent(FrameLimiter* limiter, uint32_t mode);
void PacingAfterPresent(FrameLimiter* limiter, uint32_t mode);

// ---- The rate the program runs at ---------------------------------------------
// Without a request every presenter runs at 60 Hz and asks the display for
// 60 Hz, as it always has. A request (--rate HZ or --rate native) is set by
// the entry routine before the presenter starts; the presenter then picks the
// rate it really runs at from what the display gives and publishes it.
struct DisplayRateRequest {
  double hz;      // 0: no request (60 Hz)
  int32_t native; // the display's own rate
};

void SetDisplayRateRequest(double hz, int32_t native);
const DisplayRateRequest* GetDisplayRateRequest();
// 1 when a rate was asked for (the 60 Hz default paths stay untouched otherwise).
int32_t DisplayRateRequested();
// The rate to ask the display for when setting the fullscreen mode: the
// request, or 60 without one. displayHz is the display's current rate
// (0 unknown), used by the native request.
double DisplayRateToAsk(double displayHz);
// The rate to run at, once the display's rate after the mode change is known
// (displayHz: 0 unknown). Never faster than the display: a display slower
// than the request sets the rate; a fullscreen mode at another rate than the
// one asked for sets it too. Logs one line when the result differs from the
// request.
double DisplayRateChoose(double displayHz, int32_t fullscreen);
// Published by the presenter's start-up; 60 before (and without a request).
void SetRunningRate(double hz);
double RunningRate();
// (int)(1e6 / rate): the limiter period, 16666 µs at 60 Hz.
int32_t RatePeriodMicros(double hz);
// Back to no request, 60 Hz.
void ResetDisplayRateForTest();
