// Glyph table and printer: every registered glyph against a model built
// from the font layout rules, a few corners worked out by hand, and the
// records the printer leaves in the command stream.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "gfx/text.h"
#include "tests/gfx/text_capture.h"
#include "tests/gfx/text_model.h"

namespace {

void ExpectGlyph(const Glyph* g, const Surface* image, const Corners& c, float advance) {
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->image, image);
  const float expected[4][2] = {{c.u0, c.vTop}, {c.u1, c.vTop}, {c.u0, c.vBottom}, {c.u1, c.vBottom}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(g->corners[i][0], expected[i][0]) << "corner " << i;
    EXPECT_EQ(g->corners[i][1], expected[i][1]) << "corner " << i;
    EXPECT_EQ(g->corners[i][2], 1.0f);
    EXPECT_EQ(g->corners[i][3], 1.0f);
  }
  EXPECT_EQ(g->offsetX, 0.0f);
  EXPECT_EQ(g->offsetY, 0.0f);
  EXPECT_EQ(g->advance, advance);
  EXPECT_EQ(g->height, 13.0f);
}

class TextTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(InitializeText(nullptr), 0); }
  static void TearDownTestSuite() { ReleaseText(); }
  void SetUp() override { c = NewCaptureContext(); }
  void TearDown() override { DeleteCaptureContext(c); }
  QvGfxContext* c = nullptr;
};

TEST_F(TextTest, EveryTableEntryMatchesTheLayoutRules) {
  const ModelFont fonts[2] = {SmallModel(), LargeModel()};
  const uint32_t spans[2][2] = {{0, 0x100}, {0x2121, 0x7427}};
  struct Expect {
    uint32_t font;
    Corners corners;
  };
  std::map<uint32_t, Expect> expected; // later registrations replace earlier ones
  uint32_t registered[2] = {0, 0};
  for (uint32_t f = 0; f < 2; ++f) {
    for (uint32_t code = spans[f][0]; code < spans[f][1]; ++code) {
      Corners k;
      if (!ModelCorners(fonts[f], code, &k)) continue;
      registered[f]++;
      expected[ModelCodePoint(code)] = {f, k};
    }
  }
  EXPECT_EQ(registered[0], 160u);
  EXPECT_EQ(registered[1], 6963u);
  const GlyphTable* table = TextGlyphTable();
  for (uint32_t cp = 1; cp < kGlyphTableEntries; ++cp) {
    auto it = expected.find(cp);
    if (it == expected.end()) {
      EXPECT_EQ(table->glyphs[cp], nullptr) << std::hex << cp;
      continue;
    }
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << cp);
    ExpectGlyph(table->glyphs[cp], TextFontImage(it->second.font), it->second.corners, it->second.font ? 12.0f : 6.0f);
  }
  EXPECT_EQ(TextFont()->table, table);
  EXPECT_EQ(TextFont()->entryCount, 65536u);
  EXPECT_EQ(TextFont()->lineAdvance, 13.0f);
}

TEST_F(TextTest, CornersWorkedOutByHand) {
  const GlyphTable* t = TextGlyphTable();
  // 'A': ordinal 33 -> column 15, row 1 of 18 columns; cell (105, 14).
  ExpectGlyph(t->glyphs[0x41], TextFontImage(0), {0.65625f, 0.75f, 0.765625f, 0.5625f}, 6);
  // Half-width katakana A (code 0xB1): ordinal 113 -> column 5, row 6.
  ExpectGlyph(t->glyphs[0xFF71], TextFontImage(0), {-0.4375f, -0.34375f, -0.328125f, -0.53125f}, 6);
  // U+4E9C (JIS 0x3021): 608 glyphs before row 0x30 -> column 62, row 7.
  ExpectGlyph(t->glyphs[0x4E9C], TextFontImage(1), {0.576171875f, 0.599609375f, 0.9033203125f, 0.890625f}, 12);
  // U+2460 (JIS 0x2D21): ordinal 525 -> column 57, row 6.
  ExpectGlyph(t->glyphs[0x2460], TextFontImage(1), {0.44921875f, 0.47265625f, 0.9169921875f, 0.904296875f}, 12);
  // Code page 932's choices for ambiguous cells.
  EXPECT_NE(t->glyphs[0xFF3C], nullptr);
  EXPECT_NE(t->glyphs[0xFF5E], nullptr);
  EXPECT_NE(t->glyphs[0x3349], nullptr);
  EXPECT_EQ(t->glyphs[0x00E9], nullptr);
}

