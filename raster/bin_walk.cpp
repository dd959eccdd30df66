// Hierarchical walk over Morton-ordered blocks of the viewport block.
#include "raster/bin_internal.h"

namespace {

struct Walk {
  EdgeStep steps[kMaxEdges];
  uint32_t end;
  TileEmitFn emit;
  void* user;
  uint32_t count;
};

void WalkBlock(Walk* w, uint32_t code, int64_t bx, int64_t by, uint32_t m, EdgeList list) {
  if (code >= w->end) return;
  EdgeList kept;
  if (!CrossingEdges(w->steps, bx, by, m, list, &kept)) return;
  if (kept == 0 || m == kTileSideBits) {
    uint32_t codes = 1u << (2 * m);
    for (uint32_t c = code; c < code + codes && c < w->end; c += kTilePixels) {
      w->emit(w->user, c, kept);
      w->count++;
    }
    return;
  }
  uint32_t quarter = 1u << (2 * m - 2);
  int64_t half = (int64_t)1 << (m - 1);
  WalkBlock(w, code, bx, by, m - 1, kept);
  WalkBlock(w, code + quarter, bx + half, by, m - 1, kept);
  WalkBlock(w, code + 2 * quarter, bx, by + half, m - 1, kept);
  WalkBlock(w, code + 3 * quarter, bx + half, by + half, m - 1, kept);
}

constexpr int64_t kDirectTiles = 16;

// Floor and ceiling of n / d for d > 0.
inline int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }
inline int64_t CeilDiv(int64_t n, int64_t d) { return -FloorDiv(-n, d); }

// The listed edges' steps, made once: indexed by edge number for the block
// walk, and in list order (with their numbers) for the rest.
struct ListedEdges {
  EdgeStep steps[kMaxEdges];
  EdgeList numbers[kMaxEdges];
  uint32_t count;
};

inline void ListEdges(const RenderState* s, const EdgeEquation* edges, EdgeList list, Walk* w, ListedEdges* out) {
  uint32_t n = 0;
  for (EdgeList l = list; l != 0 && n < kMaxEdges; l >>= 4) {
    const uint32_t k = (uint32_t)(l & 15);
    if (k == 0) break;
    w->steps[k - 1] = out->steps[n] = EdgeSteps(s, edges[k - 1]);
    out->numbers[n++] = k;
  }
  out->count = n;
}

// Pixel rectangle [x0, x1] x [y0, y1] of whole tiles.
struct TileRect {
  int64_t x0, y0, x1, y1;
};

// A tile wholly outside one edge is never emitted, so the axis-aligned edges
// (a triangle's bounds) limit the tiles to a rectangle; the walk can start
// from the smallest aligned block around it and gives the same tiles with
// the same edge lists, without descending from the whole viewport. False
// when no tile is left.
inline bool BoundTiles(const RenderState* s, const ListedEdges* le, TileRect* r) {
  const int64_t side = (int64_t)1 << s->blockLevel;
  const int64_t usedRows = (int64_t)(s->tileEnd - s->tileFirst) >> s->blockLevel;
  int64_t x0 = s->blockX, x1 = s->blockX + side - 1, y0 = s->blockY, y1 = s->blockY + usedRows - 1;
  for (uint32_t i = 0; i < le->count; i++) {
    const EdgeStep& e = le->steps[i];
    int64_t bound;
    if (e.B == 0 && e.A > 0) {
      if ((bound = CeilDiv(-e.C, e.A)) > x0) x0 = bound;
    } else if (e.B == 0 && e.A < 0) {
      if ((bound = FloorDiv(e.C, -e.A)) < x1) x1 = bound;
    } else if (e.A == 0 && e.B > 0) {
      if ((bound = CeilDiv(-e.C, e.B)) > y0) y0 = bound;
    } else if (e.A == 0 && e.B < 0) {
      if ((bound = FloorDiv(e.C, -e.B)) < y1) y1 = bound;
    }
  }
  // Whole tiles holding a pixel on the inside of every such edge.
  const int64_t inTile = kTileSide - 1;
  x0 &= ~inTile, y0 &= ~inTile;
  x1 |= inTile, y1 |= inTile;
  *r = TileRect{x0, y0, x1, y1};
  return x0 <= x1 && y0 <= y1;
}

