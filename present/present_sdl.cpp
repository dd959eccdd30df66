#include <atomic>
#include <cstring>

#include "present/pacing.h"
#include "present/present_sdl.h"
#include "runtime/runtime.h"

namespace {

// The failure line of a step: SDL reports no code, only its message.
void LogFailed() { LogPrintf("failed. result=0x%08X [%s]\n", 0xFFFFFFFFu, SDL_GetError()); }

struct PresenterState {
  Presenter base;
  SDL_Window* window;
  SDL_Renderer* renderer;
  SDL_Texture* texture;
  int32_t videoStarted;
  int32_t rendererUsesGl;
  // glFinish of the GL renderer: waiting for it after a present keeps at most
  // one frame queued, as a frame-latency limit of 1 does.
  void (*pGlFinish)(void);
  FrameLimiter limiter;
  double refreshRate;
  uint32_t sourceWidth, sourceHeight;
  struct {
    uint32_t width, height;
  } outputSurface;
  int32_t bFullScreen;
  int32_t bDirty;
  // Locked texture memory (the "mapped upload buffer"); null when unlocked.
  uint8_t* mapped;
  int32_t rowPitch;
  // What the frame surface wraps: mapped, or staging when the locked pitch
  // cannot be wrapped (rows then copied at present).
  uint8_t* frameMemory;
  uint32_t framePitch;
  uint8_t* staging;
  int32_t lockFailing;
  int32_t forceStaging; // test hook
  FrameSlot slots[2];
  uint32_t currentSlot;
  std::atomic<uint32_t> presentedCount;
  LetterboxRect letterbox;
  SDL_Rect target;
  // Window size (in pixels) the last follow-up saw.
  uint32_t seenWidth, seenHeight;
  SdlPresentHook hook;
  void* hookUser;
  // Published by the main thread (SdlPresenterPumpWindowState).
  std::atomic<int32_t> observedFullScreen;
  std::atomic<uint32_t> observedWidth, observedHeight;
  std::atomic<uint32_t> desktopWidth, desktopHeight;
  // Requests of the render thread, carried out by the main thread.
  std::atomic<int32_t> requestWindowedSize;
  std::atomic<int32_t> cursorVisible; // 1 shown, 0 hidden
  int32_t cursorApplied;              // main thread: what SDL was last told, -1 unknown
};

PresenterState m;

// Locks the texture for the next frame. On failure the renderer gets no
// frame surface (colour output is skipped) and the next present retries.
int32_t MapFrame() {
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(m.texture, nullptr, &pixels, &pitch) != 0) {
    // Logged once per run of failures, not once per frame.
    if (!m.lockFailing) {
      LogPrintf("SDL_LockTexture ... ");
      LogFailed();
    }
    m.lockFailing = 1;
    m.mapped = nullptr;
    m.frameMemory = nullptr;
    return 1;
  }
  m.lockFailing = 0;
  m.mapped = static_cast<uint8_t*>(pixels);
  m.rowPitch = pitch;
  // The renderer may write straight into rows of at least 640 pixels whose
  // start stays 4-byte aligned; anything else goes through the staging copy.
  if (!m.forceStaging && uint32_t(pitch) >= kFrameWidth * 4 && (pitch & 3) == 0 &&
      (reinterpret_cast<uintptr_t>(pixels) & 3) == 0) {
    m.frameMemory = m.mapped;
    m.framePitch = uint32_t(pitch);
  } else {
    m.frameMemory = m.staging;
    m.framePitch = kFramePitch;
  }
  return 0;
}

void UnmapFrame() {
  if (!m.mapped) return;
  if (m.frameMemory == m.staging && m.staging) {
    uint32_t rowBytes = kFrameWidth * 4;
    uint32_t pitch = uint32_t(m.rowPitch);
    for (uint32_t y = 0; y < kFrameHeight; y++) {
      uint32_t bytes = pitch < rowBytes ? pitch : rowBytes;
      memcpy(m.mapped + uint64_t(y) * pitch, m.staging + uint64_t(y) * kFramePitch, bytes);
    }
  }
  SDL_UnlockTexture(m.texture);
  m.mapped = nullptr;
  m.frameMemory = nullptr;
}

