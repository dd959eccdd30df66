// The headless platform: scripted input, a memory presenter, optional pacing.
#include <atomic>
#include <cstring>

#include "app/app.h"
#include "app/headless.h"
#include "runtime/runtime.h"

namespace {

struct HeadlessPresenter {
  Presenter base;
  MemoryPresenter memory;
  FrameLimiter limiter;
  int32_t paced;
};

struct HeadlessPlatformState {
  HeadlessConfig config;
  HeadlessFrameInput input;
  HeadlessPresenter presenter;
  int32_t presenterStarted; // storage exists; frames readable
  int32_t presenterShutDown;
  int32_t quitPosted;
  int32_t quitSeen;
  std::atomic<uint64_t> lastReadMicros;
  std::atomic<uint64_t> frameReadMicros;
  std::atomic<uint64_t> presentEndMicros;
  HeadlessStepFn step;
  void* stepUser;
  uint32_t frame;
  int32_t mouseCaptured; // what the application last asked for
};

HeadlessPlatformState s_headless;

Surface* HeadlessAcquire(Presenter* base) {
  HeadlessPresenter* p = reinterpret_cast<HeadlessPresenter*>(base);
  return p->memory.base.AcquireFrameSurface(&p->memory.base);
}

int32_t HeadlessPresent(Presenter* base, uint32_t mode) {
  HeadlessPresenter* p = reinterpret_cast<HeadlessPresenter*>(base);
  if (p->paced) PacingBeforePresent(&p->limiter, mode);
  int32_t result = p->memory.base.PresentFrame(&p->memory.base, mode);
  if (p->paced) PacingAfterPresent(&p->limiter, mode);
  s_headless.frameReadMicros.store(s_headless.lastReadMicros.load());
  s_headless.presentEndMicros.store(NowMicroseconds(1));
  return result;
}

void HeadlessDevicesSetup() {}
void HeadlessDevicesRelease() {}

int32_t HeadlessPresenterInitialize(Presenter** presenter) {
  HeadlessPresenter* p = &s_headless.presenter;
  *presenter = nullptr;
  LogPrintf("CreateMemoryPresenter ... ");
  if (s_headless.config.failPresenterStart) return 1;
  if (CreateMemoryPresenter(&p->memory, s_headless.config.keptFrames) != 0) return 1;
  LogPrintf("OK.\n");
  p->base.AcquireFrameSurface = HeadlessAcquire;
  p->base.PresentFrame = HeadlessPresent;
  p->paced = s_headless.config.paced;
  double rate = DisplayRateChoose(0.0, 0);
  SetRunningRate(rate);
  FrameLimiterInit(&p->limiter, rate, nullptr, nullptr, nullptr);
  // Two black frames before the first frame of the test, as on a screen.
  for (int32_t i = 0; i < 2; ++i) {
    Surface* surface = HeadlessAcquire(&p->base);
    if (surface != nullptr) {
      Region all = {0, 0, kFrameWidth, kFrameHeight};
      const uint8_t black[4] = {0, 0, 0, 0};
      surface->FillRegion(surface, 0, &all, black);
    }
    HeadlessPresent(&p->base, 1);
  }
  s_headless.presenterStarted = 1;
  *presenter = &p->base;
  return 0;
}

// The kept frames stay readable after shut-down, until HeadlessReleaseFrames.
void HeadlessPresenterShutdown() { s_headless.presenterShutDown = 1; }

int32_t HeadlessJoystickSetup() { return s_headless.config.hasJoystick ? 0 : kDeviceAbsent; }
int32_t HeadlessKeyboardSetup() { return s_headless.config.hasKeyboard ? 0 : kDeviceAbsent; }

// The last device read before a present is the frame's input sample (the
// Escape read comes after the present).
void NoteRead() { s_headless.lastReadMicros.store(NowMicroseconds(1)); }

int32_t HeadlessKeyboardRead(uint8_t* state) {
  NoteRead();
  if (s_headless.input.keyboardLost) return 1;
  memcpy(state, s_headless.input.keys, kKeyboardStateBytes);
  return 0;
}

int32_t HeadlessJoystickRead(JoystickState* state) {
  NoteRead();
  if (s_headless.input.joystickLost) return 1;
  *state = s_headless.input.joystick;
  return 0;
}

int32_t HeadlessMouseSetup() { return s_headless.config.hasMouse ? 0 : kDeviceAbsent; }

int32_t HeadlessMouseRead(int32_t* dx, int32_t* dy) {
  NoteRead();
  *dx = 0;
  *dy = 0;
  if (s_headless.input.mouseLost) return 1;
  *dx = s_headless.input.mouseDx;
  *dy = s_headless.input.mouseDy;
  return 0;
}

void HeadlessMouseCapture(int32_t capture) { s_headless.mouseCaptured = capture; }

int32_t HeadlessPumpMessages() {
  s_headless.frame += 1;
  if (s_headless.step != nullptr) {
    if (s_headless.step(s_headless.stepUser, s_headless.frame, HeadlessLastFrame(), &s_headless.input) != 0) {
      s_headless.quitPosted = 1;
    }
  }
  if (s_headless.quitPosted) s_headless.quitSeen = 1;
  return s_headless.quitSeen;
}

const Platform kHeadlessPlatform = {
    HeadlessDevicesSetup, HeadlessDevicesRelease, HeadlessPresenterInitialize, HeadlessPresenterShutdown,
    HeadlessJoystickSetup, HeadlessKeyboardSetup, HeadlessKeyboardRead, HeadlessJoystickRead,
    HeadlessPumpMessages, "headless",           nullptr,           HeadlessMouseSetup,
    HeadlessMouseRead,    HeadlessMouseCapture,
};

} // namespace

