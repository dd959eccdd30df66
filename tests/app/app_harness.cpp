#include "app_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gfx/text.h"
#include "runtime/runtime.h"

namespace {

uint64_t s_micros = 0;
std::string* s_capture = nullptr;

uint64_t FakeClock(void*) { return s_micros; }

int64_t CaptureSink(const char* message) {
  if (s_capture != nullptr) s_capture->append(message);
  return 0;
}

Frame Copy(const uint8_t* pixels) {
  Frame f(size_t(kFrameWidth) * kFrameHeight * 4);
  for (uint32_t y = 0; y < kFrameHeight; ++y) {
    memcpy(&f[size_t(y) * kFrameWidth * 4], pixels + size_t(y) * kFramePitch, kFrameWidth * 4);
  }
  return f;
}

} // namespace

Box PinkBox(const Frame& f, int rowFrom, int rowTo) {
  Box b;
  b.x0 = 640;
  b.y0 = 480;
  for (int y = rowFrom; y < rowTo; ++y) {
    for (int x = 0; x < 640; ++x) {
      const uint8_t* p = &f[(size_t(y) * 640 + x) * 4];
      if (int(p[2]) - int(p[1]) >= 10) {
        if (x < b.x0) b.x0 = x;
        if (x > b.x1) b.x1 = x;
        if (y < b.y0) b.y0 = y;
        if (y > b.y1) b.y1 = y;
      }
    }
  }
  if (b.x1 < 0) b = Box();
  return b;
}

int CountPink(const Frame& f, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const uint8_t* p = &f[(size_t(y) * 640 + x) * 4];
      if (int(p[2]) - int(p[1]) >= 10) ++n;
    }
  }
  return n;
}

std::string TestLogDirectory() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "qv_app_log_";
  if (info != nullptr) name += std::string(info->test_suite_name()) + "_" + info->name();
  std::filesystem::path path = std::filesystem::path(testing::TempDir()) / name;
  std::error_code error;
  std::filesystem::create_directories(path, error);
  std::string text = path.string();
  text += char(std::filesystem::path::preferred_separator);
  return text;
}

bool SameFrame(const Frame& a, const Frame& b) { return a.size() == b.size() && memcmp(a.data(), b.data(), a.size()) == 0; }

int32_t AppHarness::Start(uint32_t seed, const HeadlessConfig* config, uint32_t processors) {
  HeadlessConfig c;
  HeadlessConfigDefault(&c);
  c.paced = 0;
  if (config != nullptr) c = *config;
  directory = TestLogDirectory();
  LogResetForTest();
  LogSetDirectoryForTest(directory.c_str());
  log.clear();
  s_capture = &log;
  LogExchangeSinkForTest(CaptureSink);
  AppResetForTest();
  if (options != nullptr) AppSetOptions(options);
  AppSetPlatform(HeadlessPlatform(&c));
  AppSetSeedForTest(1, seed);
  AppSetProcessorCountForTest(processors);
  s_micros = 0;
  AppSetClockForTest(FakeClock, nullptr);
  frames = 0;
  int32_t r = AppInitialize();
  started = r == 0;
  return r;
}

int32_t AppHarness::FrameWith(const HeadlessFrameInput& input) {
  *HeadlessInput() = input;
  s_micros += kFrameMicros;
  int32_t r = AppUpdate();
  ++frames;
  if (keepFrames) last = Copy(HeadlessLastFrame());
  return r;
}

int32_t AppHarness::Frame(std::initializer_list<uint8_t> keys) {
  HeadlessFrameInput input;
  HeadlessClearInput(&input);
  for (uint8_t k : keys) input.keys[k] = 0x80;
  return FrameWith(input);
}

void AppHarness::AdvanceClock(uint64_t micros) { s_micros += micros; }

void AppHarness::WarmUp() {
  while (frames < 65) Frame();
}

void AppHarness::Stop() {
  if (started) AppFinalize();
  started = false;
  HeadlessReleaseFrames();
  AppSetClockForTest(nullptr, nullptr);
  AppSetSeedForTest(0, 0);
  AppSetCreateContextForTest(nullptr);
  AppSetResultsPath(nullptr);
  AppSetLocalTimeForTest(nullptr);
  AppSetFailStartupStepForTest(kFailNothing);
  LogResetForTest();
  s_capture = nullptr;
}