// Releases the GL context from this thread, so that the other thread can
// take it (SDL's GL renderer makes its context current when it needs it).
void ReleaseRendererContext() {
  if (m.rendererUsesGl && SDL_GL_GetCurrentContext()) SDL_GL_MakeCurrent(m.window, nullptr);
}

void UpdateTargetRect() {
  ComputeLetterboxRect(&m.letterbox, m.sourceWidth, m.sourceHeight, m.outputSurface.width, m.outputSurface.height);
  m.target.x = m.letterbox.scissorLeft;
  m.target.y = m.letterbox.scissorTop;
  m.target.w = m.letterbox.scissorRight - m.letterbox.scissorLeft;
  m.target.h = m.letterbox.scissorBottom - m.letterbox.scissorTop;
}

void DesktopSize(uint32_t* width, uint32_t* height) {
  SDL_DisplayMode mode;
  int display = SDL_GetWindowDisplayIndex(m.window);
  if (display < 0 || SDL_GetDesktopDisplayMode(display, &mode) != 0) {
    *width = m.sourceWidth;
    *height = m.sourceHeight;
    return;
  }
  *width = uint32_t(mode.w);
  *height = uint32_t(mode.h);
}

// The rate the display runs at once the mode is set (0 unknown): the current
// mode's rate when the display lists it, else the desktop's in a window.
double DisplayRefreshRate(int display, int32_t fullscreen, int desktopHz) {
  if (!fullscreen) return desktopHz > 0 ? double(desktopHz) : 0.0;
  SDL_DisplayMode current;
  if (display < 0 || SDL_GetCurrentDisplayMode(display, &current) != 0) return 0.0;
  SDL_DisplayMode listed[64];
  int32_t count = 0;
  int modes = SDL_GetNumDisplayModes(display);
  for (int i = 0; i < modes && count < 64; i++) {
    if (SDL_GetDisplayMode(display, i, &listed[count]) == 0) count++;
  }
  return double(SdlListedRefreshRate(listed, count, current.w, current.h, current.refresh_rate));
}

// With a rate request only: the rate to run at, from what the display gives,
// published and held by the limiter.
void StartAtRequestedRate(int display, int desktopHz) {
  int32_t fullscreen = SdlWindowIsFullscreen(m.window);
  double displayHz = DisplayRefreshRate(display, fullscreen, desktopHz);
  double hz = DisplayRateChoose(displayHz, fullscreen);
  const char* where = fullscreen ? "fullscreen" : "window";
  if (displayHz > 0.0) {
    LogPrintf("Display refresh rate: %.0f Hz (%s), running at %.2f Hz\n", displayHz, where, hz);
  } else {
    LogPrintf("Display refresh rate: not reported (%s), running at %.2f Hz\n", where, hz);
  }
  m.refreshRate = hz;
  SetRunningRate(hz);
  FrameLimiterInit(&m.limiter, hz, nullptr, nullptr, nullptr);
}

} // namespace

int32_t SdlListedRefreshRate(const SDL_DisplayMode* listed, int32_t count, int width, int height, int refreshRate) {
  if (refreshRate <= 0) return 0;
  for (int32_t i = 0; i < count; i++) {
    if (listed[i].w == width && listed[i].h == height && listed[i].refresh_rate == refreshRate) return refreshRate;
  }
  return 0;
}

