// AppUpdate: one frame of the delay test.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/app_internal.h"
#include "gfx/text.h"

namespace {

const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const float kPink[4] = {1.0f, 0.8f, 0.9f, 1.0f};
const AlphaTestConstants kBlendConstants = {CompareFunction::Always, 0.0f};

void SetState(int32_t state) {
  g_app.state = state;
  g_app.stateFrame = -1;
}

int32_t Pressed(uint8_t scanCode) { return g_app.KeyHoldCount[scanCode] == 1; }

void Print(float x, float y, float depth, const float* colour, const char* format, ...) QV_PRINTF(5, 6);

void Print(float x, float y, float depth, const float* colour, const char* format, ...) {
  // Formatted here once so that PrintText sees a plain string.
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  const float position[4] = {x, y, depth, 1.0f};
  PrintText(&g_appRuntime.context, position, colour, "%s", text);
}

void MeasureFrameRate() {
  AppState& a = g_app;
  float now = float(double(AppElapsedMicroseconds()) * 1e-6);
  a.fpsFrameCount += 1;
  if (now > a.fpsTime + 1.0f) {
    a.fps = float(a.fpsFrameCount) / (now - a.fpsTime);
    a.fpsTime = now;
    a.fpsFrameCount = 0;
  } else if (now < a.fpsTime) {
    a.fpsTime = now; // the clock went backwards
  }
}

void RecordPreamble() {
  AppRuntime& r = g_appRuntime;
  QvGfxContext* c = &r.context;
  const float depthClear = 0.0f;
  const uint8_t colourClear[4] = {0, 0, 0, 0};
  RecordSetViewport(c, 0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight));
  RecordSetDepthRange(c, 1.0f, 0.0f);
  RecordBindDepthTarget(c, r.depthCreated ? &r.depthSurface : nullptr);
  RecordBindColorTarget(c, 0, r.presenter);
  RecordClearDepth(c, &depthClear, 4);
  RecordClearColor(c, 0, colourClear, 4);
  RecordSetDepthCompare(c, CompareFunction::GreaterEqual);
  RecordSetSortMode(c, SortMode::SortNearestFirst);
  RecordBindBlendStage(c, &AlphaBlendBs);
  RecordBindBlendConstants(c, &kBlendConstants);
}

// Reads the keyboard into the snapshot; 1 when the read failed (the
// snapshot then says every key is up).
int32_t ReadKeyboard() {
  const Platform* platform = g_appRuntime.platform;
  if (platform->KeyboardRead(g_app.keyboardState) != 0) {
    memset(g_app.keyboardState, 0, sizeof(g_app.keyboardState));
    return 1;
  }
  return 0;
}

// This frame's input word; *sources says which devices gave movement and
// *motion is the mouse's motion since the last frame.
InputWord SampleInput(uint8_t* sources, MouseMotion* motion) {
  AppRuntime& r = g_appRuntime;
  InputWord word = 0;
  *sources = 0;
  motion->dx = 0;
  motion->dy = 0;
  if (r.joystickPresent) {
    int32_t failed = r.platform->JoystickRead(&r.joystickState) != 0;
    word = JoystickInputUpdate(&r.joystick, failed ? nullptr : &r.joystickState);
    if (word & kInputMovementBits) *sources |= kSourceJoystick;
  }
  if (r.keyboardEnabled && r.keyboardPresent) {
    ReadKeyboard();
    InputWord keys = KeyboardMovementBits(g_app.keyboardState);
    if (keys != 0) *sources |= kSourceKeys;
    word |= keys;
  }
  if (r.mousePresent && r.platform->MouseRead(&motion->dx, &motion->dy) != 0) {
    motion->dx = 0;
    motion->dy = 0;
  }
  if (motion->dx != 0 || motion->dy != 0) *sources |= kSourceMouse;
  return word;
}

float Clamp(float v, float high) { return v > 0.0f ? (v < high ? v : high) : 0.0f; }