void HeadlessConfigDefault(HeadlessConfig* config) {
  memset(config, 0, sizeof(*config));
  config->hasKeyboard = 1;
  config->hasMouse = 1;
  config->paced = 1;
  config->keptFrames = 2;
}

void HeadlessClearInput(HeadlessFrameInput* input) {
  memset(input, 0, sizeof(*input));
  for (uint32_t h = 0; h < 4; ++h) input->joystick.rgdwPOV[h] = kHatCentred;
}

void HeadlessReleaseFrames() {
  if (!s_headless.presenterStarted) return;
  DestroyMemoryPresenter(&s_headless.presenter.memory);
  s_headless.presenterStarted = 0;
}

const Platform* HeadlessPlatform(const HeadlessConfig* config) {
  HeadlessReleaseFrames();
  memset(static_cast<void*>(&s_headless), 0, sizeof(s_headless));
  s_headless.config = *config;
  if (s_headless.config.keptFrames == 0) s_headless.config.keptFrames = 2;
  HeadlessClearInput(&s_headless.input);
  return &kHeadlessPlatform;
}

HeadlessFrameInput* HeadlessInput() { return &s_headless.input; }

void HeadlessPostQuit() { s_headless.quitPosted = 1; }

uint32_t HeadlessPresentedCount() {
  if (!s_headless.presenterStarted) return 0;
  return MemoryPresenterPresentedCount(&s_headless.presenter.memory);
}

const uint8_t* HeadlessLastFrame() {
  uint32_t count = HeadlessPresentedCount();
  if (count == 0) return nullptr;
  return MemoryPresenterFrame(&s_headless.presenter.memory, count - 1);
}

const MemoryPresenter* HeadlessMemoryPresenter() {
  return s_headless.presenterStarted ? &s_headless.presenter.memory : nullptr;
}

uint64_t HeadlessFrameReadMicros() { return s_headless.frameReadMicros.load(); }
uint64_t HeadlessPresentEndMicros() { return s_headless.presentEndMicros.load(); }

int32_t HeadlessMouseCaptured() { return s_headless.mouseCaptured; }

const FrameLimiter* HeadlessLimiter() { return &s_headless.presenter.limiter; }

int32_t HeadlessRun(const HeadlessConfig* config, HeadlessStepFn step, void* user) {
  const Platform* platform = HeadlessPlatform(config);
  s_headless.step = step;
  s_headless.stepUser = user;
  AppSetPlatform(platform);
  platform->DevicesSetup();
  int32_t result;
  if (step != nullptr && step(user, 0, nullptr, &s_headless.input) != 0) s_headless.quitPosted = 1;
  if (AppInitialize() != 0) {
    result = 1;
  } else {
    result = AppRunFrameLoop();
  }
  if (step != nullptr) {
    HeadlessFrameInput ignored;
    HeadlessClearInput(&ignored);
    step(user, s_headless.frame + 1, HeadlessLastFrame(), &ignored);
  }
  HeadlessReleaseFrames();
  platform->DevicesRelease();
  return result;
}
