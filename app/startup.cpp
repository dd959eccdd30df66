// Start-up and shut-down in their fixed order, and the entry's frame loop.
#include <cstring>

#include "app/app.h"
#include "app/app_internal.h"
#include "gfx/text.h"

int32_t AppInitialize() {
  AppRuntime& r = g_appRuntime;
  const Platform* platform = r.platform;

  LogInstallFileSink();
  LogPrintf("--------------- AppInitialize ... ---------------\n");
  RaiseTimerResolution();
  r.clock.useCounter = 1;
  StopwatchInit(&r.clock);

  // The presenter picks the rate it runs at from this request (none: 60 Hz).
  const AppOptions* options = AppGetOptions();
  SetDisplayRateRequest(double(options->rateHz), options->nativeRate);
  SetRunningRate(0.0);

  // Without a platform there is nothing to present to: the same failure as
  // a presenter that cannot start.
  if (platform == nullptr || platform->PresenterInitialize(&r.presenter) != 0 || r.presenter == nullptr) {
    r.presenter = nullptr;
    return 1;
  }
  r.rateHz = RunningRate();
  r.framePeriodMicros = RatePeriodMicros(r.rateHz);
  ThresholdRunPrepare();

  r.joystickPresent = platform->JoystickSetup() == 0;
  JoystickInputInit(&r.joystick);
  r.keyboardPresent = platform->KeyboardSetup() == 0;
  memset(g_app.keyboardState, 0, sizeof(g_app.keyboardState));
  r.keyboardEnabled = 1;
  r.mousePresent = platform->MouseSetup != nullptr && platform->MouseRead != nullptr && platform->MouseSetup() == 0;

  uint32_t processors = g_appHooks.processorCount != 0 ? g_appHooks.processorCount : ProcessorCount();
  int32_t (*createContext)(QvGfxContext*, uint32_t) =
      g_appHooks.createContext != nullptr ? g_appHooks.createContext : CreateContext;
  // A context that cannot be made leaves nothing to draw with, so start-up
  // fails here too; the presenter is shut down again.
  if (createContext(&r.context, processors) != 0) {
    platform->PresenterShutdown();
    r.presenter = nullptr;
    return 1;
  }
  r.contextCreated = 1;
  if (CreateCommandStream(&r.context) != 0) {
    DestroyContext(&r.context);
    r.contextCreated = 0;
    platform->PresenterShutdown();
    r.presenter = nullptr;
    return 1;
  }
  r.streamCreated = 1;
  SetFramePump(&r.context, platform->FramePump);

  // Without the depth buffer or the fonts nothing of the test could be
  // seen: start-up fails like a context that cannot be made.
  r.depthCreated = g_appHooks.failStartupStep != kFailDepthSurface &&
                   CreateSurface(&r.depthSurface, Fp32, kFrameWidth, kFrameHeight) == 0;
  if (!r.depthCreated) {
    LogPrintf("CreateSurface (depth) ... failed.\n");
    ReleaseStarted();
    return 1;
  }

  Xorshift128Seed(&g_app.generator, g_appHooks.seedOverride ? g_appHooks.seed : LocalTimeSeconds());

  r.fontsLoaded = 1; // the images are cleared again even after a failed load
  if (g_appHooks.failStartupStep == kFailFonts) {
    LogPrintf("LoadEmbeddedImage ... failed.\n");
    ReleaseStarted();
    return 1;
  }
  if (InitializeText(&r.context) != 0) {
    ReleaseStarted();
    return 1;
  }
  return 0;
}

int32_t AppFinalize() {
  LogPrintf("--------------- AppFinalize ... ---------------\n");
  if (g_appRuntime.mouseCaptured) CaptureMouse(0);
  ReleaseStarted();
  return 0;
}

void ReleaseStarted() {
  AppRuntime& r = g_appRuntime;
  if (r.streamCreated) {
    Finish(&r.context);
    if (r.fontsLoaded) {
      ReleaseText();
      r.fontsLoaded = 0;
    }
    if (r.depthCreated) {
      ReleaseSurface(&r.depthSurface);
      r.depthCreated = 0;
    }
    Quit(&r.context);
    DestroyCommandStream(&r.context);
    r.streamCreated = 0;
  }
  if (r.contextCreated) {
    DestroyContext(&r.context);
    r.contextCreated = 0;
  }
  if (r.presenter != nullptr && r.platform != nullptr) {
    r.platform->PresenterShutdown();
    r.presenter = nullptr;
  }
}

int32_t AppRunFrameLoop() {
  const Platform* platform = g_appRuntime.platform;
  int32_t quitSeen = 0;
  for (;;) {
    int32_t r = AppUpdate();
    if (r == kQuitResult) return AppFinalize() != 0;
    if (r != 0) return 1;
    if (quitSeen) return AppFinalize() != 0;
    if (platform->PumpMessages() != 0) {
      quitSeen = 1;
      return AppFinalize() != 0;
    }
  }
}