TEST_F(TextTest, SamplerAndVertexConstants) {
  const Sampler* s = TextSampler();
  uint32_t words[14];
  memcpy(words, s, sizeof(words));
  const uint32_t expected[14] = {1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(words[i], expected[i]) << i;
  const float m[16] = {2.0f / 320, 0, 0, 0, 0, -2.0f / 240, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(TextVertexConstants()[i], m[i]) << i;
}

// ---- Recorded commands ------------------------------------------------------------
struct Vertex {
  float p[4], t[4];
};

struct Draw {
  FontFsConstants constants;
  uint64_t constantsAlignment;
  std::vector<Vertex> vertices;
  std::vector<uint32_t> indices;
  uint32_t indexCount;
};

// Checks the seven records of every batch and gathers the draws.
std::vector<Draw> Draws(const std::vector<Captured>& log) {
  std::vector<Draw> draws;
  for (size_t i = 3; i < log.size(); i += 7) {
    if (log.size() < i + 7) {
      ADD_FAILURE() << "incomplete batch at record " << i;
      break;
    }
    const int32_t kinds[7] = {kTextSetFragmentConstants, kTextSetVertexStream, kTextSetVertexElement, kTextSetVertexElement,
                              kTextSetIndexData,         kTextSetTopology,     kTextDrawIndexed};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(log[i + k].kind, kinds[k]) << "record " << i + k;
    Draw d = {};
    EXPECT_EQ(log[i].data.size(), 32u);
    memcpy(&d.constants, log[i].data.data(), std::min<size_t>(32, log[i].data.size()));
    d.constantsAlignment = log[i].alignment;
    EXPECT_EQ(log[i + 1].word, 0u);
    d.vertices.resize(log[i + 1].data.size() / 32);
    memcpy(d.vertices.data(), log[i + 1].data.data(), d.vertices.size() * 32);
    const VertexElement e0 = {0, 0, 32, AttributeType::AttrFloat32, 4}, e1 = {0, 16, 32, AttributeType::AttrFloat32, 4};
    EXPECT_EQ(log[i + 2].word, 0u);
    EXPECT_EQ(memcmp(&log[i + 2].element, &e0, sizeof(e0)), 0);
    EXPECT_EQ(log[i + 3].word, 1u);
    EXPECT_EQ(memcmp(&log[i + 3].element, &e1, sizeof(e1)), 0);
    EXPECT_EQ(log[i + 4].indexFormat, 1);
    d.indices.resize(log[i + 4].data.size() / 4);
    memcpy(d.indices.data(), log[i + 4].data.data(), d.indices.size() * 4);
    EXPECT_EQ(log[i + 5].word, 4u);
    d.indexCount = log[i + 6].word;
    EXPECT_EQ(d.indexCount, d.indices.size());
    EXPECT_EQ(d.vertices.size() * 6, d.indices.size() * 4);
    draws.push_back(d);
  }
  return draws;
}

void ExpectSetUpRecords(const std::vector<Captured>& log) {
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0].kind, kTextBindVertexStage);
  EXPECT_EQ(log[0].pointer, &FontVs);
  EXPECT_EQ(log[1].kind, kTextBindFragmentStage);
  EXPECT_EQ(log[1].pointer, &FontFs);
  EXPECT_EQ(log[2].kind, kTextSetVertexConstants);
  EXPECT_EQ(log[2].alignment, 4u);
  ASSERT_EQ(log[2].data.size(), 64u);
  EXPECT_EQ(memcmp(log[2].data.data(), TextVertexConstants(), 64), 0);
}

