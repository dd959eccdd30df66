// The two fonts' layout, written from the layout rules: which code sits in
// which cell of which image, and the texture coordinates of that cell.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "gfx/fonts/jis0208_table.h"
#include "gfx/text.h"

struct ModelFont {
  uint32_t width, height, cell;
  std::vector<CodeRange> ranges;
};

inline ModelFont SmallModel() { return {128, 128, 6, {{0x20, 0x80}, {0xA0, 0xE0}}}; }

inline ModelFont LargeModel() {
  ModelFont f = {1024, 2048, 12, {}};
  const char* listed = "2121-217F 2221-222F 223A-2242 224A-2251 225C-226B 2272-227A 227E-227F 2330-233A "
                       "2341-235B 2361-237B 2421-2474 2474-2475 2521-2577 2621-2639 2641-2659 2721-2742 "
                       "2751-2772 2821-2841 2D21-2D3F 2D40-2D57 2D5F-2D7D";
  for (const char* p = listed; *p;) {
    char* end;
    uint32_t a = uint32_t(strtoul(p, &end, 16));
    uint32_t b = uint32_t(strtoul(end + 1, &end, 16));
    f.ranges.push_back({a, b});
    p = *end ? end + 1 : end;
  }
  for (uint32_t row = 0x30; row <= 0x73; ++row) {
    if (row == 0x4F) f.ranges.push_back({0x4F21, 0x4F54});
    else f.ranges.push_back({row * 256 + 0x21, row * 256 + 0x7F});
  }
  f.ranges.push_back({0x7421, 0x7427});
  return f;
}

struct Corners {
  float u0, u1, vTop, vBottom;
};

// Texel of the top left of the glyph of code (inside the cell's gutter).
inline bool ModelCell(const ModelFont& f, uint32_t code, uint32_t* x, uint32_t* y) {
  int64_t ordinal = -1, before = 0;
  for (const CodeRange& r : f.ranges) {
    if (code >= r.start && code < r.end) {
      ordinal = before + (code - r.start);
      break;
    }
    before += r.end - r.start;
  }
  if (ordinal < 0) return false;
  uint32_t columns = (f.width - 1) / (f.cell + 1);
  *x = uint32_t((f.cell + 1) * (ordinal % columns) + 1);
  *y = uint32_t(14 * (ordinal / columns) + 1);
  return true;
}

inline bool ModelCorners(const ModelFont& f, uint32_t code, Corners* out) {
  uint32_t x, y;
  if (!ModelCell(f, code, &x, &y)) return false;
  out->u0 = float(2.0 * x / f.width - 1);
  out->u1 = float(2.0 * (x + f.cell) / f.width - 1);
  out->vTop = float(1 - 2.0 * y / f.height);
  out->vBottom = float(1 - 2.0 * (y + 13) / f.height);
  return true;
}

inline uint32_t ModelCodePoint(uint32_t code) {
  if (code < 0x80) return code;
  if (code >= 0xA1 && code <= 0xDF) return 0xFF61 + (code - 0xA1);
  if (code >= 0x2121) return JisToUnicode(code);
  return 0;
}

struct ModelGlyph {
  uint32_t font; // 0 small, 1 large
  uint32_t code;
};

// Code point -> the font code whose glyph the table holds (the later
// registration wins where two codes share a code point).
inline std::map<uint32_t, ModelGlyph> ModelTable() {
  const ModelFont fonts[2] = {SmallModel(), LargeModel()};
  const uint32_t spans[2][2] = {{0, 0x100}, {0x2121, 0x7427}};
  std::map<uint32_t, ModelGlyph> table;
  for (uint32_t f = 0; f < 2; ++f)
    for (uint32_t code = spans[f][0]; code < spans[f][1]; ++code) {
      uint32_t x, y;
      if (ModelCell(fonts[f], code, &x, &y)) table[ModelCodePoint(code)] = {f, code};
    }
  return table;
}
