// The glyph pool and table, the two fonts' registration and the printer's
// fixed state (font, sampler, vertex constants).
#include <cstring>

#include "gfx/fonts/font_images.h"
#include "gfx/fonts/jis0208_table.h"
#include "gfx/image.h"
#include "gfx/text.h"

namespace {

constexpr uint32_t kCellHeight = 13;
constexpr uint32_t kCellPitchY = 14; // cell height plus the top gutter

struct TextState {
  Surface fontImages[2];
  Glyph pool[kGlyphPoolSize];
  GlyphTable table;
  Font font;
  Sampler sampler;
};
TextState s_text;

// Point filtering, nearest level, wrap on both axes, level 0 only, kernel 1.
const Sampler kTextSampler = {1, 1, 1, 2, 2, 2, {0.0f, 0.0f, 0.0f}, 0, 0, 0, 1, 1};

// Maps the 320 x 240 logical screen onto the viewport (FontVs negates y).
const float kTextVertexConstants[16] = {
    2.0f / 320.0f, 0.0f, 0.0f, 0.0f, 0.0f, -2.0f / 240.0f, 0.0f, 0.0f,
    0.0f,          0.0f, 1.0f, 0.0f, -1.0f, 1.0f,          0.0f, 1.0f,
};

const CodeRange kSmallRanges[] = {{0x20, 0x80}, {0xA0, 0xE0}};

// JIS X 0208 row-cell codes present in the large font, in image order.
constexpr uint32_t kLargeRangeCount = 90;
struct LargeRanges {
  CodeRange ranges[kLargeRangeCount];
  constexpr LargeRanges() : ranges() {
    const CodeRange head[] = {{0x2121, 0x217F}, {0x2221, 0x222F}, {0x223A, 0x2242}, {0x224A, 0x2251},
                              {0x225C, 0x226B}, {0x2272, 0x227A}, {0x227E, 0x227F}, {0x2330, 0x233A},
                              {0x2341, 0x235B}, {0x2361, 0x237B}, {0x2421, 0x2474}, {0x2474, 0x2475},
                              {0x2521, 0x2577}, {0x2621, 0x2639}, {0x2641, 0x2659}, {0x2721, 0x2742},
                              {0x2751, 0x2772}, {0x2821, 0x2841}, {0x2D21, 0x2D3F}, {0x2D40, 0x2D57},
                              {0x2D5F, 0x2D7D}};
    uint32_t n = 0;
    for (const CodeRange& r : head) ranges[n++] = r;
    for (uint32_t row = 0x30; row <= 0x4E; ++row) ranges[n++] = {row << 8 | 0x21, row << 8 | 0x7F};
    ranges[n++] = {0x4F21, 0x4F54};
    for (uint32_t row = 0x50; row <= 0x73; ++row) ranges[n++] = {row << 8 | 0x21, row << 8 | 0x7F};
    ranges[n++] = {0x7421, 0x7427};
  }
};
constexpr LargeRanges kLargeRanges;
static_assert(kLargeRanges.ranges[kLargeRangeCount - 1].start == 0x7421, "90 ranges");

// 0 for codes that have no character; printing never looks entry 0 up.
uint32_t CodePointOf(uint32_t code) {
  if (code >= 0xA1 && code <= 0xDF) return code + 0xFEC0; // half-width katakana
  if (code < 0x80) return code;
  uint32_t cell = code & 0xFF;
  if (code >= 0x2100 && cell >= 0x21 && cell <= 0x7E) return JisToUnicode(code);
  return 0;
}

// (2 n) (1 / size) - 1, in single precision.
float TexCoord(uint32_t n, float reciprocal) { return float(2 * n) * reciprocal - 1.0f; }

void ClearImages() {
  for (Surface& image : s_text.fontImages) {
    ReleaseSurface(&image);
    memset(&image, 0, sizeof(image));
  }
}

} // namespace

