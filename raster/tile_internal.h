// Tile stage internals shared by the general path (pixel records and the
// bound stage functions) and the text path (the built-in text stages run
// fused over compact row-major arrays).
#pragma once

#include <cstdint>
#include <cstring>

#include "raster/bin_internal.h"

struct TargetSlot {
  Surface* surface;
  int32_t loadState;
  const uint8_t* clearValue;
  uint32_t floatOffset; // into PixelRecord::target
  uint32_t floatCount;
  Converter load;  // target format -> floats
  Converter store; // floats -> target format
  int32_t x0, y0, x1, y1; // tile rectangle clipped to the surface
};

struct TileContext {
  int32_t tileX, tileY;
  int32_t rx0, ry0, rx1, ry1; // tile ∩ viewport
  uint32_t layoutCount;
  TargetSlot depth;
  TargetSlot color[kMaxColorTargets];
  SortMode::Value sortMode;
  float depthNear, depthFar;
  float tmin, tmax;
  int32_t unwritten;
  int32_t cleared;
  float clearedDepth;
  int32_t colorTouched, depthTouched;
  int32_t fast;
  EdgeStep steps[kMaxEdges];
  PixelRecord* records;
};

inline uint8_t* ElementAt(const Surface* s, int32_t x, int32_t y) {
  const SurfaceLevel& l = s->levels[0];
  if (s->layout == kLayoutLinear) return l.start + (size_t)y * l.pitch + (size_t)x * s->elementSize;
  return l.start + (size_t)s->elementSize * MortonOf((uint32_t)x, (uint32_t)y);
}

inline int32_t WholeTile(const TileContext* t, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  return x0 == t->tileX && y0 == t->tileY && x1 == t->tileX + kTileSide && y1 == t->tileY + kTileSide;
}

// A surface side as far as tiles can reach: nothing past the Morton screen.
inline int32_t ScreenClamped(uint32_t side) { return (int32_t)(side > (uint32_t)kScreenSide ? kScreenSide : side); }

// Fills the slot's clipped rectangle with its clear value.
inline void FillSlot(TargetSlot* slot) {
  if (slot->x1 <= slot->x0 || slot->y1 <= slot->y0) return;
  Region r = {(uint32_t)slot->x0, (uint32_t)slot->y0, (uint32_t)(slot->x1 - slot->x0), (uint32_t)(slot->y1 - slot->y0)};
  slot->surface->FillRegion(slot->surface, 0, &r, slot->clearValue);
}

// The value a pending depth clear puts in every pixel, as a float.
inline float ClearedDepthValue(const RenderState* s, TargetSlot* depth) {
  float v = 0;
  if (s->depthTarget->format == Fp32) memcpy(&v, depth->clearValue, 4);
  else depth->load.convertOne(&depth->load, &v, depth->clearValue);
  return v;
}

// A NaN passes Less, LessEqual and Equal and fails the others.
// What a tile does with a target before drawing, decided in one place for
// the general and the text path: a pending clear is written straight to
// the surface when nothing is drawn into the target here, else the tile
// starts from the clear value; without a clear the tile reads the surface
// when something is drawn into it.
enum TargetLoad : int32_t { kTargetUntouched, kTargetFill, kTargetClearInTile, kTargetRead };
inline int32_t TargetLoadRule(const TargetSlot* slot, int32_t drawnInto) {
  if (!slot->surface) return kTargetUntouched;
  if (slot->loadState == kClearPending) return drawnInto ? kTargetClearInTile : kTargetFill;
  return drawnInto ? kTargetRead : kTargetUntouched;
}
// Colour slot i receives fragment outputs (it is in the target layout).
inline int32_t ColorSlotMapped(const TileContext* t, uint32_t i) {
  return i < t->layoutCount && t->color[i].floatCount != 0;
}

inline int32_t DepthPasses(int32_t func, float z, float stored) {
  switch (func) {
  case CompareFunction::Never: return 0;
  case CompareFunction::Always: return 1;
  case CompareFunction::Less: return !(z >= stored);
  case CompareFunction::LessEqual: return !(z > stored);
  case CompareFunction::Equal: return !(z < stored) && !(z > stored);
  case CompareFunction::GreaterEqual: return z >= stored;
  case CompareFunction::NotEqual: return z < stored || z > stored;
  default: return z > stored; // Greater and unknown values
  }
}

// Tile-level depth decision from the triangle's depth bounds in this tile
// and what the tile holds: 0 when no pixel can pass; otherwise 1, with
// *accept = 1 when every pixel passes without a test.
inline int32_t TileDepthDecision(const TileContext* t, const TileEntry* te, int32_t func, int32_t* accept) {
  const float lo = te->zmin, hi = te->zmax;
  const int32_t U = t->unwritten, C = t->cleared;
  const float Tmin = t->tmin, Tmax = t->tmax, Zc = t->clearedDepth;
  *accept = 0;
  switch (func) {
  case CompareFunction::Never: return 0;
  case CompareFunction::Always: *accept = 1; break;
  case CompareFunction::Less:
  case CompareFunction::LessEqual:
    if (U == 0 && lo > Tmax) return 0;
    *accept = C && hi < Tmin && hi < Zc;
    break;
  case CompareFunction::Equal:
    if (U == 0 && (lo > Tmax || hi < Tmin)) return 0;
    break;
  case CompareFunction::NotEqual:
    *accept = C && U == 0 && (lo > Tmax || hi < Tmin) && (lo > Zc || hi < Zc);
    break;
  default:
    if (U == 0 && hi < Tmin) return 0;
    *accept = C && lo > Tmax && lo > Zc;
    break;
  }
  return 1;
}

// Hierarchical coverage of the 2^m square at pixel (bx, by), Morton code
// `code` within the tile: the sink gets whole blocks inside every edge and
// single covered pixels, in Morton order.
template <class Sink>
void CoverBlock(const EdgeStep* steps, Sink* sink, uint32_t code, int32_t bx, int32_t by, uint32_t m,
                EdgeList list) {
  EdgeList kept;
  if (!CrossingEdges(steps, bx, by, m, list, &kept)) return;
  if (kept == 0) {
    sink->Block(code, bx, by, m);
    return;
  }
  if (m == 1) {
    for (uint32_t i = 0; i < 4; i++) {
      int64_t px = bx + (i & 1), py = by + (i >> 1);
      int32_t inside = 1;
      for (EdgeList l = kept; l != 0 && inside; l >>= 4) inside = EdgeAt(steps[(l & 15) - 1], px, py) >= 0;
      if (inside) sink->Pixel(code + i, (int32_t)px, (int32_t)py);
    }
    return;
  }
  uint32_t quarter = 1u << (2 * m - 2);
  int32_t half = 1 << (m - 1);
  CoverBlock(steps, sink, code, bx, by, m - 1, kept);
  CoverBlock(steps, sink, code + quarter, bx + half, by, m - 1, kept);
  CoverBlock(steps, sink, code + 2 * quarter, bx, by + half, m - 1, kept);
  CoverBlock(steps, sink, code + 3 * quarter, bx + half, by + half, m - 1, kept);
}

// Text path: whether every triangle of the bin runs the built-in text stages
// into a target this path can hold; then the whole tile pass for the bin.
int32_t TextPathFits(const TileContext* t, const TileBin* bin);
void RunTextTile(TileContext* t, const RenderState* s, TileBin* bin);