// The keys' bits first, each with its own clamp, then the mouse motion of the
// same frame, each axis clamped to the screen.
void MoveMarker(InputWord sample, MouseMotion motion) {
  float* p = g_app.markerPos;
  if (sample & kInputLeft) p[0] = p[0] - 2.0f > 0.0f ? p[0] - 2.0f : 0.0f;
  if (sample & kInputRight) p[0] = p[0] + 2.0f < 320.0f ? p[0] + 2.0f : 320.0f;
  if (sample & kInputUp) p[1] = p[1] - 2.0f > 0.0f ? p[1] - 2.0f : 0.0f;
  if (sample & kInputDown) p[1] = p[1] + 2.0f < 240.0f ? p[1] + 2.0f : 240.0f;
  if (motion.dx != 0 || motion.dy != 0) {
    float scale = AppGetOptions()->mouseScale;
    p[0] = Clamp(p[0] + float(motion.dx) * scale, 320.0f);
    p[1] = Clamp(p[1] + float(motion.dy) * scale, 240.0f);
  }
}

// The 60 Hz texts stay as they are; other rates name themselves.
int32_t AtSixtyHertz() { return g_appRuntime.framePeriodMicros == RatePeriodMicros(kDefaultRefreshRate); }

int32_t RoundedRate() { return int32_t(g_appRuntime.rateHz + 0.5); }

float Score() {
  const AppState& a = g_app;
  if (a.stepIndex <= 0) return 0.0f;
  int32_t right = 0;
  for (int32_t i = 0; i < a.stepIndex && i < kStepCount; ++i) right += a.stepResults[i];
  return float(right) * 100.0f / float(a.stepIndex);
}

// A run's rows: named by the local time, with the rate, the procedure and
// the person.
void StartResultsRun() {
  const AppRuntime& r = g_appRuntime;
  ResultsRun run;
  run.localSeconds = AppLocalSeconds();
  run.platform = r.platform != nullptr && r.platform->name != nullptr ? r.platform->name : "unknown";
  run.framePeriodMicros = r.framePeriodMicros;
  run.procedure = g_app.procedure == kProcedureThreshold ? "threshold" : "fixed";
  run.participant = AppGetOptions()->participant;
  ResultsRunStarted(&run);
}

// Below the select screen's list at rates other than 60 Hz: what a frame is.
const char* RateLine() {
  static char line[64];
  if (AtSixtyHertz()) return "";
  FormatBounded(line, sizeof(line), "\nat %d Hz one frame is %.1f ms\n", RoundedRate(),
                double(g_appRuntime.framePeriodMicros) / 1000.0);
  return line;
}

void StepSelectDelay() {
  Print(16, 16, 0, kWhite,
        "Select delay frames.\n\n[2] ... 1 or 2 frames\n[3] ... 1 or 3 frames\n[4] ... 1 or 4 frames\n"
        "[5] ... 1 or 5 frames\n[6] ... 1 or 6 frames\n[7] ... 1 or 7 frames\n[8] ... 1 or 8 frames\n"
        "[t] ... find my threshold\n%s",
        RateLine());
  for (uint8_t code = kScanDigit2; code <= kScanDigit8; ++code) {
    if (Pressed(code)) {
      g_app.procedure = kProcedureFixed;
      g_app.delayFrames = code - 1; // scan code 0x01 + d
      StartResultsRun();
      SetState(kStateNewStep);
      return;
    }
  }
  int32_t fromOption = AppGetOptions()->threshold && !g_app.thresholdOptionTaken;
  if ((Pressed(kScanT) || fromOption) && ThresholdRunStart() == 0) {
    g_app.thresholdOptionTaken = 1;
    g_app.procedure = kProcedureThreshold;
    g_app.delayFrames = ThresholdNextDelayFrames();
    StartResultsRun();
    SetState(kStateNewStep);
  }
}