// Brings the letterbox and the window in line with the fullscreen state and
// the window size the main thread last published.
int32_t FollowUpCurrentWindowState() {
  int32_t bCurrentFullScreen = m.observedFullScreen.load() ? 1 : 0;
  uint32_t seenWidth = m.observedWidth.load();
  uint32_t seenHeight = m.observedHeight.load();
  if (bCurrentFullScreen == m.bFullScreen && !m.bDirty && seenWidth == m.seenWidth && seenHeight == m.seenHeight)
    return 0;
  uint32_t wantedWidth = m.sourceWidth, wantedHeight = m.sourceHeight;
  if (bCurrentFullScreen) {
    wantedWidth = m.desktopWidth.load();
    wantedHeight = m.desktopHeight.load();
  }
  LogPrintf("FollowUpCurrentWindowState\n\tbCurrentFullScreen = %d\n\tm.bFullScreen = %d\n"
            "\tcurrentOutputSurfaceWidth = %d\n\tcurrentOutputSurfaceHeight = %d\n"
            "\tm.outputSurface.width = %d\n\tm.outputSurface.height = %d\n\tm.bDirty = %d\n",
            bCurrentFullScreen, m.bFullScreen ? 1 : 0, int32_t(wantedWidth), int32_t(wantedHeight),
            int32_t(m.outputSurface.width), int32_t(m.outputSurface.height), m.bDirty ? 1 : 0);
  uint32_t outputWidth = seenWidth, outputHeight = seenHeight;
  if (!bCurrentFullScreen && (seenWidth != wantedWidth || seenHeight != wantedHeight) &&
      (m.bFullScreen || m.bDirty)) {
    // Back from fullscreen (or first frame): 640x480 client at the same
    // top-left. Until the window has it, draw for the size it has now.
    m.requestWindowedSize.store(1);
  }
  if (outputWidth == 0 || outputHeight == 0) {
    outputWidth = wantedWidth;
    outputHeight = wantedHeight;
  }
  m.outputSurface.width = outputWidth;
  m.outputSurface.height = outputHeight;
  m.seenWidth = seenWidth;
  m.seenHeight = seenHeight;
  m.bFullScreen = bCurrentFullScreen;
  m.bDirty = 0;
  UpdateTargetRect();
  m.cursorVisible.store(bCurrentFullScreen ? 0 : 1);
  return 0;
}

namespace {

// Clear to black, picture into the letterbox, present (never waits for the
// vertical blank: the renderer is made without vsync).
int32_t PresentToWindow() {
  if (FollowUpCurrentWindowState() != 0) return 1;
  SDL_SetRenderDrawColor(m.renderer, 0, 0, 0, 255);
  if (SDL_RenderClear(m.renderer) != 0) return 1;
  if (SDL_RenderCopy(m.renderer, m.texture, nullptr, &m.target) != 0) return 1;
  if (m.hook) m.hook(m.hookUser);
  SDL_RenderPresent(m.renderer);
  if (m.pGlFinish) m.pGlFinish();
  m.presentedCount.fetch_add(1);
  return 0;
}

Surface* SdlAcquireFrameSurface(Presenter*) {
  FrameSlot* slot = &m.slots[m.currentSlot];
  if (!slot->created) {
    if (!m.frameMemory) return nullptr;
    if (MakeFrameSlotSurface(slot, m.frameMemory, m.framePitch) != 0) return nullptr;
  }
  return &slot->surface;
}

int32_t SdlPresentFrame(Presenter*, uint32_t mode) {
  DropFrameSlotSurface(&m.slots[m.currentSlot]);
  m.currentSlot = (m.currentSlot + 1) & 1;
  UnmapFrame();
  PacingBeforePresent(&m.limiter, mode);
  int32_t result = PresentToWindow();
  PacingAfterPresent(&m.limiter, mode);
  if (!m.mapped && MapFrame() != 0) result = 1;
  ReleaseRendererContext();
  return result;
}

} // namespace

// The presenter record as it is before anything is made.
static void ResetPresenterState() {
  FrameLimiterInit(&m.limiter, kDefaultRefreshRate, nullptr, nullptr, nullptr);
  m.base.AcquireFrameSurface = SdlAcquireFrameSurface;
  m.base.PresentFrame = SdlPresentFrame;
  m.refreshRate = kDefaultRefreshRate;
  m.sourceWidth = kFrameWidth;
  m.sourceHeight = kFrameHeight;
  m.outputSurface.width = 0;
  m.outputSurface.height = 0;
  m.bFullScreen = 0;
  m.bDirty = 1;
  m.presentedCount.store(0);
  m.currentSlot = 0;
  m.cursorApplied = -1;
  m.cursorVisible.store(1);
  m.requestWindowedSize.store(0);
}

