// The JIS X 0208 to Unicode table of the large font: known cells as in code
// page 932, contiguous kana rows, NEC duplicates, complete kanji rows, and
// zero for undefined codes.
#include <gtest/gtest.h>

#include "gfx/fonts/jis0208_table.h"

namespace {

struct JisSample {
  uint32_t jis;
  uint16_t unicode;
};

// Cells where code page 932 departs from the plain JIS X 0208 mapping, the
// NEC row 13 characters, and cells of every kind of row.
TEST(Jis0208Table, KnownCellsMapAsCodePage932)
{
  static const JisSample kSamples[] = {
      {0x2140, 0xFF3C}, {0x2141, 0xFF5E}, {0x215D, 0xFF0D}, {0x2171, 0xFFE0},  // Microsoft's choices
      {0x2142, 0x2225}, {0x213D, 0x2015}, {0x2172, 0xFFE1}, {0x224C, 0xFFE2},
      {0x2D21, 0x2460}, {0x2D34, 0x2473}, {0x2D35, 0x2160}, {0x2D3E, 0x2169},  // NEC row 13
      {0x2D40, 0x3349}, {0x2D62, 0x2116}, {0x2D6A, 0x3231}, {0x2D79, 0x22BF},
      {0x2121, 0x3000}, {0x2122, 0x3001}, {0x2330, 0xFF10}, {0x2341, 0xFF21},
      {0x2361, 0xFF41}, {0x2621, 0x0391}, {0x2641, 0x03B1}, {0x2721, 0x0410},
      {0x2751, 0x0430}, {0x2821, 0x2500}, {0x3021, 0x4E9C}, {0x306C, 0x4E00},
      {0x4F53, 0x8155}, {0x5021, 0x5F0C}, {0x7424, 0x7464}, {0x7425, 0x51DC},
      {0x7426, 0x7199},
  };
  for (const JisSample& s : kSamples)
    EXPECT_EQ(JisToUnicode(s.jis), s.unicode) << std::hex << "jis 0x" << s.jis;
}

// Hiragana and katakana rows follow Unicode's order cell by cell.
TEST(Jis0208Table, KanaRowsAreContiguous)
{
  for (uint32_t cell = 0x21; cell <= 0x73; ++cell)
    EXPECT_EQ(JisToUnicode(0x2400 | cell), 0x3041u + (cell - 0x21)) << std::hex << cell;
  for (uint32_t cell = 0x21; cell <= 0x76; ++cell)
    EXPECT_EQ(JisToUnicode(0x2500 | cell), 0x30A1u + (cell - 0x21)) << std::hex << cell;
}

// The NEC row 13 copies of row 2 mathematical symbols share their code
// points, as code page 932 decodes them.
TEST(Jis0208Table, NecDuplicatesShareRowTwoCodePoints)
{
  static const uint32_t kPairs[][2] = {
      {0x2D70, 0x2262}, {0x2D71, 0x2261}, {0x2D72, 0x2269}, {0x2D75, 0x2265},
      {0x2D76, 0x225D}, {0x2D77, 0x225C}, {0x2D7A, 0x2268}, {0x2D7B, 0x2241}, {0x2D7C, 0x2240},
  };
  for (const auto& p : kPairs) {
    EXPECT_NE(JisToUnicode(p[0]), 0u);
    EXPECT_EQ(JisToUnicode(p[0]), JisToUnicode(p[1])) << std::hex << p[0];
  }
}

TEST(Jis0208Table, UndefinedAndOutOfRangeCodesGiveZero)
{
  static const uint32_t kCodes[] = {
      0x2474, 0x2D3F, 0x2D57, 0x2D5E, 0x2D7D, 0x222F, 0x4F54, 0x7427,  // unassigned cells
      0x2120, 0x217F, 0x2100, 0x20FF, 0x7F21, 0xFF21, 0x0041, 0x0000,  // not row-cell codes
      0x12121, 0xFFFFFFFF,
  };
  for (uint32_t c : kCodes)
    EXPECT_EQ(JisToUnicode(c), 0u) << std::hex << "jis 0x" << c;
}

// Both kanji levels are complete (level 1 ends at 0x4F53, level 2 fills
// rows 0x50 to 0x73) and hold unified ideographs only.
TEST(Jis0208Table, KanjiRowsAreComplete)
{
  for (uint32_t row = 0x30; row <= 0x73; ++row)
    for (uint32_t cell = 0x21; cell <= 0x7E; ++cell) {
      if (row == 0x4F && cell >= 0x54)
        continue;
      uint16_t u = JisToUnicode(row << 8 | cell);
      EXPECT_TRUE(u >= 0x4E00 && u <= 0x9FFF) << std::hex << (row << 8 | cell) << " -> " << u;
    }
}

}  // namespace
