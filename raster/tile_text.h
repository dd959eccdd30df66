// Text path internals shared by the batch builder (tile_text.cpp) and the
// batch drawing, which is compiled twice: four lanes with SSE2 everywhere,
// eight with AVX2 where the processor has it (tile_text_avx2.cpp).
#pragma once

#include <cstdint>

#include "raster/tile_internal.h"

// Set bits of a 4-bit mask.
constexpr uint8_t kBitCount[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// A tile row's pixels as mask bits, lowest bit leftmost.
constexpr uint32_t kRowBits = (1u << kTileSide) - 1;
constexpr uint32_t kRowFloats = 4 * kTileSide; // a colour row of a TextTile
// Groups a tile can hold: one per four pixels, the narrowest lane type.
constexpr uint32_t kMaxGroups = kTilePixels / 4;

struct TextTile {
  alignas(32) float color[kTilePixels * 4]; // row-major, 4 floats per pixel
  alignas(32) float depth[kTilePixels];
  uint32_t unwritten[kTileSide]; // per row: pixels whose depth this pass has not written
};

// Groups of lanes of a row that have covered pixels, kept for the three
// steps of a batch (the texel reads of all of them are issued together, so
// their cache misses overlap).
struct Groups {
  uint32_t count;
  uint8_t index[kMaxGroups]; // first pixel of the group, row-major
  uint8_t live[kMaxGroups];  // lanes still drawn
  alignas(32) float z[kTilePixels];
  alignas(32) float u[kTilePixels];
  alignas(32) float v[kTilePixels];
  alignas(32) float rho[kTilePixels];
  alignas(32) float texel[4 * kTilePixels];
};

// A triangle's planes spread over eight lanes once per batch (the four-lane
// drawing reads the first four): depth, 1/w and the three coordinates the
// sampler reads (the third interpolated value is not read).
struct LanePlanes {
  alignas(32) float a[5][8];
  alignas(32) float c[5][8];
  alignas(32) float zlo[8];
  alignas(32) float zhi[8];
  float b[5];
  int32_t unitW; // 1/w is exactly 1 at every pixel: no division needed
};

// One triangle of a batch: its coverage rows and its tile-level depth
// decision.
struct BatchEntry {
  const TileEntry* te;
  int32_t test; // per-pixel depth test needed
  uint32_t rows[kTileSide];
  LanePlanes planes;
};

// Consecutive triangles of a bin with the same pipeline whose coverage in
// the tile does not overlap are drawn as one batch: each pixel is touched by
// at most one of them, so doing their pixels together leaves what doing
// them one after the other would, and the groups along a shared edge (the
// diagonal of a glyph quad, the seam between two glyphs) are worked once.
// A depth decision made before the batch holds for each of them: the
// pixels under one are not changed by the others.
constexpr uint32_t kBatchCapacity = 16;

struct Batch {
  uint32_t count;
  BatchEntry entry[kBatchCapacity];
  uint32_t covered[kTileSide]; // union of the rows
};

typedef void (*TextBatchFn)(TileContext* t, TextTile* tt, Groups* gs, const Batch* b);

void DrawTextBatch4(TileContext* t, TextTile* tt, Groups* gs, const Batch* b);
// Null when the compiler or the processor cannot run the eight-lane drawing.
TextBatchFn TextBatch8();
