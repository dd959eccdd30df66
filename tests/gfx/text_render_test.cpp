// Text through the whole pipeline into the memory presenter, against a
// reconstruction: each glyph's cell texels copied from the independently
// decoded atlas to where its quad lands (2x scale), times the colour, alpha
// blended over what is there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gfx/fonts/font_images.h"
#include "gfx/text.h"
#include "tests/gfx/fonts_png.h"
#include "tests/gfx/gfx_harness.h"
#include "tests/gfx/text_model.h"

namespace {

struct Printed {
  float x, y;
  float colour[4];
  const char* text; // UTF-8, no invalid sequences
  float depth = 0.0f; // the reference ignores depth: keep deeper texts apart
};

struct Reference {
  std::vector<float> rgba = std::vector<float>(640 * 480 * 4, 0.0f);
  TestPng atlas[2];
  ModelFont fonts[2] = {SmallModel(), LargeModel()};
  std::map<uint32_t, ModelGlyph> table = ModelTable();

  void Glyph(uint32_t cp, float left, float top, const float* colour) {
    auto it = table.find(cp);
    if (it == table.end()) it = table.find('?');
    const ModelFont& f = fonts[it->second.font];
    const TestPng& image = atlas[it->second.font];
    uint32_t cx = 0, cy = 0;
    EXPECT_TRUE(ModelCell(f, it->second.code, &cx, &cy));
    int32_t px0 = int32_t(std::lround(left * 2)), py0 = int32_t(std::lround(top * 2));
    for (int32_t dy = 0; dy < 26; ++dy) {
      for (int32_t dx = 0; dx < int32_t(f.cell) * 2; ++dx) {
        int32_t px = px0 + dx, py = py0 + dy;
        if (px < 0 || py < 0 || px >= 640 || py >= 480) continue;
        const uint8_t* t = &image.rgba[((cy + dy / 2) * image.width + cx + dx / 2) * 4];
        float s[4];
        for (int i = 0; i < 4; ++i) s[i] = float(t[i]) / 255.0f * colour[i];
        float* d = &rgba[(size_t(py) * 640 + px) * 4];
        for (int i = 0; i < 3; ++i) d[i] = (1 - s[3]) * d[i] + s[3] * s[i];
        d[3] = s[3];
      }
    }
  }

  void Print(const Printed& p) {
    float x = p.x, y = p.y;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(p.text);
    while (*s) {
      uint32_t cp = *s++;
      if (cp >= 0xF0) cp = (cp & 7) << 18 | (s[0] & 63u) << 12 | (s[1] & 63u) << 6 | (s[2] & 63u), s += 3;
      else if (cp >= 0xE0) cp = (cp & 15) << 12 | (s[0] & 63u) << 6 | (s[1] & 63u), s += 2;
      else if (cp >= 0xC0) cp = (cp & 31) << 6 | (s[0] & 63u), s += 1;
      if (cp == '\r') continue;
      if (cp == '\n') {
        x = p.x;
        y += 13;
        continue;
      }
      Glyph(cp, x, y, p.colour);
      auto it = table.find(cp);
      x += (it == table.end() || it->second.font == 0) ? 6 : 12;
    }
  }
};

// Renders the lines into one frame through the whole pipeline and compares
// every pixel with the reconstruction (within one 8-bit step).
void RenderAndCompare(const std::vector<Printed>& lines) {
  ASSERT_EQ(InitializeText(nullptr), 0);
  QvGfxContext* c = NewTestContext(2, true);
  ASSERT_NE(c, nullptr);
  MemoryPresenter presenter;
  ASSERT_EQ(CreateMemoryPresenter(&presenter, 1), 0);
  Surface depth;
  ASSERT_EQ(CreateSurface(&depth, Fp32, 640, 480), 0);
  static const AlphaTestConstants kAlways = {CompareFunction::Always, 0.0f};
  const float zero = 0.0f;
  const uint8_t black[4] = {0, 0, 0, 0};

  RecordSetViewport(c, 0, 0, 640, 480);
  RecordSetDepthRange(c, 1.0f, 0.0f);
  RecordBindDepthTarget(c, &depth);
  RecordBindColorTarget(c, 0, &presenter.base);
  RecordClearDepth(c, &zero, 4);
  RecordClearColor(c, 0, black, 4);
  RecordSetDepthCompare(c, CompareFunction::GreaterEqual);
  RecordSetSortMode(c, SortMode::SortNearestFirst);
  RecordBindBlendStage(c, &AlphaBlendBs);
  RecordBindBlendConstants(c, &kAlways);
  for (const Printed& p : lines) {
    const float position[4] = {p.x, p.y, p.depth, 1.0f};
    EXPECT_EQ(PrintText(c, position, p.colour, "%s", p.text), 0);
  }
  EndFrame(c, &presenter.base, PresentMode::PresentThenLimit);
  const uint8_t* frame = MemoryPresenterFrame(&presenter, 0);
  ASSERT_NE(frame, nullptr);

  Reference ref;
  ASSERT_EQ(DecodeTestPng(s_aSmallFontPng, s_aSmallFontPngSize, &ref.atlas[0]), 0);
  ASSERT_EQ(DecodeTestPng(s_aLargeFontPng, s_aLargeFontPngSize, &ref.atlas[1]), 0);
  for (const Printed& p : lines) ref.Print(p);

  uint32_t bad = 0, lit = 0;
  for (uint32_t y = 0; y < 480; ++y) {
    for (uint32_t x = 0; x < 640; ++x) {
      const uint8_t* got = frame + y * kFramePitch + x * 4; // B, G, R, A
      const float* want = &ref.rgba[(size_t(y) * 640 + x) * 4];
      const uint8_t order[4] = {2, 1, 0, 3};
      bool same = true;
      for (int i = 0; i < 4; ++i) same = same && std::fabs(float(got[i]) - want[order[i]] * 255.0f) <= 1.0f;
      lit += want[3] > 0;
      if (!same && bad++ < 10)
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): BGRA " << int(got[0]) << " " << int(got[1]) << " "
                      << int(got[2]) << " " << int(got[3]) << ", expected RGBA " << want[0] * 255 << " "
                      << want[1] * 255 << " " << want[2] * 255 << " " << want[3] * 255;
    }
  }
  EXPECT_EQ(bad, 0u);
  EXPECT_GT(lit, 1000u); // the reference itself drew something