void StepTrial() {
  AppState& a = g_app;
  Print(16, 16, 0, kWhite,
        "Choose a delayed candidate.\nstep %2d/%2d\ncandidate=%s\n\n[space] ... change\n[enter] ... submit\n"
        "[q]     ... quit",
        a.stepIndex, a.procedure == kProcedureThreshold ? kThresholdMaxSteps : kStepCount, a.candidate ? "A" : "B");
  if (a.stateFrame > a.delayFrames) {
    uint32_t d = a.candidate == a.delayedCandidate ? uint32_t(a.delayFrames) : 1u;
    uint32_t entry = (a.historyCounter - d) & (kInputHistoryLength - 1);
    InputWord sample = a.InputHistory[entry];
    MoveMarker(sample, a.MouseHistory[entry]);
    ResultsMarkerMoved(a.SourceHistory[entry]);
    Print(a.markerPos[0] - 9.0f, a.markerPos[1] - 6.0f, -0.1f, kPink, "dAb");
    a.markerShown = 1;
    const char* bit[8];
    for (int32_t i = 0; i < 8; ++i) bit[i] = (sample >> i) & 1 ? "x" : "-";
    Print(8, 224, 0, kWhite, "joystick=%s%s%s%s%s%s%s%s", bit[0], bit[1], bit[2], bit[3], bit[4], bit[5], bit[6],
          bit[7]);
  }
  if (Pressed(kScanSpace)) {
    SetState(kStateToggleCandidate);
  } else if (Pressed(kScanEnter)) {
    SetState(kStateJudge);
  } else if (Pressed(kScanQ)) {
    SetState(kStateResult);
  }
}

void StepJudge() {
  AppState& a = g_app;
  int32_t right = a.candidate == a.delayedCandidate;
  if (a.stepIndex >= 0 && a.stepIndex < kStepCount) a.stepResults[a.stepIndex] = right;
  if (a.procedure == kProcedureThreshold) {
    LogPrintf("threshold step %02d : N = %d : %s\n", a.stepIndex, a.delayFrames, right ? "(^-^)" : "orz");
    ResultsStepJudged(a.stepIndex, a.delayFrames, a.delayedCandidate, a.candidate, right);
    a.stepIndex += 1;
    if (ThresholdStepJudged(a.delayFrames, right)) {
      SetState(kStateResult);
    } else {
      a.delayFrames = ThresholdNextDelayFrames();
      SetState(kStateNewStep);
    }
    return;
  }
  LogPrintf(right ? "%02d/%02d : (^-^)\n" : "%02d/%02d : orz\n", a.stepIndex, kStepCount);
  ResultsStepJudged(a.stepIndex, a.delayFrames, a.delayedCandidate, a.candidate, right);
  a.stepIndex += 1;
  SetState(a.stepIndex >= kStepCount ? kStateResult : kStateNewStep);
}

// The threshold run's result: the answer in plain words.
void StepThresholdResult() {
  AppState& a = g_app;
  if (a.stateFrame == 0) ThresholdRunEnded();
  Print(16, 16, 0, kWhite, "%s", ThresholdResultText());
  if (Pressed(kScanEnter)) {
    a.stepIndex = 0;
    a.procedure = kProcedureFixed;
    SetState(kStateSelectDelay);
  }
}

void StepResult() {
  AppState& a = g_app;
  if (a.procedure == kProcedureThreshold) {
    StepThresholdResult();
    return;
  }
  float score = Score();
  Print(112, 112, 0, kWhite, "your score=%.1f%%\nHit enter key.", double(score));
  for (int32_t i = 0; i < a.stepIndex && i < kStepCount; ++i) {
    Print(float((i % 5) * 50 + 32), float((i / 5) * 16 + 8), 0, kWhite, "%02d:%s", i,
          a.stepResults[i] ? "good" : "NG  ");
  }
  if (a.stateFrame == 0) LogPrintf("delay = %d, result = %f%%\n", a.delayFrames, double(score));
  if (Pressed(kScanEnter)) {
    a.stepIndex = 0;
    SetState(kStateSelectDelay);
  }
}

