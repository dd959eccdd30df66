// Hierarchical walk over Morton-ordered blocks of the viewport block.
#include "raster/bin_internal.h"

namespace {

struct Walk {
  EdgeStep steps[15];
  uint32_t end;
  TileEmitFn emit;
  void* user;
  uint32_t count;
};

void WalkBlock(Walk* w, uint32_t code, int64_t bx, int64_t by, uint32_t m, EdgeList list) {
  if (code >= w->end) return;
  int64_t span = ((int64_t)1 << m) - 1;
  EdgeList kept = 0;
  uint32_t shift = 0;
  for (EdgeList l = list; l != 0; l >>= 4) {
    uint32_t k = (uint32_t)(l & 15);
    if (k == 0) break;
    const EdgeStep& e = w->steps[k - 1];
    int64_t e00 = e.A * bx + e.B * by + e.C;
    int64_t e10 = e00 + e.A * span;
    int64_t e01 = e00 + e.B * span;
    int64_t e11 = e10 + e.B * span;
    int32_t negatives = (e00 < 0) + (e10 < 0) + (e01 < 0) + (e11 < 0);
    if (negatives == 4) return;
    if (negatives != 0) {
      kept |= (EdgeList)k << shift;
      shift += 4;
    }
  }
  if (kept == 0 || m == 4) {
    uint32_t codes = 1u << (2 * m);
    for (uint32_t c = code; c < code + codes && c < w->end; c += 256) {
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

} // namespace

uint32_t WalkTiles(const RenderState* s, const EdgeEquation* edges, EdgeList list, TileEmitFn emit, void* user) {
  if (s->tileEnd <= s->tileFirst) return 0;
  Walk w;
  uint32_t highest = 0;
  for (EdgeList l = list; l != 0; l >>= 4) {
    uint32_t k = (uint32_t)(l & 15);
    if (k == 0) break;
    if (k > highest) highest = k;
  }
  for (uint32_t k = 0; k < highest; k++) w.steps[k] = EdgeSteps(s, edges[k]);
  w.end = s->tileEnd;
  w.emit = emit;
  w.user = user;
  w.count = 0;
  WalkBlock(&w, s->tileFirst, s->blockX, s->blockY, s->blockLevel, list);
  return w.count;
}
