// Debug text: two bitmap fonts cut from the embedded PNG images into one
// glyph table indexed by code point, and a printf-style printer that records
// textured quads (batched per font image) through the command stream.
// Positions are on the 320 x 240 logical screen, origin top left, y down.
#pragma once

#include <cstdint>

#include "format/format.h"
#include "gfx/gfx_limits.h"
#include "runtime/runtime.h"

struct QvGfxContext;

struct Glyph {
  Surface* image;
  // Top left, top right, bottom left, bottom right: {u, v, 1, 1} with u and
  // v in -1 .. 1 (v = 1 at the top of the image).
  float corners[4][4];
  float offsetX;
  float offsetY;
  float advance; // also the quad's width
  float height;
};
static_assert(sizeof(Glyph) == 88, "glyph record is 88 bytes");

constexpr uint32_t kGlyphTableEntries = 65536;
constexpr uint32_t kGlyphPoolSize = 7123; // 160 small + 6963 large
constexpr uint32_t kQuestionMark = 63;    // drawn for code points without a glyph

struct GlyphTable {
  Glyph* glyphs[kGlyphTableEntries]; // null: no glyph
};

struct Font {
  const GlyphTable* table;
  uint32_t entryCount;
  float lineAdvance;
};

// [start, end) of font codes.
struct CodeRange {
  uint32_t start;
  uint32_t end;
};

// Registers the glyphs of codes [firstCode, endCode) that lie in the ranges,
// cutting cells of cellWidth x 13 texels (plus a one-texel gutter) from image,
// into the process-wide pool from poolIndex on and into the glyph table.
// Returns the next free pool index (registration stops when the pool is full).
uint32_t BuildGlyphs(Surface* image, uint32_t firstCode, uint32_t endCode, const CodeRange* ranges,
                     uint32_t rangeCount, uint32_t cellWidth, uint32_t poolIndex);

// Start-up: loads the two font images, clears the glyph table, builds both
// fonts' glyphs and sets the printer's font and sampler. 0 when both images
// loaded, 1 otherwise (text of a missing font falls back to "?", or to
// nothing when the small font is missing). Main thread, before any PrintText.
int32_t InitializeText(QvGfxContext* context);
// Shut-down, after Finish: frees the two font textures and clears the table.
void ReleaseText();

// position: x, y, z, w on the logical screen; colour: r, g, b, a multiplied
// into the sampled texels. 0, or 1 when the formatted text is not valid UTF-8.
// Main thread only.
int32_t PrintText(QvGfxContext* context, const float position[4], const float colour[4], const char* format, ...)
    QV_PRINTF(4, 5);
// Records an already formatted, NUL-terminated string. vertexConstants holds
// the 16 floats FontVs reads.
int32_t DrawText(QvGfxContext* context, const Font* font, const Sampler* sampler, const float* vertexConstants,
                 const float position[4], const float colour[4], const char* text);

// The printer's fixed state, for the tests and the start-up code.
const Font* TextFont();
const Sampler* TextSampler();
const float* TextVertexConstants(); // 16 floats
GlyphTable* TextGlyphTable();
Surface* TextFontImage(uint32_t index); // 0 small, 1 large
