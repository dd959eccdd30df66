// Text path of the tile stage. When every triangle of a bin runs FontFs and
// AlphaBlendBs into one four-float colour target (all debug text does), the
// tile keeps its colour and depth in compact row-major arrays and works on
// groups of four (SSE2) or eight (AVX2) pixels: depth test and
// interpolation, one sampling batch, then alpha test, blend and depth write,
// instead of five passes over 800-byte pixel records. Every value is
// computed with the same operations in the same order as the general path,
// so the pictures are identical.
#include <atomic>
#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "raster/raster_testing.h"
#include "raster/tile_text.h"

namespace {

// Four SSE2 lanes; a group's sources are its four pixels, one register each.
struct Lanes4 {
  typedef __m128 F;
  static constexpr int32_t kLanes = 4;
  struct Src {
    __m128 p[4];
  };
  static F Zero() { return _mm_setzero_ps(); }
  static F Ones() { return _mm_castsi128_ps(_mm_set1_epi32(-1)); }
  static F Set1(float v) { return _mm_set1_ps(v); }
  static F Load(const float* p) { return _mm_load_ps(p); }
  static void Store(float* p, F v) { _mm_store_ps(p, v); }
  static F Add(F a, F b) { return _mm_add_ps(a, b); }
  static F Sub(F a, F b) { return _mm_sub_ps(a, b); }
  static F Mul(F a, F b) { return _mm_mul_ps(a, b); }
  static F Div(F a, F b) { return _mm_div_ps(a, b); }
  static F And(F a, F b) { return _mm_and_ps(a, b); }
  static F Or(F a, F b) { return _mm_or_ps(a, b); }
  static F Select(F mask, F a, F b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }
  static F Lt(F a, F b) { return _mm_cmplt_ps(a, b); }
  static F Gt(F a, F b) { return _mm_cmpgt_ps(a, b); }
  static F Ge(F a, F b) { return _mm_cmpge_ps(a, b); }
  static F Eq(F a, F b) { return _mm_cmpeq_ps(a, b); }
  static F Nge(F a, F b) { return _mm_cmpnge_ps(a, b); }
  static F Ngt(F a, F b) { return _mm_cmpngt_ps(a, b); }
  static F Nlt(F a, F b) { return _mm_cmpnlt_ps(a, b); }
  static F Neq(F a, F b) { return _mm_cmpneq_ps(a, b); }
  static F Ord(F a, F b) { return _mm_cmpord_ps(a, b); }
  static F Unord(F a, F b) { return _mm_cmpunord_ps(a, b); }
  static uint32_t MoveMask(F v) { return (uint32_t)_mm_movemask_ps(v); }
  static F LaneMask(uint32_t bits) {
    const __m128i lanes = _mm_set_epi32(8, 4, 2, 1);
    return _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32((int32_t)bits), lanes), lanes));
  }
  static F PixelX(int32_t x) { return _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(x), _mm_set_epi32(3, 2, 1, 0))); }
  static uint32_t Count(uint32_t bits) { return kBitCount[bits]; }
  static F Colour(const float* c) { return _mm_loadu_ps(c); }
  // Texel times colour for each pixel; returns (a0, a1, a2, a3).
  static F Sources(const float* texels, F colour, Src* s) {
    for (int32_t j = 0; j < 4; j++) s->p[j] = _mm_mul_ps(_mm_load_ps(texels + 4 * j), colour);
    return _mm_movehl_ps(_mm_unpackhi_ps(s->p[2], s->p[3]), _mm_unpackhi_ps(s->p[0], s->p[1]));
  }
  // (1 - a) * target + a * source in the first three channels and a in the
  // fourth, for pixel J, written where its lane of keep is set.
  template <int J>
  static void BlendPixel(float* row, const Src& s, F a, F keep) {
    const __m128 one = _mm_set1_ps(1.0f), keepRgb = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
    const __m128 va = _mm_shuffle_ps(a, a, _MM_SHUFFLE(J, J, J, J));
    float* d = row + 4 * J;
    const __m128 old = _mm_load_ps(d);
    const __m128 blended = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, va), old), _mm_mul_ps(va, s.p[J]));
    _mm_store_ps(d, Select(_mm_shuffle_ps(keep, keep, _MM_SHUFFLE(J, J, J, J)), Select(keepRgb, blended, va), old));
  }
  // The pixels of mask, without branches on the lanes.
  static void Blend(float* row, const Src& s, F a, uint32_t mask) {
    const F keep = LaneMask(mask);
    BlendPixel<0>(row, s, a, keep);
    BlendPixel<1>(row, s, a, keep);
    BlendPixel<2>(row, s, a, keep);
    BlendPixel<3>(row, s, a, keep);
  }
};