// Quad q of a draw: its four vertices span [left, left + w] x [top, top + 13]
// with the corners of glyph g, and its six indices follow the quad pattern.
void ExpectQuad(const Draw& d, uint32_t q, float left, float top, const Glyph* g, const float* position) {
  ASSERT_LT(q * 4 + 3, d.vertices.size());
  const float xs[4] = {left, left + g->advance, left, left + g->advance};
  const float ys[4] = {top, top, top + 13, top + 13};
  for (uint32_t i = 0; i < 4; ++i) {
    const Vertex& v = d.vertices[q * 4 + i];
    EXPECT_EQ(v.p[0], xs[i]) << "quad " << q << " vertex " << i;
    EXPECT_EQ(v.p[1], ys[i]) << "quad " << q << " vertex " << i;
    EXPECT_EQ(v.p[2], position[2]);
    EXPECT_EQ(v.p[3], position[3]);
    EXPECT_EQ(memcmp(v.t, g->corners[i], 16), 0) << "quad " << q << " vertex " << i;
  }
  const uint32_t k = q * 4, pattern[6] = {k, k + 2, k + 1, k + 1, k + 2, k + 3};
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(d.indices[q * 6 + i], pattern[i]);
}

const float kPosition[4] = {10.0f, 20.0f, 0.5f, 1.0f};
const float kColour[4] = {1.0f, 0.5f, 0.25f, 0.75f};

std::vector<Captured> Print(QvGfxContext* c, const char* text, int32_t expectedResult = 0) {
  EXPECT_EQ(DrawText(c, TextFont(), TextSampler(), TextVertexConstants(), kPosition, kColour, text), expectedResult)
      << text;
  return TakeCaptured(c);
}

const Glyph* G(uint32_t cp) { return TextGlyphTable()->glyphs[cp]; }

TEST_F(TextTest, TwoLettersAtTenTwenty) {
  std::vector<Captured> log = Print(c, "AB");
  ExpectSetUpRecords(log);
  ASSERT_EQ(log.size(), 10u);
  std::vector<Draw> draws = Draws(log);
  ASSERT_EQ(draws.size(), 1u);
  const Draw& d = draws[0];
  EXPECT_EQ(d.constants.texture, TextFontImage(0));
  EXPECT_EQ(d.constants.sampler, TextSampler());
  EXPECT_EQ(memcmp(d.constants.colour, kColour, 16), 0);
  EXPECT_EQ(d.constantsAlignment, 8u);
  EXPECT_EQ(d.indexCount, 12u);
  ExpectQuad(d, 0, 10, 20, G('A'), kPosition); // [10, 16] x [20, 33]
  ExpectQuad(d, 1, 16, 20, G('B'), kPosition); // [16, 22] x [20, 33]
}

TEST_F(TextTest, LineFeedsAndCarriageReturns) {
  for (const char* text : {"A\nB", "A\r\nB", "\rA\n\rB\r"}) {
    std::vector<Draw> draws = Draws(Print(c, text));
    ASSERT_EQ(draws.size(), 1u);
    ASSERT_EQ(draws[0].vertices.size(), 8u);
    ExpectQuad(draws[0], 0, 10, 20, G('A'), kPosition);
    ExpectQuad(draws[0], 1, 10, 33, G('B'), kPosition);
  }
  std::vector<Draw> draws = Draws(Print(c, "\n\nxy"));
  ExpectQuad(draws.at(0), 1, 16, 46, G('y'), kPosition);
}

TEST_F(TextTest, MissingGlyphsDrawTheQuestionMark) {
  // U+00E9, U+FFFD (no glyph) and U+1F600 (beyond the table).
  std::vector<Draw> draws = Draws(Print(c, "\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80"));
  ASSERT_EQ(draws.size(), 1u);
  for (uint32_t q = 0; q < 3; ++q) ExpectQuad(draws[0], q, 10.0f + 6 * q, 20, G('?'), kPosition);
  // A font with fewer entries looks nothing up past its end.
  Font narrow = {TextGlyphTable(), 64, 13.0f};
  EXPECT_EQ(DrawText(c, &narrow, TextSampler(), TextVertexConstants(), kPosition, kColour, "A?"), 0);
  draws = Draws(TakeCaptured(c));
  ExpectQuad(draws.at(0), 0, 10, 20, G('?'), kPosition);
  ExpectQuad(draws.at(0), 1, 16, 20, G('?'), kPosition);
}

TEST_F(TextTest, SixtyFiveLettersMakeTwoDraws) {
  std::string text(65, 'x');
  std::vector<Draw> draws = Draws(Print(c, text.c_str()));
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].indexCount, 384u);
  EXPECT_EQ(draws[1].indexCount, 6u);
  ExpectQuad(draws[0], 63, 10 + 63 * 6, 20, G('x'), kPosition);
  ExpectQuad(draws[1], 0, 10 + 64 * 6, 20, G('x'), kPosition);
  // Exactly 64 make one draw.
  text.resize(64);
  EXPECT_EQ(Draws(Print(c, text.c_str())).size(), 1u);
}

