// Long unpaced run with random input: no crash, memory flat after warm-up,
// and the log grows by step and result lines only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "app_harness.h"
#include "rss.h"

namespace {

// A frame costs a few milliseconds of rasterizing on a small machine, so the
// default keeps the run within a minute; QV_SOAK_FRAMES=100000 runs the
// long version.
#if defined(QV_TSAN)
constexpr int kFrames = 150;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kFrames = 1500;
#else
constexpr int kFrames = 8000;
#endif

bool IsStepOrResultLine(const std::string& line) {
  int a, b, n;
  float f;
  char tail[16];
  if (sscanf(line.c_str(), "%2d/20 : %15s%n", &a, tail, &n) == 2 && size_t(n) == line.size()) {
    return a >= 0 && a < 20 && (strcmp(tail, "(^-^)") == 0 || strcmp(tail, "orz") == 0);
  }
  if (sscanf(line.c_str(), "delay = %d, result = %f%%%n", &b, &f, &n) == 2 && size_t(n) == line.size()) {
    return b >= 2 && b <= 8 && f >= 0.0f && f <= 100.0f;
  }
  return false;
}

TEST(AppSoak, RandomInputForManyFrames) {
  HeadlessConfig config;
  HeadlessConfigDefault(&config);
  config.paced = 0;
  config.hasJoystick = 1;
  AppHarness h;
  ASSERT_EQ(h.Start(31337, &config), 0);
  h.keepFrames = false;
  const char* override = getenv("QV_SOAK_FRAMES");
  const int frameCount = override != nullptr ? atoi(override) : kFrames;
  std::mt19937 rng(2024);
  const uint8_t keys[] = {0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x10, 0x1C, 0x39,
                          0xC8, 0xD0, 0xCB, 0xCD, 0x11, 0x1E, 0x1F, 0x20, 0x48, 0x50, 0x4B, 0x4D};
  HeadlessFrameInput in;
  HeadlessClearInput(&in);
  uint64_t rssAfterWarmUp = 0;
  size_t logAfterStart = h.Log().size();
  const int warmUp = frameCount / 10;
  for (int f = 0; f < frameCount; ++f) {
    // Keys change now and then so that presses, holds and releases all occur.
    if (rng() % 4 == 0) {
      uint8_t k = keys[rng() % sizeof(keys)];
      in.keys[k] = in.keys[k] ? 0 : 0x80;
    }
    in.keyboardLost = rng() % 97 == 0;
    in.joystickLost = rng() % 89 == 0;
    if (rng() % 8 == 0) {
      in.joystick.lX = int32_t(rng() % 2001) - 1000;
      in.joystick.lY = int32_t(rng() % 2001) - 1000;
      in.joystick.rgdwPOV[0] = rng() % 2 ? kHatCentred : (rng() % 8) * 4500;
      in.joystick.rgbButtons[rng() % 16] ^= 0x80;
    }
    int32_t r = h.FrameWith(in);
    ASSERT_TRUE(r == 0 || r == 10) << r;
    ASSERT_GE(g_app.markerPos[0], 0.0f);
    ASSERT_LE(g_app.markerPos[0], 320.0f);
    ASSERT_GE(g_app.markerPos[1], 0.0f);
    ASSERT_LE(g_app.markerPos[1], 240.0f);
    ASSERT_LE(g_app.stepIndex, 20);
    if (f == warmUp) rssAfterWarmUp = ResidentBytes();
  }
  uint64_t rssEnd = ResidentBytes();
#if defined(QV_TSAN)
  // The thread sanitizer's shadow and history memory grows by design.
  rssAfterWarmUp = 0;
#endif
  if (rssAfterWarmUp != 0 && rssEnd != 0) {
    EXPECT_LE(rssEnd, rssAfterWarmUp + (1u << 20)) << "grew from " << rssAfterWarmUp << " to " << rssEnd;
  }
  std::string grown = h.Log().substr(logAfterStart);
  size_t lines = 0, start = 0;
  while (start < grown.size()) {
    size_t end = grown.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "unterminated log text";
    ASSERT_TRUE(IsStepOrResultLine(grown.substr(start, end - start))) << grown.substr(start, end - start);
    ++lines;
    start = end + 1;
  }
  EXPECT_GT(lines, 0u);
  h.Stop();
}

} // namespace
