// Start-up order and failures, the whole-program run through the frame loop,
// the log file and the random generator.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "app_harness.h"
#include "runtime/runtime.h"

namespace {

class StartupTest : public ::testing::Test {
protected:
  AppHarness h;
  void TearDown() override { h.Stop(); }
};

TEST_F(StartupTest, PresenterFailureEndsTheLogAtTheFailedStep) {
  HeadlessConfig config;
  HeadlessConfigDefault(&config);
  config.failPresenterStart = 1;
  EXPECT_EQ(h.Start(1, &config), 1);
  EXPECT_EQ(h.Log(), "--------------- AppInitialize ... ---------------\nCreateMemoryPresenter ... ");
  EXPECT_EQ(h.LogFile(), h.Log());
  EXPECT_EQ(g_appRuntime.presenter, nullptr);
}

int32_t FailingCreateContext(QvGfxContext*, uint32_t) { return 1; }

TEST_F(StartupTest, ContextFailureFailsStartUpAndStopsThePresenter) {
  AppSetCreateContextForTest(FailingCreateContext);
  EXPECT_EQ(h.Start(1), 1);
  EXPECT_EQ(g_appRuntime.presenter, nullptr);
  EXPECT_EQ(g_appRuntime.contextCreated, 0);
  EXPECT_EQ(h.Log(), "--------------- AppInitialize ... ---------------\nCreateMemoryPresenter ... OK.\n");
}

// Without a depth buffer or fonts the test could show nothing: start-up
// fails at that step and everything started before it is released.
TEST_F(StartupTest, DepthOrFontFailureFailsStartUpAndReleasesEverything) {
  const struct {
    int32_t step;
    const char* line;
  } cases[] = {{kFailDepthSurface, "CreateSurface (depth) ... failed.\n"},
               {kFailFonts, "LoadEmbeddedImage ... failed.\n"}};
  for (const auto& c : cases) {
    AppSetFailStartupStepForTest(c.step);
    EXPECT_EQ(h.Start(1), 1);
    EXPECT_EQ(g_appRuntime.presenter, nullptr);
    EXPECT_EQ(g_appRuntime.contextCreated + g_appRuntime.streamCreated + g_appRuntime.depthCreated +
                  g_appRuntime.fontsLoaded, 0);
    std::string log = h.Log();
    ASSERT_GE(log.size(), strlen(c.line));
    EXPECT_EQ(log.substr(log.size() - strlen(c.line)), c.line);
    h.Stop();
  }
}

TEST_F(StartupTest, OldLogIsDeletedAndFirstFramesFollowTwoBlackOnes) {
  {
    std::ofstream old(TestLogDirectory() + "app_log.txt", std::ios::binary);
    old << "an earlier run\n";
  }
  ASSERT_EQ(h.Start(1), 0);
  EXPECT_EQ(h.LogFile(), "--------------- AppInitialize ... ---------------\nCreateMemoryPresenter ... OK.\n");
  EXPECT_EQ(HeadlessPresentedCount(), 2u);
  const uint8_t* black = HeadlessLastFrame();
  ASSERT_NE(black, nullptr);
  for (uint32_t y = 0; y < kFrameHeight; ++y) {
    for (uint32_t x = 0; x < kFrameWidth * 4; ++x) ASSERT_EQ(black[y * kFramePitch + x], 0) << x << "," << y;
  }
  h.Frame();
  EXPECT_EQ(HeadlessPresentedCount(), 3u);
  EXPECT_EQ(g_appRuntime.joystickPresent, 0); // no joystick: nothing logged
  h.Stop();
  EXPECT_EQ(h.LogFile(), "--------------- AppInitialize ... ---------------\nCreateMemoryPresenter ... OK.\n"
                         "--------------- AppFinalize ... ---------------\n");
}

struct Script {
  int escapeAt;   // frame that holds Escape, or -1
  int quitAt;     // frame before which the quit message arrives, or -1
  int framesSeen; // frames presented to the step function
  int sawLastFrame;
};

int32_t ScriptStep(void* user, uint32_t frame, const uint8_t* last, HeadlessFrameInput* next) {
  Script* s = static_cast<Script*>(user);
  if (last != nullptr) ++s->framesSeen;
  s->sawLastFrame = last != nullptr;
  HeadlessClearInput(next);
  if (int(frame) == s->quitAt) return 1;
  if (int(frame) == 3) next->keys[0x04] = 0x80; // select 3
  if (int(frame) == s->escapeAt) next->keys[0x01] = 0x80;
  return 0;
}

TEST_F(StartupTest, WholeProgramEndsByEscapeOrQuitMessage) {
  LogResetForTest();
  LogSetDirectoryForTest(TestLogDirectory().c_str());
  LogSink old = LogExchangeSinkForTest([](const char*) -> int64_t { return 0; });
  for (int byQuit = 0; byQuit < 2; ++byQuit) {
    HeadlessConfig config;
    HeadlessConfigDefault(&config);
    config.paced = 0;
    AppResetForTest();
    Script script = {byQuit ? -1 : 9, byQuit ? 7 : -1, 0, 0};
    EXPECT_EQ(HeadlessRun(&config, ScriptStep, &script), 0);
    // Escape on frame 9: frames 0..8 are handed over by the message pump and
    // frame 9 after the loop. Quit before frame 7: frames 0..6 by the pump
    // (the seventh call posts the quit) and frame 6 again after the loop.
    EXPECT_EQ(script.framesSeen, byQuit ? 8 : 10);
    EXPECT_TRUE(script.sawLastFrame);
    std::ifstream in(TestLogDirectory() + "app_log.txt", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "--------------- AppInitialize ... ---------------\nCreateMemoryPresenter ... OK.\n"
                    "--------------- AppFinalize ... ---------------\n");
  }
  HeadlessConfig failing;
  HeadlessConfigDefault(&failing);
  failing.failPresenterStart = 1;
  Script script = {-1, -1, 0, 0};
  EXPECT_EQ(HeadlessRun(&failing, ScriptStep, &script), 1);
  EXPECT_EQ(script.framesSeen, 0);
  LogExchangeSinkForTest(old);
  LogResetForTest();
}

TEST(Xorshift128, PublishedSequenceAndProgramSeed) {
  Xorshift128 g;
  Xorshift128Seed(&g, 123456789u);
  EXPECT_EQ(Xorshift128Next(&g), 3701687786u);
  EXPECT_EQ(Xorshift128Next(&g), 458299110u);
  EXPECT_EQ(Xorshift128Next(&g), 2500872618u);
  for (uint32_t seed : {0u, 1u, 0xFFFFFFFFu, 1700000000u}) {
    Xorshift128 a;
    Xorshift128Seed(&a, seed);
    RefGenerator b(seed);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(Xorshift128Next(&a), b.Next());
  }
}

TEST(LocalTime, SecondsDifferFromUtcByAWholeZoneOffset) {
  time_t before = time(nullptr);
  int64_t local = LocalTimeSeconds();
  time_t after = time(nullptr);
  // Compare modulo 2^32: the value is truncated to 32 bits.
  int64_t offset = int64_t(int32_t(uint32_t(local) - uint32_t(int64_t(before))));
  EXPECT_LE(offset, 14 * 3600 + 2 + int64_t(after - before));
  EXPECT_GE(offset, -12 * 3600 - 2);
  int64_t residual = ((offset % 900) + 900) % 900;
  EXPECT_TRUE(residual <= 2 + int64_t(after - before) || residual >= 898) << offset;
}

TEST_F(StartupTest, SeedComesFromLocalTimeUnlessInjected) {
  AppSetSeedForTest(0, 0);
  HeadlessConfig config;
  HeadlessConfigDefault(&config);
  config.paced = 0;
  LogResetForTest();
  LogSetDirectoryForTest(TestLogDirectory().c_str());
  AppResetForTest();
  AppSetPlatform(HeadlessPlatform(&config));
  uint32_t before = LocalTimeSeconds();
  ASSERT_EQ(AppInitialize(), 0);
  uint32_t after = LocalTimeSeconds();
  EXPECT_GE(g_app.generator.x - before, 0u);
  EXPECT_LE(g_app.generator.x - before, after - before);
  EXPECT_EQ(g_app.generator.y, 362436069u);
  EXPECT_EQ(g_app.generator.z, 521288629u);
  EXPECT_EQ(g_app.generator.w, 88675123u);
  AppFinalize();
  HeadlessReleaseFrames();
  LogResetForTest();
}

TEST(HeadlessPacing, PacedFramesTakeAtLeastTheFramePeriod) {
  HeadlessConfig config;
  HeadlessConfigDefault(&config);
  ASSERT_EQ(config.paced, 1);
  LogResetForTest();
  LogSetDirectoryForTest(TestLogDirectory().c_str());
  LogSink old = LogExchangeSinkForTest([](const char*) -> int64_t { return 0; });
  AppResetForTest();
  AppSetPlatform(HeadlessPlatform(&config));
  ASSERT_EQ(AppInitialize(), 0);
  AppUpdate();
  uint64_t start = NowMicroseconds(1);
  uint32_t firstMark = HeadlessLimiter()->mark;
  for (int i = 0; i < 6; ++i) AppUpdate();
  uint64_t elapsed = NowMicroseconds(1) - start;
  uint32_t lastMark = HeadlessLimiter()->mark;
  // The holds end on the render thread a little before AppUpdate returns, so
  // the wall-clock span is only sure to cover five periods; the limiter's own
  // marks cover all six.
  EXPECT_GE(lastMark - firstMark, 6u * 16666u);
  EXPECT_GE(elapsed, 5u * 16666u);
  AppFinalize();
  HeadlessReleaseFrames();
  LogExchangeSinkForTest(old);
  LogResetForTest();
}

} // namespace