TEST_F(TextTest, FontChangesSplitBatches) {
  // a, U+4E9C, b, U+4E9C U+4E9C, c
  std::vector<Draw> draws = Draws(Print(c, "a\xE4\xBA\x9C" "b\xE4\xBA\x9C\xE4\xBA\x9C" "c"));
  ASSERT_EQ(draws.size(), 5u);
  const uint32_t images[5] = {0, 1, 0, 1, 0};
  const uint32_t quads[5] = {1, 1, 1, 2, 1};
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(draws[i].constants.texture, TextFontImage(images[i])) << i;
    EXPECT_EQ(draws[i].vertices.size(), quads[i] * 4) << i;
  }
  ExpectQuad(draws[0], 0, 10, 20, G('a'), kPosition);
  ExpectQuad(draws[1], 0, 16, 20, G(0x4E9C), kPosition);
  ExpectQuad(draws[2], 0, 28, 20, G('b'), kPosition);
  ExpectQuad(draws[3], 0, 34, 20, G(0x4E9C), kPosition);
  ExpectQuad(draws[3], 1, 46, 20, G(0x4E9C), kPosition);
  ExpectQuad(draws[4], 0, 58, 20, G('c'), kPosition);
}

TEST_F(TextTest, Utf8DecodingRules) {
  // Invalid sequences end the call; what was batched is not drawn.
  for (const char* bad : {"\xC3", "AB\xC3", "\x80", "A\xBF", "\xF8\x80\x80\x80", "\xFF", "\xE4\xBA", "\xF0\x9F\x98"}) {
    std::vector<Captured> log = Print(c, bad, 1);
    ExpectSetUpRecords(log);
    EXPECT_EQ(log.size(), 3u) << bad;
  }
  // Continuation bytes are only checked for zero: their top bits are ignored,
  // and overlong forms decode to the same code point.
  for (const char* same : {"\xC1\xA1", "\xC1\x21", "\xC1\xE1", "\xE0\x81\xA1", "\xF0\x80\x81\xA1"}) {
    std::vector<Draw> draws = Draws(Print(c, same));
    ASSERT_EQ(draws.size(), 1u) << same;
    ASSERT_EQ(draws[0].vertices.size(), 4u);
    ExpectQuad(draws[0], 0, 10, 20, G('a'), kPosition);
  }
  for (const char* same : {"\xC0\xA1", "\xC0\xE1", "\xC0\x61", "\xE0\xC0\xE1"}) {
    std::vector<Draw> draws = Draws(Print(c, same));
    ASSERT_EQ(draws.size(), 1u) << same;
    ExpectQuad(draws[0], 0, 10, 20, G('!'), kPosition);
  }
  // A two-byte zero ends the text like the terminator.
  std::vector<Draw> draws = Draws(Print(c, "x\xC0\x80y"));
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].vertices.size(), 4u);
  // Empty text still binds the stages and constants.
  EXPECT_EQ(Print(c, "").size(), 3u);
}

TEST_F(TextTest, PrintTextFormatsAndTruncates) {
  EXPECT_EQ(PrintText(c, kPosition, kColour, "%d-%s", 42, "ab"), 0);
  std::vector<Captured> printed = TakeCaptured(c);
  std::vector<Captured> direct = Print(c, "42-ab");
  ASSERT_EQ(printed.size(), direct.size());
  for (size_t i = 0; i < printed.size(); ++i) EXPECT_EQ(printed[i].data, direct[i].data) << i;

  // 20000 characters keep 16383: 255 full batches and one of 63 quads,
  // more than the ring holds at once.
  std::string text(20000, 'm');
  EXPECT_EQ(PrintText(c, kPosition, kColour, "%s", text.c_str()), 0);
  std::vector<Draw> draws = Draws(TakeCaptured(c));
  ASSERT_EQ(draws.size(), 256u);
  EXPECT_EQ(draws.back().indexCount, 63u * 6);
  ExpectQuad(draws.back(), 62, 10 + 16382 * 6, 20, G('m'), kPosition);
}

} // namespace