  Finish(c);
  ReleaseText();
  DeleteTestContext(c);
  ReleaseSurface(&depth);
  DestroyMemoryPresenter(&presenter);
}

TEST(TextRenderTest, PrintedTextMatchesTheAtlasCells) {
  RenderAndCompare({
      {10, 20, {1.0f, 0.5f, 0.25f, 1.0f}, "Hi! \xEF\xBD\xB1\xE4\xBA\x9C\xC3\xA9 ~"},
      {200, 150, {1, 1, 1, 1}, "AB\r\nCD \xE2\x91\xA0"},
      {100, 100, {1, 1, 1, 1}, "#"},
      {100, 100, {0.0f, 1.0f, 0.0f, 0.5f}, "O"},          // blended over the '#'
      {310, 230, {0.2f, 0.4f, 0.6f, 1.0f}, "edge"},     // runs off the screen
      {-5, -3, {1, 1, 1, 1}, "xy"},                     // starts off the screen
      {20.5f, 60.5f, {1, 1, 1, 0.75f}, "half \xE4\xBA\x9C"}, // odd pixel origin
  });
}

// The delay test's three screens: their texts at their positions and
// colours (white, and the marker / warning pink).
#define QV_WHITE {1, 1, 1, 1}
#define QV_PINK {1.0f, 0.8f, 0.9f, 1.0f}

TEST(TextRenderTest, DelayChoiceScreen) {
  RenderAndCompare({
      {16, 16, QV_WHITE,
       "Select delay frames.\n\n[2] ... 1 or 2 frames\n[3] ... 1 or 3 frames\n[4] ... 1 or 4 frames\n"
       "[5] ... 1 or 5 frames\n[6] ... 1 or 6 frames\n[7] ... 1 or 7 frames\n[8] ... 1 or 8 frames\n"},
      {260, 210, QV_WHITE, "FPS 0.0\n"},
      {60, 140, QV_PINK, "ERROR : cannot keep 60 fps...orz"},
  });
}

TEST(TextRenderTest, TrialScreen) {
  RenderAndCompare({
      {16, 16, QV_WHITE,
       "Choose a delayed candidate.\nstep  3/20\ncandidate=A\n\n[space] ... change\n[enter] ... submit\n[q]     ... quit"},
      {151, 114, QV_PINK, "dAb", -0.1f}, // marker at (160, 120), in front
      {8, 224, QV_WHITE, "joystick=x-x-----"},
      {260, 210, QV_WHITE, "FPS 60.0\n"},
  });
}

TEST(TextRenderTest, ResultScreen) {
  std::vector<std::string> cells;
  for (int i = 0; i < 20; ++i) {
    char cell[24]; // room for any int, so the compiler sees no truncation
    std::snprintf(cell, sizeof(cell), "%02d:%s", i, (i % 3 == 1) ? "NG  " : "good");
    cells.push_back(cell);
  }
  std::vector<Printed> lines = {
      {112, 112, QV_WHITE, "your score=65.0%\nHit enter key."},
      {260, 210, QV_WHITE, "FPS 59.9\n"},
  };
  for (int i = 0; i < 20; ++i) {
    lines.push_back({float((i % 5) * 50 + 32), float((i / 5) * 16 + 8), QV_WHITE, cells[i].c_str()});
  }
  RenderAndCompare(lines);
}

} // namespace