// Video, the window, the renderer, the streaming texture and the staging
// copy, each step logged.
static int32_t CreateWindowAndTexture() {
  LogPrintf("SDL_InitSubSystem (SDL_INIT_VIDEO) ... ");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    LogFailed();
    return 1;
  }
  m.videoStarted = 1;
  LogPrintf("OK.\n");
  SDL_DisableScreenSaver();

  LogPrintf("SDL_CreateWindow() ... ");
  m.window = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, int(kFrameWidth),
                              int(kFrameHeight), SDL_WINDOW_SHOWN);
  if (!m.window) {
    LogFailed();
    return 1;
  }
  LogPrintf("OK.\n");

  // No vsync: the frame limiter sets the pace.
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  // OpenGL ES 2 first: it uploads the BGRA frame as it is and swizzles in
  // its shader, where the desktop GL renderer converts every texel on the
  // CPU (under Mesa 0.86 ms of each frame against 0.39). SDL falls back to
  // its other renderers when ES 2 cannot be had, and SDL_RENDER_DRIVER in
  // the environment still decides.
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengles2");
  LogPrintf("SDL_CreateRenderer ... ");
  m.renderer = SDL_CreateRenderer(m.window, -1, 0);
  if (!m.renderer) {
    LogFailed();
    return 1;
  }
  LogPrintf("OK.\n");
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(m.renderer, &info) == 0) {
    LogPrintf("Renderer %s\n", info.name);
    m.rendererUsesGl = strncmp(info.name, "opengl", 6) == 0;
    if (m.rendererUsesGl) m.pGlFinish = reinterpret_cast<void (*)(void)>(SDL_GL_GetProcAddress("glFinish"));
  }

  LogPrintf("SDL_CreateTexture ... ");
  // ARGB8888 is B, G, R, A in memory on little-endian machines: Unorm8BGRA.
  m.texture = SDL_CreateTexture(m.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                int(kFrameWidth), int(kFrameHeight));
  if (!m.texture) {
    LogFailed();
    return 1;
  }
  LogPrintf("OK.\n");
  // The frame is copied as it is: its alpha must not blend with the clear.
  SDL_SetTextureBlendMode(m.texture, SDL_BLENDMODE_NONE);
  SDL_SetTextureScaleMode(m.texture, SDL_ScaleModeNearest);

  m.staging = static_cast<uint8_t*>(MemAlloc(kFrameBytes));
  if (!m.staging) {
    LogPrintf("MemAlloc (staging) ... failed.\n");
    return 1;
  }

  return 0;
}

// Fullscreen at the desktop's size, at 60 Hz (or the rate asked for) when
// the display has it; a failure leaves the program in its window.
static void EnterFullscreen() {
  int display = SDL_GetWindowDisplayIndex(m.window);
  SDL_DisplayMode desktop;
  int desktopHz = 0;
  if (display >= 0 && SDL_GetDesktopDisplayMode(display, &desktop) == 0) {
    desktopHz = desktop.refresh_rate;
    SDL_DisplayMode wanted = desktop, mode = desktop;
    wanted.refresh_rate = int(m.refreshRate);
    if (DisplayRateRequested()) wanted.refresh_rate = int(DisplayRateToAsk(double(desktopHz)) + 0.5);
    SDL_DisplayMode closest;
    if (SDL_GetClosestDisplayMode(display, &wanted, &closest) && closest.w == desktop.w && closest.h == desktop.h)
      mode = closest;
    LogPrintf("SDL_SetWindowDisplayMode (%dx%d, %d Hz) ... ", mode.w, mode.h, mode.refresh_rate);
    if (!SdlWindowManagerCanFullscreen(m.window)) {
      LogPrintf("failed. result=0x%08X [%s]\n", 0xFFFFFFFFu, "no window manager: staying in the window");
    } else if (SDL_SetWindowDisplayMode(m.window, &mode) != 0) {
      LogFailed();
    } else {
      LogPrintf("OK.\n");
      LogPrintf("SDL_SetWindowFullscreen ... ");
      if (SDL_SetWindowFullscreen(m.window, SDL_WINDOW_FULLSCREEN) != 0) {
        LogFailed();
      } else {
        LogPrintf("OK.\n");
        // The window manager carries the request out a moment later; give it
        // half a second, so that the first frame is drawn for its real size.
        for (int i = 0; i < 50 && !SdlWindowIsFullscreen(m.window); i++) {
          SDL_PumpEvents();
          SDL_Delay(10);
        }
      }
    }
  }
  if (DisplayRateRequested()) StartAtRequestedRate(display, desktopHz);
}