// Bits k of [0, kTileSide) where start + step * k >= 0: one run at either end.
inline uint32_t InsideRun(int64_t start, int64_t step) {
  if (step == 0) return start >= 0 ? kRowBits : 0u;
  if (step > 0) {
    if (start >= 0) return kRowBits;
    const int64_t first = (-start + step - 1) / step; // ceil(-start / step)
    return first >= kTileSide ? 0u : (kRowBits << first) & kRowBits;
  }
  if (start < 0) return 0u;
  const int64_t last = start / -step; // floor(start / -step)
  return last >= kTileSide - 1 ? kRowBits : (1u << (last + 1)) - 1;
}

// Coverage as one 16-bit mask per row, by exact evaluation at the pixel
// centres (the same test as pixel by pixel). An edge along a row or a column
// cuts whole rows or the same columns of every row; along a row a sloped
// edge's value changes by A per pixel, so it leaves one run of covered
// pixels: find where it starts or ends, starting from the previous row's
// answer.
void CoverRows(TileContext* t, const BinnedTriangle* bt, EdgeList edges, uint32_t rows[kTileSide]) {
  uint32_t liveRows = kRowBits, columns = kRowBits, slopedCount = 0;
  EdgeStep sloped[kMaxEdges];
  int64_t slopedStart[kMaxEdges];
  for (EdgeList l = edges; l != 0; l >>= 4) {
    const uint32_t k = (uint32_t)(l & 15);
    if (k == 0 || (int32_t)k > bt->edgeCount) break;
    const EdgeStep e = EdgeSteps(bt->renderState, bt->edges[k - 1]);
    const int64_t start = EdgeAt(e, t->tileX, t->tileY);
    if (e.A == 0) {
      liveRows &= InsideRun(start, e.B);
    } else if (e.B == 0) {
      columns &= InsideRun(start, e.A);
    } else {
      sloped[slopedCount] = e;
      slopedStart[slopedCount++] = start;
    }
  }
  // Four rows a step: each row's bit of liveRows chooses columns or none.
  const __m128i all = _mm_set1_epi32((int32_t)columns);
  for (uint32_t y = 0; y < kTileSide; y += 4) {
    const __m128i live = _mm_castps_si128(Lanes4::LaneMask((liveRows >> y) & 15));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rows + y), _mm_and_si128(live, all));
  }
  if (!liveRows || !columns) return;
  // v is the edge's value at pixel j of the row, kept exact by adding A per
  // step along the row and B per row.
  // Only the live rows, from the first to the last, are worked.
  const uint32_t y0 = (uint32_t)__builtin_ctz(liveRows), y1 = 32 - (uint32_t)__builtin_clz(liveRows);
  for (uint32_t i = 0; i < slopedCount; i++) {
    const EdgeStep& e = sloped[i];
    int32_t j = kTileSide / 2; // the search starts mid-row
    int64_t v = slopedStart[i] + j * e.A + (int64_t)y0 * e.B;
    if (e.A > 0) {
      // First inside pixel: value at j >= 0 and at j - 1 < 0.
      for (uint32_t y = y0; y < y1; y++, v += e.B) {
        while (j > 0 && v - e.A >= 0) j--, v -= e.A;
        while (j < kTileSide && v < 0) j++, v += e.A;
        rows[y] &= (kRowBits << j) & kRowBits;
      }
    } else {
      // First outside pixel: value at j < 0 and at j - 1 >= 0.
      for (uint32_t y = y0; y < y1; y++, v += e.B) {
        while (j > 0 && v - e.A < 0) j--, v -= e.A;
        while (j < kTileSide && v >= 0) j++, v += e.A;
        rows[y] &= (1u << j) - 1;
      }
    }
  }
}

