// Helpers shared by set-up, binning and the tile stage.
#pragma once

#include <cstdint>
#include <cstring>

#include "raster/raster_internal.h"

inline uint32_t FloatBits(float v) {
  uint32_t bits;
  memcpy(&bits, &v, 4);
  return bits;
}

inline float BitsFloat(uint32_t bits) {
  float v;
  memcpy(&v, &bits, 4);
  return v;
}

inline int32_t IsFiniteFloat(float v) { return ((FloatBits(v) >> 23) & 0xFF) != 0xFF; }

// Block fixed point: the three values keep their common largest exponent;
// the largest keeps 14 bits and each integer is value * 2^(140 - exponent).
// Works on the bit pattern only, so NaN and huge inputs cannot trap.
// Returns the largest biased exponent.
inline int32_t ToBlockFixed(const float in[3], int32_t out[3]) {
  uint32_t bits[3];
  int32_t exponent[3];
  int32_t emax = 0;
  for (int i = 0; i < 3; i++) {
    bits[i] = FloatBits(in[i]);
    exponent[i] = (int32_t)((bits[i] >> 23) & 0xFF);
    if (exponent[i] > emax) emax = exponent[i];
  }
  for (int i = 0; i < 3; i++) {
    int32_t gap = emax - exponent[i];
    if (gap < 22 && (bits[i] & 0x7FFFFFFF) != 0) {
      int32_t v = (int32_t)(((bits[i] & 0x7FFFFF) | 0x800000) >> (gap + 10));
      out[i] = (bits[i] >> 31) ? -v : v;
    } else {
      out[i] = 0;
    }
  }
  return emax;
}

// Screen edge from a homogeneous edge (a, b, c) on integer coordinates,
// sampled at pixel centres, with the top-left tie-break.
inline EdgeEquation MakeEdge(const RenderState* s, int32_t a, int32_t b, int64_t c) {
  int64_t vw = s->viewportWidth, vh = s->viewportHeight;
  int64_t C = vh * vw * c + (int64_t)a * vh * (1 - vw - 2 * (int64_t)s->viewportX) +
              (int64_t)b * vw * (1 - vh - 2 * (int64_t)s->viewportY);
  if (a < 0 || (a == 0 && b < 0)) C -= 1;
  EdgeEquation e = {a, b, C};
  return e;
}

// Edge in the form E = A*px + B*py + C.
struct EdgeStep {
  int64_t A, B, C;
};

inline EdgeStep EdgeSteps(const RenderState* s, const EdgeEquation& e) {
  EdgeStep r = {(int64_t)e.a * 2 * s->viewportHeight, (int64_t)e.b * 2 * s->viewportWidth, e.c};
  return r;
}

inline int64_t EdgeAt(const EdgeStep& e, int64_t x, int64_t y) { return e.A * x + e.B * y + e.C; }

// Edge list of four-bit edge numbers (1-based, lowest first): the edges of
// `list` that cross the 2^m square of pixels at (bx, by), judged at its
// corners. False when the square lies wholly outside one of them.
inline bool CrossingEdges(const EdgeStep* steps, int64_t bx, int64_t by, uint32_t m, EdgeList list,
                          EdgeList* crossing) {
  const int64_t span = ((int64_t)1 << m) - 1;
  EdgeList kept = 0;
  uint32_t shift = 0;
  for (EdgeList l = list; l != 0; l >>= 4) {
    const uint32_t k = (uint32_t)(l & 15);
    if (k == 0) break;
    const EdgeStep& e = steps[k - 1];
    const int64_t e00 = EdgeAt(e, bx, by);
    const int64_t e10 = e00 + e.A * span;
    const int64_t e01 = e00 + e.B * span;
    const int64_t e11 = e10 + e.B * span;
    const int32_t negatives = (e00 < 0) + (e10 < 0) + (e01 < 0) + (e11 < 0);
    if (negatives == 4) return false;
    if (negatives != 0) {
      kept |= (EdgeList)k << shift;
      shift += 4;
    }
  }
  *crossing = kept;
  return true;
}

inline uint32_t SpreadBits(uint32_t v) {
  v &= 0xFFFF;
  v = (v | (v << 8)) & 0x00FF00FF;
  v = (v | (v << 4)) & 0x0F0F0F0F;
  v = (v | (v << 2)) & 0x33333333;
  v = (v | (v << 1)) & 0x55555555;
  return v;
}

inline uint32_t CompactBits(uint32_t v) {
  v &= 0x55555555;
  v = (v | (v >> 1)) & 0x33333333;
  v = (v | (v >> 2)) & 0x0F0F0F0F;
  v = (v | (v >> 4)) & 0x00FF00FF;
  v = (v | (v >> 8)) & 0x0000FFFF;
  return v;
}

inline uint32_t MortonOf(uint32_t x, uint32_t y) { return SpreadBits(x) | (SpreadBits(y) << 1); }
inline uint32_t MortonX(uint32_t code) { return CompactBits(code); }
inline uint32_t MortonY(uint32_t code) { return CompactBits(code >> 1); }

inline float PlaneAt(const Plane& p, float x, float y) { return p.a * x + p.b * y + p.c; }

// Order-preserving unsigned image of a float.
inline uint32_t SortKeyOf(float v) {
  uint32_t bits = FloatBits(v);
  return bits ^ ((bits >> 31) ? 0xFFFFFFFFu : 0x80000000u);
}

// An unordered comparison (NaN alpha or reference) counts as below and
// equal: Less, LessEqual and Equal pass, the others fail.
inline int32_t AlphaPasses(int32_t compare, float a, float reference) {
  bool unordered = a != a || reference != reference;
  switch (compare) {
    case CompareFunction::Never:
      return 0;
    case CompareFunction::Less:
      return unordered || a < reference;
    case CompareFunction::LessEqual:
      return unordered || a <= reference;
    case CompareFunction::Equal:
      return unordered || a == reference;
    case CompareFunction::Greater:
      return !unordered && a > reference;
    case CompareFunction::GreaterEqual:
      return !unordered && a >= reference;
    case CompareFunction::NotEqual:
      return !unordered && a != reference;
    default: // Always, and anything out of range blends unconditionally
      return 1;
  }
}

// Fast-path switch of the tile stage (test hook).
extern std::atomic<int32_t> s_tileFastPaths; // 0 while a test has them off

// Bin region allocation: a block of size bytes (a multiple of 8), running an
// intermediate tile pass when the region is full. Null only when the block
// could never fit. Every non-null block must be committed once written.
uint8_t* BinAllocate(TileBinner* binner, uint64_t size);
void BinCommit(TileBinner* binner, uint64_t size);

// A triangle's position in the frame's queue.
inline uint32_t QueuePositionOf(const TileBinner* b, const TriangleRecord* t) { return (uint32_t)(t - b->queueBase); }

// Full-region bookkeeping of the set-up jobs in flight (with the region's
// wrap in bin_binner.cpp, which alone rewinds them): the lowest queue
// position not yet binned, and the rewind of every job past it (their
// binned triangles beyond it are lost with the region).
uint32_t LowestUnbinnedPosition(const TileBinner* binner);
void RewindSetupJobs(TileBinner* binner, uint32_t limit);