uint32_t BuildGlyphs(Surface* image, uint32_t firstCode, uint32_t endCode, const CodeRange* ranges,
                     uint32_t rangeCount, uint32_t cellWidth, uint32_t poolIndex) {
  if (!image || image->levelCount == 0) return poolIndex;
  uint32_t width = image->levels[0].width, height = image->levels[0].height;
  uint32_t pitch = cellWidth + 1;
  uint32_t columns = (width - 1) / pitch;
  if (columns == 0) return poolIndex;
  float rcpWidth = 1.0f / float(width), rcpHeight = 1.0f / float(height);
  for (uint32_t code = firstCode; code < endCode && poolIndex < kGlyphPoolSize; ++code) {
    uint32_t before = 0, r = 0;
    for (; r < rangeCount; ++r) {
      if (code >= ranges[r].start && code < ranges[r].end) break;
      before += ranges[r].end - ranges[r].start;
    }
    if (r == rangeCount) continue;
    uint32_t ordinal = before + (code - ranges[r].start);
    uint32_t x0 = pitch * (ordinal % columns), y0 = kCellPitchY * (ordinal / columns);
    float u0 = TexCoord(x0 + 1, rcpWidth), u1 = TexCoord(x0 + cellWidth + 1, rcpWidth);
    float vTop = -TexCoord(y0 + 1, rcpHeight), vBottom = -TexCoord(y0 + kCellPitchY, rcpHeight);

    Glyph* g = &s_text.pool[poolIndex++];
    g->image = image;
    const float corners[4][2] = {{u0, vTop}, {u1, vTop}, {u0, vBottom}, {u1, vBottom}};
    for (uint32_t i = 0; i < 4; ++i) {
      g->corners[i][0] = corners[i][0];
      g->corners[i][1] = corners[i][1];
      g->corners[i][2] = 1.0f;
      g->corners[i][3] = 1.0f;
    }
    g->offsetX = 0.0f;
    g->offsetY = 0.0f;
    g->advance = float(cellWidth);
    g->height = float(kCellHeight);
    s_text.table.glyphs[CodePointOf(code) & 0xFFFF] = g;
  }
  return poolIndex;
}

int32_t InitializeText(QvGfxContext*) {
  ClearImages();
  int32_t smallResult = LoadEmbeddedImage(&s_text.fontImages[0], s_aSmallFontPng, s_aSmallFontPngSize);
  int32_t largeResult = LoadEmbeddedImage(&s_text.fontImages[1], s_aLargeFontPng, s_aLargeFontPngSize);
  if (smallResult != 0 || largeResult != 0) LogPrintf("LoadEmbeddedImage ... failed.\n");

  memset(&s_text.table, 0, sizeof(s_text.table));
  memset(s_text.pool, 0, sizeof(s_text.pool));
  // A font whose image did not load gets no glyphs, so nothing samples it.
  uint32_t next = 0;
  if (smallResult == 0) next = BuildGlyphs(&s_text.fontImages[0], 0, 0x100, kSmallRanges, 2, 6, next);
  if (largeResult == 0)
    next = BuildGlyphs(&s_text.fontImages[1], 0x2121, 0x7427, kLargeRanges.ranges, kLargeRangeCount, 12, next);

  s_text.font.table = &s_text.table;
  s_text.font.entryCount = kGlyphTableEntries;
  s_text.font.lineAdvance = 13.0f;
  s_text.sampler = kTextSampler;
  return smallResult != 0 || largeResult != 0 ? 1 : 0;
}

void ReleaseText() {
  memset(&s_text.table, 0, sizeof(s_text.table));
  ClearImages();
}

const Font* TextFont() { return &s_text.font; }
const Sampler* TextSampler() { return &s_text.sampler; }
const float* TextVertexConstants() { return kTextVertexConstants; }
GlyphTable* TextGlyphTable() { return &s_text.table; }
Surface* TextFontImage(uint32_t index) { return index < 2 ? &s_text.fontImages[index] : nullptr; }