// Asks for the cache lines of a linear target's rows in the tile. A target
// that is cleared in the tile is not read before the tile is stored, and
// without this every row of the store would wait for its line.
void PrefetchRows(const TargetSlot* slot) {
  if (!slot->surface || slot->surface->layout != kLayoutLinear || slot->x1 <= slot->x0) return;
  const size_t bytes = (size_t)(slot->x1 - slot->x0) * slot->surface->elementSize;
  for (int32_t y = slot->y0; y < slot->y1; y++) {
    const char* row = reinterpret_cast<const char*>(ElementAt(slot->surface, slot->x0, y));
    for (size_t i = 0; i < bytes; i += 64) _mm_prefetch(row + i, _MM_HINT_T0);
    _mm_prefetch(row + bytes - 1, _MM_HINT_T0);
  }
}

// A row of a target. Whole tile rows of 4-byte elements (64 bytes) are the
// usual case: copied inline rather than through the library call.
inline void CopyRow(void* dst, const void* src, size_t bytes) {
  if (bytes == 64) memcpy(dst, src, 64);
  else memcpy(dst, src, bytes);
}

// Depth: the pending clear's value or the target's, and the pixels whose
// depth this pass has not written yet.
inline void LoadTextDepth(TileContext* t, const RenderState* s, TextTile* tt, int32_t whole) {
  TargetSlot* d = &t->depth;
  float initialDepth = 0;
  if (d->surface && d->loadState == kClearPending) initialDepth = ClearedDepthValue(s, d);
  for (uint32_t i = 0; i < kTilePixels; i++) tt->depth[i] = initialDepth;
  for (uint32_t y = 0; y < kTileSide; y++) tt->unwritten[y] = whole ? kRowBits : 0;
  const int32_t depthLoad = TargetLoadRule(d, 1);
  if (depthLoad == kTargetClearInTile) {
    t->clearedDepth = initialDepth;
    t->cleared = 1;
    t->depthTouched = 1;
  } else if (depthLoad == kTargetRead) {
    const int32_t direct = d->surface->format == Fp32;
    for (int32_t y = d->y0; y < d->y1; y++) {
      float* row = tt->depth + kTileSide * (y - t->tileY); // pixel x at row[x - tileX]
      if (direct && d->surface->layout == kLayoutLinear) {
        CopyRow(row + (d->x0 - t->tileX), ElementAt(d->surface, d->x0, y), 4 * (size_t)(d->x1 - d->x0));
        continue;
      }
      for (int32_t x = d->x0; x < d->x1; x++) {
        const uint8_t* src = ElementAt(d->surface, x, y);
        if (direct) memcpy(row + (x - t->tileX), src, 4);
        else d->load.convertOne(&d->load, row + (x - t->tileX), src);
      }
    }
    t->depthTouched = 1;
  }
  t->unwritten = whole ? kTilePixels : 0;
  if (!whole && t->rx1 > t->rx0)
    for (int32_t y = t->ry0; y < t->ry1; y++) {
      tt->unwritten[y - t->tileY] = ((1u << (t->rx1 - t->rx0)) - 1) << (t->rx0 - t->tileX);
      t->unwritten += t->rx1 - t->rx0;
    }
}

