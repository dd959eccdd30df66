// The application: start-up, the per-frame delay test and shut-down, written
// once for every platform. The platform is reached only through
// app/platform.h.
#pragma once

#include <cstdint>

#include "app/options.h"
#include "app/platform.h"
#include "gfx/gfx.h"
#include "input/input.h"
#include "present/pacing.h"

// 0 on success, 1 when the presenter (or the graphics context) cannot be
// started; nothing after the failed step exists then.
int32_t AppInitialize();
// One frame: 0 to go on, kQuitResult (10) when Escape is down at the end of
// the frame.
int32_t AppUpdate();
// Always 0.
int32_t AppFinalize();
// The frame loop of the entry routine: AppUpdate, then the platform's message
// pump, until Escape or the quit message; runs AppFinalize in both cases.
// 0 after a normal end, 1 when AppUpdate returned something else than 0 or
// kQuitResult.
int32_t AppRunFrameLoop();

// ---- The test's states -----------------------------------------------------------
enum AppTestState : int32_t {
  kStateSelectDelay = 0,
  kStateNewStep = 1,
  kStateToggleCandidate = 2,
  kStateResetTrial = 3,
  kStateTrial = 4,
  kStateJudge = 5,
  kStateResult = 6,
};

// The states of a running step: from its draw to its last Trial frame.
inline int32_t AppStateInStep(int32_t state) {
  return state == kStateNewStep || state == kStateToggleCandidate || state == kStateResetTrial || state == kStateTrial;
}

constexpr int32_t kStepCount = 20;
constexpr int32_t kThresholdMaxSteps = 80; // shown as the step count of a threshold run

enum AppProcedure : int32_t {
  kProcedureFixed = 0,     // 20 steps at the chosen N
  kProcedureThreshold = 1, // the adaptive run: each step's N is chosen for it
};
constexpr uint32_t kInputHistoryLength = 256;
constexpr int32_t kQuitResult = 10; // AppUpdate: Escape ends the program

// Which devices gave a frame's movement (the record's input column).
constexpr uint8_t kSourceKeys = 1u << 0;
constexpr uint8_t kSourceJoystick = 1u << 1;
constexpr uint8_t kSourceMouse = 1u << 2;

// A frame's mouse motion in counts.
struct MouseMotion {
  int32_t dx, dy;
};

struct Xorshift128 {
  uint32_t x, y, z, w;
};

// xorshift128 with the fixed y, z, w and x = seed.
void Xorshift128Seed(Xorshift128* generator, uint32_t seed);
uint32_t Xorshift128Next(Xorshift128* generator);
// Local wall-clock time as whole seconds since 1970-01-01, truncated to 32
// bits (the local time, not UTC).
uint32_t LocalTimeSeconds();

// Everything the test keeps between frames; starts zeroed.
struct AppState {
  int32_t state;
  int32_t stateFrame;
  int32_t delayFrames;
  int32_t candidate;        // 1 shows as "A", 0 as "B"
  int32_t delayedCandidate; // value of candidate that gets the long delay
  int32_t stepIndex;
  int32_t procedure;        // AppProcedure of the run
  int32_t thresholdOptionTaken; // --threshold started its run once
  int32_t stepResults[kStepCount];
  float markerPos[4];
  int32_t markerShown; // the marker was drawn on the last frame
  Xorshift128 generator;
  InputWord InputHistory[kInputHistoryLength];
  uint32_t historyCounter;
  // Beside InputHistory: same index, emptied with it.
  MouseMotion MouseHistory[kInputHistoryLength];
  uint8_t SourceHistory[kInputHistoryLength]; // kSource* bits of the frame's movement
  int32_t KeyHoldCount[kKeyboardStateBytes];
  uint8_t keyboardState[kKeyboardStateBytes];
  float fps;
  int32_t fpsFrameCount;
  float fpsTime;
};

// Devices, presenter, context and the surfaces the frame loop uses.
struct AppRuntime {
  const Platform* platform;
  Presenter* presenter;
  int32_t joystickPresent;
  int32_t keyboardPresent; // a keyboard device exists
  int32_t keyboardEnabled;
  int32_t mousePresent;
  int32_t mouseCaptured; // last value handed to MouseCapture
  JoystickInput joystick;
  JoystickState joystickState;
  Stopwatch clock; // frame-rate clock, started by AppInitialize
  QvGfxContext context;
  int32_t contextCreated;
  int32_t streamCreated;
  Surface depthSurface;
  int32_t depthCreated;
  int32_t fontsLoaded;
  // The rate the presenter runs at and its limiter period (16666 µs at 60 Hz).
  double rateHz;
  int32_t framePeriodMicros;
};

extern AppState g_app;
extern AppRuntime g_appRuntime;

// Where the results record goes: null = qvdelay_results.csv beside the log
// (the default), "" = nowhere, else this path.
void AppSetResultsPath(const char* path);

// The test hooks are in app/app_testing.h.
