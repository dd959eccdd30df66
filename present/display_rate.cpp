// The rate request of the entry routine and the rate the presenter runs at.
#include <cmath>

#include "present/pacing.h"
#include "runtime/runtime.h"

namespace {

struct DisplayRateState {
  DisplayRateRequest request;
  double runningHz; // 0: not published yet
};

DisplayRateState s_rate;

// Two rates within this are one rate (a display's 143.98 Hz for 144 Hz).
constexpr double kSameRateHz = 0.5;

} // namespace

void SetDisplayRateRequest(double hz, int32_t native) {
  s_rate.request.hz = hz > 0.0 ? hz : 0.0;
  s_rate.request.native = native ? 1 : 0;
}

const DisplayRateRequest* GetDisplayRateRequest() { return &s_rate.request; }

int32_t DisplayRateRequested() { return s_rate.request.native || s_rate.request.hz > 0.0; }

double DisplayRateToAsk(double displayHz) {
  if (s_rate.request.native) return displayHz > 0.0 ? displayHz : kDefaultRefreshRate;
  return s_rate.request.hz > 0.0 ? s_rate.request.hz : kDefaultRefreshRate;
}

double DisplayRateChoose(double displayHz, int32_t fullscreen) {
  if (!DisplayRateRequested()) return kDefaultRefreshRate;
  double asked = DisplayRateToAsk(displayHz);
  double chosen = asked;
  if (displayHz > 0.0) {
    // Fullscreen runs at the mode the display took; a window never faster
    // than the display shows frames.
    if (fullscreen ? std::fabs(displayHz - asked) > kSameRateHz : displayHz < asked - kSameRateHz) chosen = displayHz;
  }
  if (std::fabs(chosen - asked) > kSameRateHz) {
    LogPrintf("The display runs at %.2f Hz, not at the %.2f Hz asked for: running at %.2f Hz\n", displayHz, asked,
              chosen);
  }
  return chosen;
}

void SetRunningRate(double hz) { s_rate.runningHz = hz; }

double RunningRate() { return s_rate.runningHz > 0.0 ? s_rate.runningHz : kDefaultRefreshRate; }

int32_t RatePeriodMicros(double hz) { return int32_t(1e6 / (hz > 0.0 ? hz : kDefaultRefreshRate)); }

void ResetDisplayRateForTest() {
  s_rate.request.hz = 0.0;
  s_rate.request.native = 0;
  s_rate.runningHz = 0.0;
}