// Slot 0's colour, which carries the blend's four floats: the pending
// clear's value or the target's.
inline void LoadTextColour(TileContext* t, TextTile* tt) {
  TargetSlot* c = &t->color[0];
  if (!WholeTile(t, c->x0, c->y0, c->x1, c->y1)) memset(tt->color, 0, sizeof(tt->color));
  const int32_t colorLoad = TargetLoadRule(c, 1); // the text path runs only for a mapped slot 0
  if (colorLoad == kTargetClearInTile) {
    float v[4];
    c->load.convertOne(&c->load, v, c->clearValue);
    const __m128 value = _mm_loadu_ps(v);
    if (WholeTile(t, c->x0, c->y0, c->x1, c->y1)) {
      for (float* p = tt->color; p < tt->color + 4 * kTilePixels; p += 16) { // four pixels a step
        _mm_store_ps(p, value);
        _mm_store_ps(p + 4, value);
        _mm_store_ps(p + 8, value);
        _mm_store_ps(p + 12, value);
      }
    } else {
      for (int32_t y = c->y0; y < c->y1; y++) {
        float* row = tt->color + kRowFloats * (y - t->tileY); // pixel x at row[4 * (x - tileX)]
        for (float *p = row + 4 * (c->x0 - t->tileX), *end = row + 4 * (c->x1 - t->tileX); p < end; p += 4)
          _mm_store_ps(p, value);
      }
    }
  } else if (c->surface->layout == kLayoutLinear && WholeTile(t, c->x0, c->y0, c->x1, c->y1) &&
             c->surface->elementSize <= kMaxElementBytes) {
    // The tile's rows side by side, then one conversion of all its pixels.
    alignas(32) uint8_t packed[kTilePixels * kMaxElementBytes];
    const size_t rowBytes = kTileSide * (size_t)c->surface->elementSize;
    for (int32_t y = 0; y < kTileSide; y++) CopyRow(packed + y * rowBytes, ElementAt(c->surface, t->tileX, t->tileY + y), rowBytes);
    c->load.convertMany(&c->load, tt->color, packed, kTilePixels);
  } else {
    for (int32_t y = c->y0; y < c->y1; y++) {
      float* row = tt->color + kRowFloats * (y - t->tileY);
      if (c->surface->layout == kLayoutLinear) {
        if (c->x1 > c->x0)
          c->load.convertMany(&c->load, row + 4 * (c->x0 - t->tileX), ElementAt(c->surface, c->x0, y),
                              (uint32_t)(c->x1 - c->x0));
        continue;
      }
      for (int32_t x = c->x0; x < c->x1; x++)
        c->load.convertOne(&c->load, row + 4 * (x - t->tileX), ElementAt(c->surface, x, y));
    }
  }
  t->colorTouched = 1;
}

void LoadTextTile(TileContext* t, const RenderState* s, TextTile* tt) {
  const int32_t whole = WholeTile(t, t->rx0, t->ry0, t->rx1, t->ry1);
  if (t->depth.loadState == kClearPending) PrefetchRows(&t->depth);
  if (t->color[0].loadState == kClearPending) PrefetchRows(&t->color[0]);
  LoadTextDepth(t, s, tt, whole);
  LoadTextColour(t, tt);
  // The other targets are not written by the stages, so only their pending
  // clears happen.
  for (uint32_t i = 1; i < kMaxColorTargets; i++)
    if (TargetLoadRule(&t->color[i], ColorSlotMapped(t, i)) == kTargetFill) FillSlot(&t->color[i]);
}

void StoreColorRows(TileContext* t, const TextTile* tt);
void StoreDepthRows(TileContext* t, const TextTile* tt);