// A few tiles (a glyph's triangle covers two to nine): each tested on its
// own against every edge, then emitted in code order. A tile's crossing
// edges are the same whether found from the top or on their own: an edge
// that leaves a block wholly inside or outside does so for its tiles.
inline uint32_t WalkFewTiles(const ListedEdges* le, const TileRect& r, uint32_t end, TileEmitFn emit, void* user) {
  // Each edge steps across the rectangle tile by tile. A tile is outside an
  // edge when its largest corner value is negative and crosses it when its
  // smallest is: the same test as the four corners one by one.
  struct Stepped {
    int64_t row, stepX, stepY, lo, hi;
    EdgeList k;
  };
  const int64_t inTile = kTileSide - 1;
  Stepped e[kMaxEdges];
  const uint32_t edgeCount = le->count;
  for (uint32_t i = 0; i < edgeCount; i++) {
    const EdgeStep& st = le->steps[i];
    Stepped& se = e[i];
    const int64_t ax = st.A * inTile, by = st.B * inTile;
    se.row = EdgeAt(st, r.x0, r.y0);
    se.stepX = st.A * kTileSide;
    se.stepY = st.B * kTileSide;
    se.lo = (ax < 0 ? ax : 0) + (by < 0 ? by : 0);
    se.hi = (ax > 0 ? ax : 0) + (by > 0 ? by : 0);
    se.k = le->numbers[i];
  }
  uint32_t codes[kDirectTiles];
  EdgeList kept[kDirectTiles];
  uint32_t n = 0;
  for (int64_t ty = r.y0; ty <= r.y1; ty += kTileSide) {
    // The code of the next tile along the row: kTileSide added to the x
    // bits, whose Morton code is 1 << kTileCodeBits.
    uint32_t code = MortonOf((uint32_t)r.x0, (uint32_t)ty);
    for (int64_t j = 0, tx = r.x0; tx <= r.x1; tx += kTileSide, j++,
                 code = (((code | 0xAAAAAAAAu) + (1u << kTileCodeBits)) & 0x55555555u) | (code & 0xAAAAAAAAu)) {
      if (code >= end) continue;
      EdgeList crossing = 0;
      uint32_t shift = 0, i = 0;
      for (; i < edgeCount; i++) {
        const int64_t v = e[i].row + e[i].stepX * j;
        if (v + e[i].hi < 0) break;
        if (v + e[i].lo < 0) {
          crossing |= e[i].k << shift;
          shift += 4;
        }
      }
      if (i < edgeCount) continue;
      uint32_t at = n++;
      for (; at > 0 && codes[at - 1] > code; at--) {
        codes[at] = codes[at - 1];
        kept[at] = kept[at - 1];
      }
      codes[at] = code;
      kept[at] = crossing;
    }
    for (uint32_t i = 0; i < edgeCount; i++) e[i].row += e[i].stepY;
  }
  for (uint32_t i = 0; i < n; i++) emit(user, codes[i], kept[i]);
  return n;
}

} // namespace

uint32_t WalkTiles(const RenderState* s, const EdgeEquation* edges, EdgeList list, TileEmitFn emit, void* user) {
  if (s->tileEnd <= s->tileFirst) return 0;
  Walk w;
  ListedEdges listed;
  ListEdges(s, edges, list, &w, &listed);
  w.end = s->tileEnd;
  w.emit = emit;
  w.user = user;
  w.count = 0;
  TileRect r;
  if (!BoundTiles(s, &listed, &r)) return 0;
  const int64_t tilesX = (r.x1 - r.x0 + 1) >> kTileSideBits, tilesY = (r.y1 - r.y0 + 1) >> kTileSideBits;
  if (tilesX * tilesY <= kDirectTiles) return WalkFewTiles(&listed, r, w.end, emit, user);
  // The smallest aligned block holding the rectangle, inside the viewport
  // block; the whole viewport block when none is smaller.
  uint32_t m = kTileSideBits;
  while (m < s->blockLevel && ((r.x0 >> m) != (r.x1 >> m) || (r.y0 >> m) != (r.y1 >> m))) m++;
  if (m < s->blockLevel) {
    const int64_t bx = (r.x0 >> m) << m, by = (r.y0 >> m) << m;
    WalkBlock(&w, MortonOf((uint32_t)bx, (uint32_t)by), bx, by, m, list);
  } else {
    WalkBlock(&w, s->tileFirst, s->blockX, s->blockY, s->blockLevel, list);
  }
  return w.count;
}