void StepStateMachine() {
  AppState& a = g_app;
  switch (a.state) {
  case kStateSelectDelay: StepSelectDelay(); break;
  case kStateNewStep:
    Xorshift128Next(&a.generator);
    a.delayedCandidate = int32_t(a.generator.w & 1);
    ResultsStepStarted();
    SetState(kStateResetTrial);
    break;
  case kStateToggleCandidate:
    a.candidate = (a.candidate - 1) & 1;
    ResultsFlipped();
    SetState(kStateResetTrial);
    break;
  case kStateResetTrial:
    if (a.stateFrame == 0) {
      a.markerPos[0] = 160.0f;
      a.markerPos[1] = 120.0f;
      a.markerPos[2] = 0.0f;
      a.markerPos[3] = 1.0f;
      memset(a.InputHistory, 0, sizeof(a.InputHistory));
      memset(a.MouseHistory, 0, sizeof(a.MouseHistory));
      memset(a.SourceHistory, 0, sizeof(a.SourceHistory));
    }
    SetState(kStateTrial);
    break;
  case kStateTrial: StepTrial(); break;
  case kStateJudge: StepJudge(); break;
  case kStateResult: StepResult(); break;
  default: SetState(kStateSelectDelay); break; // unreachable; recover to the start
  }
}

} // namespace

void CaptureMouse(int32_t capture) {
  AppRuntime& r = g_appRuntime;
  if (r.platform == nullptr || r.platform->MouseCapture == nullptr) return;
  r.platform->MouseCapture(capture);
  r.mouseCaptured = capture;
}

int32_t AppUpdate() {
  AppState& a = g_app;
  AppRuntime& r = g_appRuntime;

  a.stateFrame = int32_t(uint32_t(a.stateFrame) + 1u);
  a.markerShown = 0;
  MeasureFrameRate();
  RecordPreamble();

  uint8_t sources = 0;
  MouseMotion motion;
  InputWord word = SampleInput(&sources, &motion);
  for (uint32_t i = 0; i < kKeyboardStateBytes; ++i) {
    // Saturates instead of wrapping back to a fresh press after 2^31 frames.
    int32_t held = a.KeyHoldCount[i];
    a.KeyHoldCount[i] = a.keyboardState[i] != 0 ? (held < INT32_MAX ? held + 1 : held) : 0;
  }
  uint32_t entry = a.historyCounter & (kInputHistoryLength - 1);
  a.InputHistory[entry] = word;
  a.MouseHistory[entry] = motion;
  a.SourceHistory[entry] = sources;
  a.historyCounter += 1;

  ResultsFrameBegins(AppStateInStep(a.state));
  StepStateMachine();
  CaptureMouse(AppStateInStep(a.state));

  Print(260, 210, 0, kWhite, "FPS %2.1f\n", double(a.fps));
  if (AtSixtyHertz()) {
    if (a.fps < 55.0f && (a.stateFrame & 6) != 0) Print(60, 140, 0, kPink, "ERROR : cannot keep 60 fps...orz");
  } else if (a.fps < float(g_appRuntime.rateHz * 55.0 / 60.0) && (a.stateFrame & 6) != 0) {
    Print(60, 140, 0, kPink, "ERROR : cannot keep %d fps...orz", RoundedRate());
  }

  EndFrame(&r.context, r.presenter, PresentMode::PresentThenLimit);
  ResultsFrameEnded(AppElapsedMicroseconds());

  if (r.keyboardEnabled && r.keyboardPresent) {
    if (ReadKeyboard() != 0) return 0;
    if (a.keyboardState[kScanEscape] != 0) return kQuitResult;
  }
  return 0;
}