void StoreTextTile(TileContext* t, const TextTile* tt) {
  TargetSlot* c = &t->color[0];
  if (c->surface->layout == kLayoutLinear && WholeTile(t, c->x0, c->y0, c->x1, c->y1) && c->surface->elementSize <= kMaxElementBytes) {
    // One conversion of all the tile's pixels (a call per row costs more
    // than its pixels), then the rows go out.
    alignas(32) uint8_t packed[kTilePixels * kMaxElementBytes];
    const size_t rowBytes = kTileSide * (size_t)c->surface->elementSize;
    c->store.convertMany(&c->store, packed, tt->color, kTilePixels);
    for (int32_t y = 0; y < kTileSide; y++) CopyRow(ElementAt(c->surface, t->tileX, t->tileY + y), packed + y * rowBytes, rowBytes);
  } else {
    StoreColorRows(t, tt);
  }
  StoreDepthRows(t, tt);
}

void StoreColorRows(TileContext* t, const TextTile* tt) {
  TargetSlot* c = &t->color[0];
  for (int32_t y = c->y0; y < c->y1; y++) {
    const float* row = tt->color + kRowFloats * (y - t->tileY);
    if (c->surface->layout == kLayoutLinear) {
      if (c->x1 > c->x0)
        c->store.convertMany(&c->store, ElementAt(c->surface, c->x0, y), row + 4 * (c->x0 - t->tileX),
                             (uint32_t)(c->x1 - c->x0));
      continue;
    }
    for (int32_t x = c->x0; x < c->x1; x++)
      c->store.convertOne(&c->store, ElementAt(c->surface, x, y), row + 4 * (x - t->tileX));
  }
}

void StoreDepthRows(TileContext* t, const TextTile* tt) {
  TargetSlot* d = &t->depth;
  if (!t->depthTouched || !d->surface) return;
  const int32_t direct = d->surface->format == Fp32;
  for (int32_t y = d->y0; y < d->y1; y++) {
    const float* row = tt->depth + kTileSide * (y - t->tileY);
    if (direct && d->surface->layout == kLayoutLinear) {
      CopyRow(ElementAt(d->surface, d->x0, y), row + (d->x0 - t->tileX), 4 * (size_t)(d->x1 - d->x0));
      continue;
    }
    for (int32_t x = d->x0; x < d->x1; x++) {
      uint8_t* dst = ElementAt(d->surface, x, y);
      if (direct) memcpy(dst, row + (x - t->tileX), 4);
      else d->store.convertOne(&d->store, dst, row + (x - t->tileX));
    }
  }
}

void SpreadPlanes(const BinnedTriangle* bt, LanePlanes* lp) {
  const Plane* planes[5] = {&bt->fixedPlanes[1], &bt->fixedPlanes[0], &bt->attributePlanes[0],
                            &bt->attributePlanes[1], &bt->attributePlanes[3]};
  auto spread = [](float* lanes, float value) {
    const __m128 v = _mm_set1_ps(value);
    _mm_store_ps(lanes, v);
    _mm_store_ps(lanes + 4, v);
  };
  for (int32_t i = 0; i < 5; i++) {
    spread(lp->a[i], planes[i]->a);
    spread(lp->c[i], planes[i]->c);
    lp->b[i] = planes[i]->b;
  }
  spread(lp->zlo, bt->zmin);
  spread(lp->zhi, bt->zmax);
  // a*x + b*y + c is then exactly 1 for any pixel: both products are zeros.
  const Plane& w = bt->fixedPlanes[0];
  lp->unitW = w.a == 0.0f && w.b == 0.0f && w.c == 1.0f;
}

} // namespace

#include "raster/tile_text_draw.inl"

void DrawTextBatch4(TileContext* t, TextTile* tt, Groups* gs, const Batch* b) { DrawTextBatchLanes<Lanes4>(t, tt, gs, b); }

