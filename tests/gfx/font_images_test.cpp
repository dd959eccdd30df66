// The embedded font images: the same bytes as the committed PNG files, an
// RGBA8 non-interlaced header, and glyph cells where the glyph table reads
// them; the tests' own PNG reader on known and damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/fonts/font_images.h"
#include "tests/gfx/fonts_png.h"

namespace {

struct CodeRange {
  uint32_t start;
  uint32_t end;
};

// Where the glyph table builder looks for the glyph of a code: its ordinal
// in the concatenated ranges, column = ordinal mod ((W - 1) / P), the cell at
// (P * column, 14 * row) and the glyph box one texel right and down.
struct FontLayout {
  const char* pName;
  const unsigned char* pPng;
  uint32_t pngSize;
  uint32_t width;
  uint32_t height;
  uint32_t glyphWidth;
  std::vector<CodeRange> ranges;

  int64_t Ordinal(uint32_t code) const
  {
    int64_t before = 0;
    for (const CodeRange& r : ranges) {
      if (code >= r.start && code < r.end)
        return before + (code - r.start);
      before += r.end - r.start;
    }
    return -1;
  }
  uint32_t GlyphCount() const
  {
    uint32_t n = 0;
    for (const CodeRange& r : ranges)
      n += r.end - r.start;
    return n;
  }
  void BoxOf(uint32_t ordinal, uint32_t* pX, uint32_t* pY) const
  {
    uint32_t pitch = glyphWidth + 1;
    uint32_t columns = (width - 1) / pitch;
    *pX = pitch * (ordinal % columns) + 1;
    *pY = 14 * (ordinal / columns) + 1;
  }
};

FontLayout SmallLayout()
{
  return {"small", s_aSmallFontPng, s_aSmallFontPngSize, 128, 128, 6, {{0x20, 0x80}, {0xA0, 0xE0}}};
}

FontLayout LargeLayout()
{
  FontLayout f = {"large", s_aLargeFontPng, s_aLargeFontPngSize, 1024, 2048, 12, {}};
  f.ranges = {{0x2121, 0x217F}, {0x2221, 0x222F}, {0x223A, 0x2242}, {0x224A, 0x2251}, {0x225C, 0x226B},
              {0x2272, 0x227A}, {0x227E, 0x227F}, {0x2330, 0x233A}, {0x2341, 0x235B}, {0x2361, 0x237B},
              {0x2421, 0x2474}, {0x2474, 0x2475}, {0x2521, 0x2577}, {0x2621, 0x2639}, {0x2641, 0x2659},
              {0x2721, 0x2742}, {0x2751, 0x2772}, {0x2821, 0x2841}, {0x2D21, 0x2D3F}, {0x2D40, 0x2D57},
              {0x2D5F, 0x2D7D}};
  for (uint32_t row = 0x30; row <= 0x4E; ++row)
    f.ranges.push_back({row << 8 | 0x21, row << 8 | 0x7F});
  f.ranges.push_back({0x4F21, 0x4F54});
  for (uint32_t row = 0x50; row <= 0x73; ++row)
    f.ranges.push_back({row << 8 | 0x21, row << 8 | 0x7F});
  f.ranges.push_back({0x7421, 0x7427});
  return f;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* pOut)
{
  FILE* f = fopen(path.c_str(), "rb");
  if (!f)
    return false;
  uint8_t buf[65536];
  size_t n;
  pOut->clear();
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    pOut->insert(pOut->end(), buf, buf + n);
  fclose(f);
  return true;
}

uint32_t Be32(const unsigned char* p)
{
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

TEST(EmbeddedFontImages, MatchTheCommittedFiles)
{
  for (const FontLayout& f : {SmallLayout(), LargeLayout()}) {
    std::vector<uint8_t> file;
    std::string path = std::string(QV_SOURCE_DIR "/gfx/fonts/") + f.pName + "_font.png";
    ASSERT_TRUE(ReadFile(path, &file)) << path;
    ASSERT_EQ(file.size(), f.pngSize) << path;
    EXPECT_EQ(memcmp(file.data(), f.pPng, f.pngSize), 0) << path;
  }
}

TEST(EmbeddedFontImages, HeaderDeclaresRgba8NotInterlaced)
{
  static const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  for (const FontLayout& f : {SmallLayout(), LargeLayout()}) {
    ASSERT_GT(f.pngSize, 33u) << f.pName;
    EXPECT_EQ(memcmp(f.pPng, kSignature, 8), 0) << f.pName;
    EXPECT_EQ(Be32(f.pPng + 8), 13u) << f.pName;
    EXPECT_EQ(memcmp(f.pPng + 12, "IHDR", 4), 0) << f.pName;
    EXPECT_EQ(Be32(f.pPng + 16), f.width) << f.pName;
    EXPECT_EQ(Be32(f.pPng + 20), f.height) << f.pName;
    EXPECT_EQ(f.pPng[24], 8) << f.pName;   // bits per sample
    EXPECT_EQ(f.pPng[25], 6) << f.pName;   // RGBA
    EXPECT_EQ(f.pPng[26], 0) << f.pName;   // deflate
    EXPECT_EQ(f.pPng[27], 0) << f.pName;   // adaptive filtering
    EXPECT_EQ(f.pPng[28], 0) << f.pName;   // not interlaced
    EXPECT_EQ(memcmp(f.pPng + f.pngSize - 8, "IEND", 4), 0) << f.pName;
  }
}

// The reader the layout tests rely on: known zlib streams decode, damaged
// PNG data is refused.
TEST(FontTestPngReader, DecodesKnownStreamsAndRefusesDamage)
{
  static const uint8_t kStored[] = {0x78, 0x01, 0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c', 0x02, 0x4D, 0x01, 0x27};
  static const uint8_t kFixed[] = {0x78, 0xDA, 0x4B, 0x4C, 0x4A, 0x4E, 0x84, 0x21, 0x00, 0x1D, 0xE0, 0x04, 0x99};
  std::vector<uint8_t> out;
  ASSERT_EQ(InflateZlib(kStored, sizeof kStored, &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
  ASSERT_EQ(InflateZlib(kFixed, sizeof kFixed, &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abcabcabcabc");
  uint8_t badSum[sizeof kStored];
  memcpy(badSum, kStored, sizeof kStored);
  badSum[sizeof badSum - 1] ^= 1;
  EXPECT_EQ(InflateZlib(badSum, sizeof badSum, &out), 1);

  std::vector<uint8_t> png(s_aSmallFontPng, s_aSmallFontPng + s_aSmallFontPngSize);
  TestPng image;
  ASSERT_EQ(DecodeTestPng(png.data(), png.size(), &image), 0);
  std::vector<uint8_t> damaged = png;
  damaged[60] ^= 0x10;  // inside the IDAT data: the chunk CRC no longer fits
  EXPECT_EQ(DecodeTestPng(damaged.data(), damaged.size(), &image), 1);
  EXPECT_EQ(DecodeTestPng(png.data(), png.size() - 1, &image), 1);
}

class FontImages : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    s_small = SmallLayout();
    s_large = LargeLayout();
    s_bSmallOk = DecodeTestPng(s_small.pPng, s_small.pngSize, &s_smallImage) == 0;
    s_bLargeOk = DecodeTestPng(s_large.pPng, s_large.pngSize, &s_largeImage) == 0;
  }

  static bool Ink(const TestPng& image, uint32_t x, uint32_t y)
  {
    return image.rgba[(uint64_t(y) * image.width + x) * 4 + 3] != 0;
  }

  // Texels of one glyph box as rows of '#' and '.'.
  static std::vector<std::string> BoxRows(const FontLayout& f, const TestPng& image, uint32_t code)
  {
    std::vector<std::string> rows;
    int64_t e = f.Ordinal(code);
    if (e < 0)
      return rows;
    uint32_t x0, y0;
    f.BoxOf(uint32_t(e), &x0, &y0);
    for (uint32_t y = 0; y < 13; ++y) {
      std::string row;
      for (uint32_t x = 0; x < f.glyphWidth; ++x)
        row += Ink(image, x0 + x, y0 + y) ? '#' : '.';
      rows.push_back(row);
    }
    return rows;
  }

  // Every texel is (0,0,0,0) or (255,255,255,255), ink lies only inside the
  // glyph boxes of the font's ordinals, and each code's box has ink unless
  // it is one of the expected blanks.
  static void CheckLayout(const FontLayout& f, const TestPng& image, const std::vector<uint32_t>& blanks)
  {
    ASSERT_EQ(image.width, f.width);
    ASSERT_EQ(image.height, f.height);
    uint32_t pitch = f.glyphWidth + 1;
    uint32_t columns = (f.width - 1) / pitch;
    uint32_t count = f.GlyphCount();
    uint64_t stray = 0, mixed = 0;
    std::vector<uint32_t> inkPerOrdinal(count, 0);
    for (uint32_t y = 0; y < f.height; ++y)
      for (uint32_t x = 0; x < f.width; ++x) {
        const uint8_t* t = &image.rgba[(uint64_t(y) * f.width + x) * 4];
        bool bClear = t[0] == 0 && t[1] == 0 && t[2] == 0 && t[3] == 0;
        bool bWhite = t[0] == 255 && t[1] == 255 && t[2] == 255 && t[3] == 255;
        mixed += !bClear && !bWhite;
        if (bClear)
          continue;
        uint32_t column = x / pitch, row = y / 14;
        uint32_t ordinal = row * columns + column;
        bool bInBox = column < columns && x % pitch != 0 && y % 14 != 0 && ordinal < count;
        if (bInBox)
          inkPerOrdinal[ordinal]++;
        else
          stray++;
      }
    EXPECT_EQ(mixed, 0u) << f.pName;
    EXPECT_EQ(stray, 0u) << f.pName << ": ink in gutters or outside the glyph cells";
    for (const CodeRange& r : f.ranges)
      for (uint32_t code = r.start; code < r.end; ++code) {
        bool bBlank = std::find(blanks.begin(), blanks.end(), code) != blanks.end();
        uint32_t ink = inkPerOrdinal[uint32_t(f.Ordinal(code))];
        if (bBlank)
          EXPECT_EQ(ink, 0u) << f.pName << std::hex << " code 0x" << code;
        else
          EXPECT_GT(ink, 0u) << f.pName << std::hex << " code 0x" << code;
      }
  }

  static FontLayout s_small;
  static FontLayout s_large;
  static TestPng s_smallImage;
  static TestPng s_largeImage;
  static bool s_bSmallOk;
  static bool s_bLargeOk;
};

FontLayout FontImages::s_small;
FontLayout FontImages::s_large;
TestPng FontImages::s_smallImage;
TestPng FontImages::s_largeImage;
bool FontImages::s_bSmallOk;
bool FontImages::s_bLargeOk;

// 0x7F and 0xA0 have no glyph, space is empty; the other 157 cells carry
// ASCII and the half-width katakana U+FF61..U+FF9F.
TEST_F(FontImages, SmallFontCellsSitWhereTheGlyphTableReadsThem)
{
  ASSERT_TRUE(s_bSmallOk);
  CheckLayout(s_small, s_smallImage, {0x20, 0x7F, 0xA0});
  const std::vector<std::string> kA = {
      "......", "......", "..#...", ".#.#..", "#...#.", "#...#.", "#...#.",
      "#####.", "#...#.", "#...#.", "#...#.", "......", "......"};
  const std::vector<std::string> kKatakanaA = {  // 0xB1, U+FF71
      "......", "......", "#####.", "....#.", "....#.", "..#.#.", "..##..",
      "..#...", "..#...", ".#....", "#.....", "......", "......"};
  EXPECT_EQ(BoxRows(s_small, s_smallImage, 0x41), kA);
  EXPECT_EQ(BoxRows(s_small, s_smallImage, 0xB1), kKatakanaA);
}

// The ideographic space and the unassigned 0x2474 are the only empty cells;
// the NEC row 13 cells are filled too.
TEST_F(FontImages, LargeFontCellsSitWhereTheGlyphTableReadsThem)
{
  ASSERT_TRUE(s_bLargeOk);
  EXPECT_EQ(s_large.GlyphCount(), 6963u);
  CheckLayout(s_large, s_largeImage, {0x2121, 0x2474});
  const std::vector<std::string> kZero = {  // 0x2330, U+FF10
      "............", "............", "....###.....", "..##...##...", ".##.....##..",
      ".##.....##..", ".##.....##..", ".##.....##..", ".##.....##..", "..##...##...",
      "....###.....", "............", "............"};
  // 0x2D21, U+2460, from the 12-dot font with its baseline on the row of
  // the others (one row lower than its own top).
  const std::vector<std::string> kCircledOne = {
      "............", "............", "....#####...", "...#.....#..", "..#...#...#.",
      ".#...##....#", ".#....#....#", ".#....#....#", ".#....#....#", ".#....#....#",
      "..#.#####.#.", "...#.....#..", "....#####..."};
  const std::vector<std::string> kHiraganaA = {  // 0x2422, U+3042
      "...#........", "....#.......", "....###.....", ".####.......", "...#..#.....",
      "...#####....", "..##.#..#...", ".#.#.#...#..", ".#..#....#..", ".#.##....#..",
      "..#....##...", "............", "............"};
  EXPECT_EQ(BoxRows(s_large, s_largeImage, 0x2330), kZero);
  EXPECT_EQ(BoxRows(s_large, s_largeImage, 0x2D21), kCircledOne);
  EXPECT_EQ(BoxRows(s_large, s_largeImage, 0x2422), kHiraganaA);
  // 0x7426 ends the last range: its cell is the last one drawn.
  uint32_t x0, y0;
  s_large.BoxOf(uint32_t(s_large.Ordinal(0x7426)), &x0, &y0);
  EXPECT_EQ(s_large.Ordinal(0x7426), 6962);
  EXPECT_LE(y0 + 13, s_large.height);
}

}  // namespace
