// The SDL presenter: the letterbox rectangle, and the whole presenter on
// SDL's dummy video driver (a 1024x768 display without a window system):
// start-up log, priming frames, the frame surface over the locked texture,
// the picture in the window, the frame period and the shut-down; the rate
// run at with a rate request.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "present/pacing.h"
#include "present/present_sdl.h"
#include "runtime/runtime.h"

namespace {

TEST(LetterboxRect, KnownOutputs) {
  LetterboxRect r;
  ComputeLetterboxRect(&r, 640, 480, 1920, 1080);
  EXPECT_EQ(r.scissorLeft, 240);
  EXPECT_EQ(r.scissorTop, 0);
  EXPECT_EQ(r.scissorRight, 1680);
  EXPECT_EQ(r.scissorBottom, 1080);
  ComputeLetterboxRect(&r, 640, 480, 1280, 1024);
  EXPECT_EQ(r.scissorLeft, 0);
  EXPECT_EQ(r.scissorTop, 32);
  EXPECT_EQ(r.scissorRight, 1280);
  EXPECT_EQ(r.scissorBottom, 992);
  ComputeLetterboxRect(&r, 640, 480, 640, 480);
  EXPECT_EQ(r.left, 0.0f);
  EXPECT_EQ(r.top, 0.0f);
  EXPECT_EQ(r.width, 640.0f);
  EXPECT_EQ(r.height, 480.0f);
  ComputeLetterboxRect(&r, 640, 480, 0, 480); // no output yet: nothing drawn
  EXPECT_EQ(r.scissorRight - r.scissorLeft, 0);
}

std::string g_log;
int64_t CaptureLog(const char* message) {
  g_log += message;
  return 0;
}

class SdlPresenter : public ::testing::TestWithParam<int32_t> {};

// The blocks of 16x16 pixels drawn for frame, read at their centres mapped
// into the letterbox of the dummy display; the alpha of 0 must not have
// blended the picture away.
static void ExpectBlocksOnScreen(SDL_Surface* screen, int w, int h, uint32_t frame) {
  LetterboxRect r;
  ComputeLetterboxRect(&r, kFrameWidth, kFrameHeight, uint32_t(w), uint32_t(h));
  float scale = r.width / float(kFrameWidth);
  for (uint32_t by = 0; by < kFrameHeight / 16; by += 3) {
    for (uint32_t bx = 0; bx < kFrameWidth / 16; bx += 5) {
      int sx = int(r.left + (bx * 16 + 8) * scale);
      int sy = int(r.top + (by * 16 + 8) * scale);
      uint32_t pixel;
      memcpy(&pixel, static_cast<uint8_t*>(screen->pixels) + sy * screen->pitch + sx * 4, 4);
      uint8_t red, green, blue;
      SDL_GetRGB(pixel, screen->format, &red, &green, &blue);
      ASSERT_EQ(blue, uint8_t(bx * 6 + frame)) << bx << "," << by;
      ASSERT_EQ(green, uint8_t(by * 8)) << bx << "," << by;
      ASSERT_EQ(red, uint8_t(0x80 + frame * 16)) << bx << "," << by;
    }
  }
}

TEST_P(SdlPresenter, DummyDisplayFromStartToShutdown) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  SdlPresenterForceStagingForTest(GetParam());
  g_log.clear();
  MemInitialize();
  LogSink previous = LogExchangeSinkForTest(CaptureLog);
  Presenter* presenter = nullptr;
  ASSERT_EQ(SdlPresenterInitialize(&presenter), 0) << g_log;
  ASSERT_NE(presenter, nullptr);
  SDL_Window* window = SdlPresenterWindow();
  ASSERT_NE(window, nullptr);
  const char* steps[] = {"SDL_InitSubSystem (SDL_INIT_VIDEO) ... OK.\n", "SDL_CreateWindow() ... OK.\n",
                         "SDL_CreateRenderer ... OK.\n", "SDL_CreateTexture ... OK.\n",
                         "SDL_LockTexture ... OK.\n", "FollowUpCurrentWindowState\n"};
  size_t at = 0;
  for (const char* s : steps) {
    size_t found = g_log.find(s, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << s << "\n" << g_log;
    at = found + strlen(s);
  }
  EXPECT_EQ(SdlPresenterPresentedCount(), 2u); // the two black frames

  int w = 0, h = 0;
  SDL_GetWindowSizeInPixels(window, &w, &h);
  SDL_Surface* screen = SDL_GetWindowSurface(window);
  ASSERT_NE(screen, nullptr);
  ASSERT_EQ(SDL_BYTESPERPIXEL(screen->format->format), 4);

  // Blocks of 16x16 pixels, each its own colour, drawn through the surface.
  uint64_t previousPresent = 0;
  for (uint32_t frame = 0; frame < 3; frame++) {
    Surface* surface = presenter->AcquireFrameSurface(presenter);
    ASSERT_NE(surface, nullptr);
    ASSERT_EQ(surface->format, Unorm8BGRA);
    ASSERT_EQ(surface->levels[0].width, kFrameWidth);
    ASSERT_EQ(surface->levels[0].height, kFrameHeight);
    EXPECT_EQ(presenter->AcquireFrameSurface(presenter), surface); // same within a frame
    for (uint32_t y = 0; y < kFrameHeight; y++) {
      for (uint32_t x = 0; x < kFrameWidth; x++) {
        uint8_t bgra[4] = {uint8_t(x / 16 * 6 + frame), uint8_t(y / 16 * 8), uint8_t(0x80 + frame * 16), 0};
        surface->StoreElement(surface, 0, x, y, bgra);
      }
    }
    ASSERT_EQ(presenter->PresentFrame(presenter, 5), 0);
    uint64_t now = NowMicroseconds(1);
    if (previousPresent) {
      EXPECT_GE(now - previousPresent, 16600u); // the frame limiter's hold
    }
    previousPresent = now;

    ExpectBlocksOnScreen(screen, w, h, frame);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(SdlPresenterPresentedCount(), 5u);

  g_log.clear();
  SdlPresenterShutdown();
  SdlPresenterDestroyWindow();
  EXPECT_EQ(SdlPresenterWindow(), nullptr);
  if (g_log.find("SDL_SetWindowFullscreen (0)") != std::string::npos) {
    EXPECT_NE(g_log.find("SDL_SetWindowFullscreen (0) ... OK.\n"), std::string::npos) << g_log;
  }
  LogExchangeSinkForTest(previous);
  SdlPresenterForceStagingForTest(0);
  MemFinalize();
}

// 0: the renderer draws into the locked texture; 1: through the staging copy.
INSTANTIATE_TEST_SUITE_P(FrameMemory, SdlPresenter, ::testing::Values(0, 1));

// Only a rate the display lists for the mode's size is the display's: SDL
// hands back the rate asked for when the listed mode has none.
TEST(SdlRefreshRate, OnlyListedRatesCount) {
  const SDL_DisplayMode listed[] = {{SDL_PIXELFORMAT_RGB888, 1920, 1080, 144, nullptr},
                                    {SDL_PIXELFORMAT_RGB888, 1920, 1080, 60, nullptr},
                                    {SDL_PIXELFORMAT_RGB888, 1280, 1024, 75, nullptr},
                                    {SDL_PIXELFORMAT_RGB888, 1024, 768, 0, nullptr}};
  EXPECT_EQ(SdlListedRefreshRate(listed, 4, 1920, 1080, 144), 144);
  EXPECT_EQ(SdlListedRefreshRate(listed, 4, 1920, 1080, 60), 60);
  EXPECT_EQ(SdlListedRefreshRate(listed, 4, 1920, 1080, 120), 0); // not a rate of this size
  EXPECT_EQ(SdlListedRefreshRate(listed, 4, 1280, 1024, 144), 0); // 144 belongs to another size
  EXPECT_EQ(SdlListedRefreshRate(listed, 4, 1024, 768, 144), 0);  // listed without a rate (Xvfb)
  EXPECT_EQ(SdlListedRefreshRate(listed, 4, 1024, 768, 0), 0);
  EXPECT_EQ(SdlListedRefreshRate(listed, 2, 1280, 1024, 75), 0); // past count
}

// The dummy display reports no rate: a request runs at the rate asked for,
// with the limiter's period, and says so in the log; without a request
// nothing of it is logged and the rate stays 60 Hz.
TEST(SdlRefreshRate, DummyDisplayRunsAtTheRequest) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  MemInitialize();
  LogSink previous = LogExchangeSinkForTest(CaptureLog);
  const struct {
    double hz;
    int32_t native;
    double running;
    const char* line; // null: no rate line at all
  } cases[] = {
      {0.0, 0, 60.0, nullptr},
      {144.0, 0, 144.0, "Display refresh rate: not reported ("},
      {0.0, 1, 60.0, "Display refresh rate: not reported ("},
  };
  for (const auto& c : cases) {
    g_log.clear();
    ResetDisplayRateForTest();
    SetDisplayRateRequest(c.hz, c.native);
    Presenter* presenter = nullptr;
    ASSERT_EQ(SdlPresenterInitialize(&presenter), 0) << g_log;
    EXPECT_DOUBLE_EQ(RunningRate(), c.running) << g_log;
    if (c.line == nullptr) {
      EXPECT_EQ(g_log.find("Display refresh rate"), std::string::npos) << g_log;
    } else {
      char running[64];
      snprintf(running, sizeof(running), "running at %.2f Hz\n", c.running);
      size_t at = g_log.find(c.line);
      ASSERT_NE(at, std::string::npos) << g_log;
      EXPECT_NE(g_log.find(running, at), std::string::npos) << g_log;
    }
    // Frames are held for the running rate's period, not for 60 Hz.
    uint64_t period = uint64_t(RatePeriodMicros(c.running));
    uint64_t first = 0, last = 0;
    for (uint32_t frame = 0; frame < 6; frame++) {
      ASSERT_EQ(presenter->PresentFrame(presenter, 5), 0);
      last = NowMicroseconds(1);
      if (frame == 0) first = last;
    }
    EXPECT_GE(last - first, 5 * (period - 50)) << c.running;
    EXPECT_LT(last - first, 5 * (period + 5000)) << c.running;
    SdlPresenterShutdown();
    SdlPresenterDestroyWindow();
  }
  ResetDisplayRateForTest();
  LogExchangeSinkForTest(previous);
  MemFinalize();
}

} // namespace