namespace {

// The tile-level depth decision of a batch entry, on what the tile holds
// now: 0 when none of its pixels can pass.
int32_t DecideEntry(const TileContext* t, BatchEntry* e) {
  const PipelineState* ps = e->te->triangle->pipeline;
  const int32_t depthOn = t->depth.surface != nullptr && ps->depthTestEnable != 0;
  const int32_t func = ps->depthCompare;
  int32_t accept = 0;
  if (depthOn && !TileDepthDecision(t, e->te, func, &accept)) return 0;
  e->test = depthOn && !accept && func != CompareFunction::Always;
  SpreadPlanes(e->te->triangle, &e->planes);
  return 1;
}

} // namespace

int32_t TextPathFits(const TileContext* t, const TileBin* bin) {
  const TargetSlot* c = &t->color[0];
  if (t->layoutCount != 1 || !c->surface || c->floatOffset != 0 || c->floatCount != 4) return 0;
  const PipelineState* last = nullptr;
  for (const TileNode* node = bin->sentinel.next; node; node = node->next) {
    const BinnedTriangle* bt = node->entry->triangle;
    if (bt->attributeCount < 4) return 0;
    if (bt->pipeline == last) continue;
    last = bt->pipeline;
    if (last->fragmentStage != &FontFs || last->blendStage != &AlphaBlendBs) return 0;
  }
  return 1;
}

namespace {

std::atomic<uint32_t> s_textLanes{0};

TextBatchFn ChooseTextBatch() {
  if (s_textLanes.load(std::memory_order_relaxed) != 4) {
    if (const TextBatchFn wide = TextBatch8()) return wide;
  }
  return &DrawTextBatch4;
}

} // namespace

void SetTextLanesForTest(uint32_t lanes) { s_textLanes.store(lanes); }

int32_t TextLanesAvailable() { return TextBatch8() ? 8 : 4; }

namespace {

// Whether two sets of coverage rows share a pixel, four rows a step.
inline bool RowsOverlap(const uint32_t a[kTileSide], const uint32_t b[kTileSide]) {
  __m128i any = _mm_setzero_si128();
  for (uint32_t y = 0; y < kTileSide; y += 4)
    any = _mm_or_si128(any, _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y))));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128())) != 0xFFFF;
}

} // namespace

void RunTextTile(TileContext* t, const RenderState* s, TileBin* bin) {
  const TextBatchFn draw = ChooseTextBatch();
  TextTile tt;
  Groups groups;
  Batch batch;
  LoadTextTile(t, s, &tt);
  // A triangle that overlapped the batch is left, with its rows, in the
  // slot after the batch's last one (`carried`); it opens the next batch.
  const TileNode* node = bin->sentinel.next;
  int32_t carried = 0;
  batch.count = 0;
  while (node || carried) {
    if (carried) {
      const BatchEntry* c = &batch.entry[batch.count];
      batch.entry[0].te = c->te;
      memcpy(batch.entry[0].rows, c->rows, sizeof(c->rows));
    }
    batch.count = 0;
    for (uint32_t y = 0; y < kTileSide; y++) batch.covered[y] = 0;
    const PipelineState* pipeline = nullptr;
    for (;;) {
      BatchEntry* e = &batch.entry[batch.count];
      if (carried) {
        carried = 0;
      } else {
        if (!node || batch.count == kBatchCapacity) break;
        const TileEntry* te = node->entry;
        if (pipeline && te->triangle->pipeline != pipeline) break;
        e->te = te;
        CoverRows(t, te->triangle, te->edges, e->rows);
        node = node->next;
        if (RowsOverlap(e->rows, batch.covered)) {
          carried = 1;
          break;
        }
      }
      pipeline = e->te->triangle->pipeline;
      for (uint32_t y = 0; y < kTileSide; y++) batch.covered[y] |= e->rows[y];
      if (!DecideEntry(t, e)) for (uint32_t y = 0; y < kTileSide; y++) e->rows[y] = 0;
      batch.count++;
    }
    if (batch.count) draw(t, &tt, &groups, &batch);
  }
  StoreTextTile(t, &tt);
}
