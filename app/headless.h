// Headless platform: scripted keyboard, joystick and mouse per frame, frames kept in
// memory, optional real 60 Hz pacing. Used by the tests and by the tool
// qvdelay_headless, which writes chosen frames as PPM files.
#pragma once

#include <cstdint>

#include "app/platform.h"
#include "present/pacing.h"

struct HeadlessFrameInput {
  uint8_t keys[kKeyboardStateBytes]; // non-zero = down
  int32_t keyboardLost;              // keyboard reads fail this frame
  int32_t joystickLost;              // joystick read fails this frame
  JoystickState joystick;
  int32_t mouseDx, mouseDy; // mouse motion of each frame, in counts
  int32_t mouseLost;        // mouse reads fail this frame
};

struct HeadlessConfig {
  int32_t hasKeyboard;
  int32_t hasJoystick;
  int32_t hasMouse;
  int32_t paced;              // hold one frame period (16666 µs at 60 Hz) per frame in present mode 5
  int32_t failPresenterStart; // PresenterInitialize fails at its step
  uint32_t keptFrames;        // frames the memory presenter keeps readable
};

// Keyboard and mouse, no joystick, paced, 2 kept frames. The memory
// presenter's display has no rate of its own: it runs at the rate asked for
// (AppOptions), 60 Hz without one.
void HeadlessConfigDefault(HeadlessConfig* config);
// Configures the headless platform (copying config) and returns its table.
const Platform* HeadlessPlatform(const HeadlessConfig* config);
// Input returned by every read until it is changed; starts released, with a
// centred joystick.
HeadlessFrameInput* HeadlessInput();
// Resets *input to nothing pressed and centred hats.
void HeadlessClearInput(HeadlessFrameInput* input);
// The quit message arrives at the next PumpMessages.
void HeadlessPostQuit();
// Frames presented so far (the two black priming frames included) and the
// last one (B, G, R, A rows of kFramePitch bytes); null before the first.
uint32_t HeadlessPresentedCount();
const uint8_t* HeadlessLastFrame();
const MemoryPresenter* HeadlessMemoryPresenter();
// Frames stay readable after the presenter's shut-down until this call (or
// the next HeadlessPlatform).
void HeadlessReleaseFrames();
const FrameLimiter* HeadlessLimiter();
// What the application last asked of the pointer (1: captured for a step).
int32_t HeadlessMouseCaptured();

// Timing of the last presented frame (NowMicroseconds(1)): the device read
// that gave its input and the end of its present.
uint64_t HeadlessFrameReadMicros();
uint64_t HeadlessPresentEndMicros();

// Called before every frame: frame is the index of the frame about to run
// (0 for the first AppUpdate), last the frame presented before it (null
// before frame 0). Fills *next; returns 1 to post the quit message instead.
typedef int32_t (*HeadlessStepFn)(void* user, uint32_t frame, const uint8_t* last, HeadlessFrameInput* next);

// The whole program on the headless platform: devices, AppInitialize, the
// frame loop until Escape, quit or AppUpdate failure, AppFinalize, release.
// Returns what the entry routine returns (0 normal end, 1 failure). After the
// loop, step is called once more with the last presented frame; its input and
// result are then ignored.
int32_t HeadlessRun(const HeadlessConfig* config, HeadlessStepFn step, void* user);