std::string AppHarness::LogFile() const {
  std::ifstream in(directory + "app_log.txt", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Frame AppHarness::Render(const std::vector<RefText>& texts) {
  static const float white[4] = {1, 1, 1, 1};
  static const float pink[4] = {1.0f, 0.8f, 0.9f, 1.0f};
  static const AlphaTestConstants blend = {CompareFunction::Always, 0.0f};
  AppRuntime& r = g_appRuntime;
  QvGfxContext* c = &r.context;
  const float depthClear = 0.0f;
  const uint8_t colourClear[4] = {0, 0, 0, 0};
  RecordSetViewport(c, 0, 0, 640, 480);
  RecordSetDepthRange(c, 1.0f, 0.0f);
  RecordBindDepthTarget(c, &r.depthSurface);
  RecordBindColorTarget(c, 0, r.presenter);
  RecordClearDepth(c, &depthClear, 4);
  RecordClearColor(c, 0, colourClear, 4);
  RecordSetDepthCompare(c, CompareFunction::GreaterEqual);
  RecordSetSortMode(c, SortMode::SortNearestFirst);
  RecordBindBlendStage(c, &AlphaBlendBs);
  RecordBindBlendConstants(c, &blend);
  for (const RefText& t : texts) {
    const float position[4] = {t.x, t.y, t.depth, 1.0f};
    PrintText(c, position, t.pink ? pink : white, "%s", t.text.c_str());
  }
  EndFrame(c, r.presenter, PresentMode::Immediate);
  return Copy(HeadlessLastFrame());
}

std::vector<RefText> SelectScreen(const char* fps) {
  std::vector<RefText> t;
  t.push_back({16, 16, 0, false,
               "Select delay frames.\n\n[2] ... 1 or 2 frames\n[3] ... 1 or 3 frames\n[4] ... 1 or 4 frames\n"
               "[5] ... 1 or 5 frames\n[6] ... 1 or 6 frames\n[7] ... 1 or 7 frames\n[8] ... 1 or 8 frames\n"
               "[t] ... find my threshold\n"});
  if (fps != nullptr) t.push_back({260, 210, 0, false, std::string("FPS ") + fps + "\n"});
  return t;
}

std::vector<RefText> TrialScreen(int step, bool candidateA, const char* fps) {
  char text[256];
  snprintf(text, sizeof(text),
           "Choose a delayed candidate.\nstep %2d/20\ncandidate=%s\n\n[space] ... change\n[enter] ... submit\n"
           "[q]     ... quit",
           step, candidateA ? "A" : "B");
  std::vector<RefText> t;
  t.push_back({16, 16, 0, false, text});
  if (fps != nullptr) t.push_back({260, 210, 0, false, std::string("FPS ") + fps + "\n"});
  return t;
}

void AddMarker(std::vector<RefText>* texts, float x, float y, uint32_t bits) {
  // Same order as the program: marker and joystick line before the FPS line.
  std::vector<RefText> extra;
  extra.push_back({x - 9.0f, y - 6.0f, -0.1f, true, "dAb"});
  std::string line = "joystick=";
  for (int i = 0; i < 8; ++i) line += (bits >> i) & 1 ? "x" : "-";
  extra.push_back({8, 224, 0, false, line});
  texts->insert(texts->begin() + 1, extra.begin(), extra.end());
}

std::vector<RefText> ResultScreen(const std::vector<int>& results, const char* fps) {
  int right = 0;
  for (int r : results) right += r;
  float score = results.empty() ? 0.0f : float(right) * 100.0f / float(results.size());
  char text[128];
  snprintf(text, sizeof(text), "your score=%.1f%%\nHit enter key.", double(score));
  std::vector<RefText> t;
  t.push_back({112, 112, 0, false, text});
  for (size_t i = 0; i < results.size(); ++i) {
    char line[32];
    snprintf(line, sizeof(line), "%02d:%s", int(i), results[i] ? "good" : "NG  ");
    t.push_back({float((i % 5) * 50 + 32), float((i / 5) * 16 + 8), 0, false, line});
  }
  if (fps != nullptr) t.push_back({260, 210, 0, false, std::string("FPS ") + fps + "\n"});
  return t;
}

std::string RecordLine(const std::string& path, int k) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  char line[1024];
  std::string found;
  for (int i = 0; i <= k && fgets(line, sizeof(line), file) != nullptr; ++i) {
    if (i == k) found = line;
  }
  fclose(file);
  return found;
}