// Maps the first frame and shows two black frames before the first frame of
// the test.
static int32_t ShowBlackFrames() {
  LogPrintf("SDL_LockTexture ... ");
  m.lockFailing = 1; // this line is the step's own
  if (MapFrame() != 0) {
    LogFailed();
    return 1;
  }
  LogPrintf("OK.\n");
  for (uint32_t i = 0; i < 2; i++) {
    FrameSlot* slot = &m.slots[m.currentSlot];
    if (MakeFrameSlotSurface(slot, m.frameMemory, m.framePitch) == 0) {
      Region all = {0, 0, kFrameWidth, kFrameHeight};
      const uint8_t zero[4] = {0, 0, 0, 0};
      slot->surface.FillRegion(&slot->surface, 0, &all, zero);
    }
    DropFrameSlotSurface(slot);
    m.currentSlot = (m.currentSlot + 1) & 1;
    UnmapFrame();
    PresentToWindow();
    if (MapFrame() != 0) return 1;
  }
  return 0;
}

int32_t SdlPresenterInitialize(Presenter** presenter) {
  *presenter = nullptr;
  RaiseTimerResolution();
  ResetPresenterState();
  if (CreateWindowAndTexture() != 0) return 1;
  EnterFullscreen();
  m.bDirty = 1;
  SdlPresenterPumpWindowState();
  if (ShowBlackFrames() != 0) return 1;
  SdlPresenterPumpWindowState();
  ReleaseRendererContext();
  *presenter = &m.base;
  return 0;
}

void SdlPresenterShutdown() {
  if (!m.renderer) return;
  UnmapFrame();
  DropFrameSlotSurface(&m.slots[0]);
  DropFrameSlotSurface(&m.slots[1]);
  if (m.bFullScreen) {
    LogPrintf("SDL_SetWindowFullscreen (0) ... ");
    if (SDL_SetWindowFullscreen(m.window, 0) != 0) {
      LogFailed();
    } else {
      LogPrintf("OK.\n");
      SDL_RaiseWindow(m.window);
      SDL_ShowCursor(SDL_ENABLE);
      m.bFullScreen = 0;
      m.bDirty = 1;
    }
  }
  if (m.texture) SDL_DestroyTexture(m.texture);
  m.texture = nullptr;
  SDL_DestroyRenderer(m.renderer);
  m.renderer = nullptr;
  m.rendererUsesGl = 0;
  m.pGlFinish = nullptr;
  MemFree(m.staging);
  m.staging = nullptr;
}

SDL_Window* SdlPresenterWindow() { return m.window; }

void SdlPresenterPumpWindowState() {
  if (!m.window) return;
  m.observedFullScreen.store(SdlWindowIsFullscreen(m.window));
  int w = 0, h = 0;
  SDL_GetWindowSizeInPixels(m.window, &w, &h);
  if (m.requestWindowedSize.exchange(0) && !(SDL_GetWindowFlags(m.window) & SDL_WINDOW_FULLSCREEN)) {
    SDL_SetWindowSize(m.window, int(m.sourceWidth), int(m.sourceHeight));
    SDL_GetWindowSizeInPixels(m.window, &w, &h);
  }
  uint32_t desktopWidth, desktopHeight;
  DesktopSize(&desktopWidth, &desktopHeight);
  m.desktopWidth.store(desktopWidth);
  m.desktopHeight.store(desktopHeight);
  m.observedWidth.store(uint32_t(w > 0 ? w : 0));
  m.observedHeight.store(uint32_t(h > 0 ? h : 0));
  int32_t cursor = m.cursorVisible.load();
  if (cursor != m.cursorApplied) {
    SDL_ShowCursor(cursor ? SDL_ENABLE : SDL_DISABLE);
    m.cursorApplied = cursor;
  }
}

void SdlPresenterDestroyWindow() {
  if (m.renderer) SdlPresenterShutdown();
  if (m.window) SDL_DestroyWindow(m.window);
  m.window = nullptr;
  if (m.videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  m.videoStarted = 0;
}

void SdlPresenterSetPresentHook(SdlPresentHook hook, void* user) {
  m.hook = hook;
  m.hookUser = user;
}

uint32_t SdlPresenterPresentedCount() { return m.presentedCount.load(); }

void SdlPresenterForceStagingForTest(int32_t enabled) { m.forceStaging = enabled; }
