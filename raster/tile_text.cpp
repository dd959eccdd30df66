// Text path of the tile stage. When every triangle of a bin runs FontFs and
// AlphaBlendBs into one four-float colour target (all debug text does), the
// tile keeps its colour and depth in compact row-major arrays and works on
// four pixels at a time: depth test and interpolation, one sampling batch,
// then alpha test, blend and depth write, instead of five passes over
// 800-byte pixel records. Every value is computed with the same operations
// in the same order as the general path, so the pictures are identical.
#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "gfx/gfx.h"
#include "raster/tile_internal.h"

namespace {

struct TextTile {
  alignas(16) float color[256 * 4]; // row-major, 4 floats per pixel
  alignas(16) float depth[256];
  uint32_t unwritten[16]; // per row: pixels whose depth this pass has not written
};

// Coverage as one 16-bit mask per row. Along a row an edge value changes
// by A per pixel, so each crossing edge leaves one run of covered pixels:
// find where it starts or ends, starting from the previous row's answer, by
// exact evaluation at the pixel centres (the same test as pixel by pixel).
void CoverRows(TileContext* t, const BinnedTriangle* bt, EdgeList edges, uint32_t rows[16]) {
  for (uint32_t y = 0; y < 16; y++) rows[y] = 0xFFFF;
  for (EdgeList l = edges; l != 0; l >>= 4) {
    const uint32_t k = (uint32_t)(l & 15);
    if (k == 0 || (int32_t)k > bt->edgeCount) break;
    const EdgeStep e = EdgeSteps(bt->renderState, bt->edges[k - 1]);
    int64_t rowStart = EdgeAt(e, t->tileX, t->tileY);
    if (e.A == 0) {
      for (uint32_t y = 0; y < 16; y++, rowStart += e.B)
        if (rowStart < 0) rows[y] = 0;
      continue;
    }
    // A vertical edge (B = 0) leaves the same run in every row.
    const uint32_t rowCount = e.B == 0 ? 1 : 16;
    uint32_t run = 0;
    int32_t j = 8;
    for (uint32_t y = 0; y < rowCount; y++, rowStart += e.B) {
      if (e.A > 0) {
        // First inside pixel: value at j >= 0 and at j - 1 < 0.
        while (j > 0 && rowStart + e.A * (j - 1) >= 0) j--;
        while (j < 16 && rowStart + e.A * j < 0) j++;
        run = (0xFFFFu << j) & 0xFFFFu;
      } else {
        // First outside pixel: value at j < 0 and at j - 1 >= 0.
        while (j > 0 && rowStart + e.A * (j - 1) < 0) j--;
        while (j < 16 && rowStart + e.A * j >= 0) j++;
        run = (1u << j) - 1;
      }
      rows[y] &= run;
    }
    for (uint32_t y = rowCount; y < 16; y++) rows[y] &= run;
  }
}

void LoadTextTile(TileContext* t, const RenderState* s, TextTile* tt) {
  const int32_t whole = WholeTile(t, t->rx0, t->ry0, t->rx1, t->ry1);
  TargetSlot* d = &t->depth;
  float initialDepth = 0;
  if (d->surface && d->loadState == kClearPending) initialDepth = ClearedDepthValue(s, d);
  for (uint32_t i = 0; i < 256; i++) tt->depth[i] = initialDepth;
  for (uint32_t y = 0; y < 16; y++) tt->unwritten[y] = whole ? 0xFFFF : 0;
  if (d->surface) {
    if (d->loadState == kClearPending) {
      t->clearedDepth = initialDepth;
      t->cleared = 1;
    } else {
      const int32_t direct = d->surface->format == Fp32;
      for (int32_t y = d->y0; y < d->y1; y++) {
        float* row = tt->depth + 16 * (y - t->tileY) - t->tileX;
        if (direct && d->surface->layout == 1) {
          memcpy(row + d->x0, ElementAt(d->surface, d->x0, y), 4 * (size_t)(d->x1 - d->x0));
          continue;
        }
        for (int32_t x = d->x0; x < d->x1; x++) {
          const uint8_t* src = ElementAt(d->surface, x, y);
          if (direct) memcpy(row + x, src, 4);
          else d->load.convertOne(&d->load, row + x, src);
        }
      }
    }
    t->depthTouched = 1;
  }
  t->unwritten = whole ? 256 : 0;
  if (!whole && t->rx1 > t->rx0)
    for (int32_t y = t->ry0; y < t->ry1; y++) {
      tt->unwritten[y - t->tileY] = ((1u << (t->rx1 - t->rx0)) - 1) << (t->rx0 - t->tileX);
      t->unwritten += t->rx1 - t->rx0;
    }

  // Slot 0 carries the blend's four floats; the other targets are not
  // written by the stages, so only their pending clears happen.
  TargetSlot* c = &t->color[0];
  if (!WholeTile(t, c->x0, c->y0, c->x1, c->y1)) memset(tt->color, 0, sizeof(tt->color));
  if (c->loadState == kClearPending) {
    float v[4];
    c->load.convertOne(&c->load, v, c->clearValue);
    const __m128 value = _mm_loadu_ps(v);
    for (int32_t y = c->y0; y < c->y1; y++)
      for (int32_t x = c->x0; x < c->x1; x++) _mm_store_ps(&tt->color[4 * (16 * (y - t->tileY) + (x - t->tileX))], value);
  } else {
    for (int32_t y = c->y0; y < c->y1; y++) {
      float* row = tt->color + 4 * (16 * (y - t->tileY) - t->tileX);
      if (c->surface->layout == 1) {
        if (c->x1 > c->x0)
          c->load.convertMany(&c->load, row + 4 * c->x0, ElementAt(c->surface, c->x0, y), (uint32_t)(c->x1 - c->x0));
        continue;
      }
      for (int32_t x = c->x0; x < c->x1; x++) c->load.convertOne(&c->load, row + 4 * x, ElementAt(c->surface, x, y));
    }
  }
  t->colorTouched = 1;
  for (uint32_t i = 1; i < kMaxColorTargets; i++)
    if (t->color[i].surface && t->color[i].loadState == kClearPending) FillSlot(&t->color[i]);
}

void StoreTextTile(TileContext* t, const TextTile* tt) {
  TargetSlot* c = &t->color[0];
  for (int32_t y = c->y0; y < c->y1; y++) {
    const float* row = tt->color + 4 * (16 * (y - t->tileY) - t->tileX);
    if (c->surface->layout == 1) {
      if (c->x1 > c->x0)
        c->store.convertMany(&c->store, ElementAt(c->surface, c->x0, y), row + 4 * c->x0, (uint32_t)(c->x1 - c->x0));
      continue;
    }
    for (int32_t x = c->x0; x < c->x1; x++) c->store.convertOne(&c->store, ElementAt(c->surface, x, y), row + 4 * x);
  }
  TargetSlot* d = &t->depth;
  if (!t->depthTouched || !d->surface) return;
  const int32_t direct = d->surface->format == Fp32;
  for (int32_t y = d->y0; y < d->y1; y++) {
    const float* row = tt->depth + 16 * (y - t->tileY) - t->tileX;
    if (direct && d->surface->layout == 1) {
      memcpy(ElementAt(d->surface, d->x0, y), row + d->x0, 4 * (size_t)(d->x1 - d->x0));
      continue;
    }
    for (int32_t x = d->x0; x < d->x1; x++) {
      uint8_t* dst = ElementAt(d->surface, x, y);
      if (direct) memcpy(dst, row + x, 4);
      else d->store.convertOne(&d->store, dst, row + x);
    }
  }
}

// Depth test of four fragments: the lanes that pass, NaN handled as in
// DepthPasses.
inline __m128 DepthPassMask(int32_t func, __m128 z, __m128 stored) {
  switch (func) {
  case Never: return _mm_setzero_ps();
  case Always: return _mm_castsi128_ps(_mm_set1_epi32(-1));
  case Less: return _mm_cmpnge_ps(z, stored);
  case LessEqual: return _mm_cmpngt_ps(z, stored);
  case Equal: return _mm_and_ps(_mm_cmpnlt_ps(z, stored), _mm_cmpngt_ps(z, stored));
  case GreaterEqual: return _mm_cmpge_ps(z, stored);
  case NotEqual: return _mm_or_ps(_mm_cmplt_ps(z, stored), _mm_cmpgt_ps(z, stored));
  default: return _mm_cmpgt_ps(z, stored);
  }
}

inline __m128 Select(__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }

// Alpha test of four fragments, as AlphaPasses: an unordered comparison
// counts as below and equal.
inline __m128 AlphaPassMask(int32_t compare, __m128 a, __m128 reference) {
  switch (compare) {
  case Never: return _mm_setzero_ps();
  case Less: return _mm_cmpnge_ps(a, reference);
  case LessEqual: return _mm_cmpngt_ps(a, reference);
  case Equal: return _mm_or_ps(_mm_cmpunord_ps(a, reference), _mm_cmpeq_ps(a, reference));
  case Greater: return _mm_cmpgt_ps(a, reference);
  case GreaterEqual: return _mm_cmpge_ps(a, reference);
  case NotEqual: return _mm_and_ps(_mm_cmpord_ps(a, reference), _mm_cmpneq_ps(a, reference));
  default: return _mm_castsi128_ps(_mm_set1_epi32(-1));
  }
}

// Lanes of a 4-bit mask as a vector mask.
inline __m128 LaneMask(uint32_t bits) {
  const __m128i lanes = _mm_set_epi32(8, 4, 2, 1);
  return _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32((int32_t)bits), lanes), lanes));
}

// (1 - a) * target + a * source in the first three channels and a in the
// fourth, for pixel J of a group, written where its lane of keep is set.
template <int J>
inline void BlendPixel(float* row, const __m128* src, __m128 a, __m128 keep) {
  const __m128 one = _mm_set1_ps(1.0f), keepRgb = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
  const __m128 va = _mm_shuffle_ps(a, a, _MM_SHUFFLE(J, J, J, J));
  float* d = row + 4 * J;
  const __m128 old = _mm_load_ps(d);
  const __m128 blended = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, va), old), _mm_mul_ps(va, src[J]));
  _mm_store_ps(d, Select(_mm_shuffle_ps(keep, keep, _MM_SHUFFLE(J, J, J, J)), Select(keepRgb, blended, va), old));
}

// The four pixels of a group without branches on the lanes.
inline void BlendGroup(float* row, const __m128* src, __m128 a, __m128 keep) {
  BlendPixel<0>(row, src, a, keep);
  BlendPixel<1>(row, src, a, keep);
  BlendPixel<2>(row, src, a, keep);
  BlendPixel<3>(row, src, a, keep);
}

// Groups of four pixels of a row that have covered pixels, kept for the
// three steps of a triangle (the texel reads of all of them are issued
// together, so their cache misses overlap).
struct Groups {
  uint32_t count;
  uint8_t index[64]; // first pixel of the group, row-major
  uint8_t live[64];  // lanes still drawn
  alignas(16) float z[256];
  alignas(16) float u[256];
  alignas(16) float v[256];
  alignas(16) float rho[256];
  alignas(16) float texel[1024];
};

constexpr uint8_t kBitCount[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// A triangle's planes spread over four lanes once per batch: depth, 1/w
// and the three coordinates the sampler reads (the third interpolated value
// is not read).
struct LanePlanes {
  __m128 a[5], c[5];
  float b[5];
  __m128 zlo, zhi;
};

void SpreadPlanes(const BinnedTriangle* bt, LanePlanes* lp) {
  const Plane* planes[5] = {&bt->fixedPlanes[1], &bt->fixedPlanes[0], &bt->attributePlanes[0],
                            &bt->attributePlanes[1], &bt->attributePlanes[3]};
  for (int32_t i = 0; i < 5; i++) {
    lp->a[i] = _mm_set1_ps(planes[i]->a);
    lp->c[i] = _mm_set1_ps(planes[i]->c);
    lp->b[i] = planes[i]->b;
  }
  lp->zlo = _mm_set1_ps(bt->zmin);
  lp->zhi = _mm_set1_ps(bt->zmax);
}

// a*x + b*y + c of plane i for four pixels of a row (the scalar path's
// order of operations).
inline __m128 LanePlane(const LanePlanes* lp, int32_t i, __m128 px, float py) {
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(lp->a[i], px), _mm_set1_ps(lp->b[i] * py)), lp->c[i]);
}

struct GroupValues {
  __m128 z, u, v, rho;
};

// One triangle's values for a group of four pixels; the lanes of `mask`
// that fail the depth test are cleared.
inline uint32_t TriangleGroup(const TextTile* tt, const LanePlanes* lp, int32_t depthOn, int32_t func, int32_t test,
                              int32_t i0, __m128 px, float py, uint32_t mask, GroupValues* out) {
  __m128 z = _mm_setzero_ps();
  if (depthOn) {
    z = LanePlane(lp, 0, px, py);
    z = Select(_mm_cmplt_ps(z, lp->zlo), lp->zlo, z);
    z = Select(_mm_cmpgt_ps(z, lp->zhi), lp->zhi, z);
    if (test) {
      mask &= (uint32_t)_mm_movemask_ps(DepthPassMask(func, z, _mm_load_ps(tt->depth + i0)));
      if (!mask) return 0;
    }
  }
  const __m128 w = _mm_div_ps(_mm_set1_ps(1.0f), LanePlane(lp, 1, px, py));
  out->z = z;
  out->u = _mm_mul_ps(LanePlane(lp, 2, px, py), w);
  out->v = _mm_mul_ps(LanePlane(lp, 3, px, py), w);
  out->rho = _mm_mul_ps(LanePlane(lp, 4, px, py), w);
  return mask;
}

// One triangle of a batch: its coverage rows and its tile-level depth
// decision.
struct BatchEntry {
  const TileEntry* te;
  int32_t test; // per-pixel depth test needed
  uint32_t rows[16];
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
  uint32_t covered[16]; // union of the rows
};

// Pixels four at a time; lanes outside the coverage are computed too (their
// values may be anything, they are never used) and masked out before
// anything is written.
void DrawTextBatch(TileContext* t, TextTile* tt, Groups* gs, const Batch* b) {
  const PipelineState* ps = b->entry[0].te->triangle->pipeline;
  const int32_t depthOn = t->depth.surface != nullptr && ps->depthTestEnable != 0;
  const int32_t func = ps->depthCompare;
  const __m128i lanes = _mm_set_epi32(3, 2, 1, 0);
  uint32_t n = 0;
  for (int32_t y = 0; y < 16; y++) {
    const uint32_t bits = b->covered[y];
    if (!bits) continue;
    const float py = (float)(t->tileY + y);
    for (int32_t g = 0; g < 4; g++) {
      if (!((bits >> (4 * g)) & 15)) continue;
      const int32_t i0 = 16 * y + 4 * g;
      const __m128 px = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(t->tileX + 4 * g), lanes));
      GroupValues all = {}, one;
      uint32_t live = 0;
      for (uint32_t k = 0; k < b->count; k++) {
        const BatchEntry* e = &b->entry[k];
        const uint32_t mask = (e->rows[y] >> (4 * g)) & 15;
        if (!mask) continue;
        const uint32_t passed = TriangleGroup(tt, &e->planes, depthOn, func, e->test, i0, px, py, mask, &one);
        if (!passed) continue;
        if (!live) {
          all = one;
        } else {
          const __m128 take = LaneMask(passed);
          all.z = Select(take, one.z, all.z);
          all.u = Select(take, one.u, all.u);
          all.v = Select(take, one.v, all.v);
          all.rho = Select(take, one.rho, all.rho);
        }
        live |= passed;
      }
      if (!live) continue;
      gs->index[n] = (uint8_t)i0;
      gs->live[n] = (uint8_t)live;
      _mm_store_ps(gs->z + 4 * n, all.z);
      _mm_store_ps(gs->u + 4 * n, all.u);
      _mm_store_ps(gs->v + 4 * n, all.v);
      _mm_store_ps(gs->rho + 4 * n, all.rho);
      n++;
    }
  }
  if (n == 0) return;

  // FontFs: texel times colour (zeros without constants: no texels, colour 0).
  const FontFsConstants* fk = static_cast<const FontFsConstants*>(ps->fragmentConstants.data);
  if (fk && fk->texture && fk->sampler)
    SelectSampleBatch(fk->texture, fk->sampler)(fk->texture, fk->sampler, gs->u, gs->v, gs->rho, 4 * n, gs->texel);
  else
    memset(gs->texel, 0, sizeof(float) * 16 * n);
  const __m128 colour = fk ? _mm_loadu_ps(fk->colour) : _mm_setzero_ps();

  // AlphaBlendBs, then the depth write of the fragments it kept.
  const AlphaTestConstants* ak = static_cast<const AlphaTestConstants*>(ps->blendConstants.data);
  const int32_t compare = ak ? ak->compare : Always;
  const __m128 reference = _mm_set1_ps(ak ? ak->reference : 0.0f);
  uint32_t kept = 0, written = 0;
  __m128 lo = _mm_set1_ps(t->tmin), hi = _mm_set1_ps(t->tmax), nan = _mm_setzero_ps();
  for (uint32_t k = 0; k < n; k++) {
    const float* tg = gs->texel + 16 * k;
    __m128 src[4];
    for (int32_t j = 0; j < 4; j++) src[j] = _mm_mul_ps(_mm_load_ps(tg + 4 * j), colour);
    // (a0, a1, a2, a3) from the four sources' fourth lanes.
    const __m128 a = _mm_movehl_ps(_mm_unpackhi_ps(src[2], src[3]), _mm_unpackhi_ps(src[0], src[1]));
    const uint32_t mask = gs->live[k] & (uint32_t)_mm_movemask_ps(AlphaPassMask(compare, a, reference));
    if (!mask) continue;
    const uint32_t i0 = gs->index[k];
    BlendGroup(tt->color + 4 * i0, src, a, LaneMask(mask));
    kept += kBitCount[mask];
    if (depthOn) {
      const __m128 keep = LaneMask(mask);
      const __m128 z = _mm_load_ps(gs->z + 4 * k);
      float* dz = tt->depth + i0;
      _mm_store_ps(dz, Select(keep, z, _mm_load_ps(dz)));
      lo = Select(_mm_and_ps(keep, _mm_cmplt_ps(z, lo)), z, lo);
      hi = Select(_mm_and_ps(keep, _mm_cmpgt_ps(z, hi)), z, hi);
      nan = _mm_or_ps(nan, _mm_and_ps(keep, _mm_cmpunord_ps(z, z)));
      uint32_t& unwritten = tt->unwritten[i0 >> 4];
      const uint32_t shift = i0 & 15;
      written += kBitCount[(unwritten >> shift) & mask];
      unwritten &= ~(mask << shift);
    }
  }
  if (!depthOn || kept == 0) return;
  // A triangle that kept every pixel of the tile (the others of its batch
  // then cover none) leaves exactly its own depths.
  const TileEntry* whole = nullptr;
  if (kept == 256)
    for (uint32_t k = 0; k < b->count && !whole; k++) {
      uint32_t all = 0xFFFF;
      for (uint32_t y = 0; y < 16; y++) all &= b->entry[k].rows[y];
      if (all == 0xFFFF) whole = b->entry[k].te;
    }
  if (whole) {
    t->unwritten = 0;
    t->tmin = whole->zmin;
    t->tmax = whole->zmax;
  } else {
    // Lane by lane, like one pixel after the other (only the sign of a zero
    // can depend on the order, and the tile decisions do not see it).
    alignas(16) float l4[4], h4[4];
    _mm_store_ps(l4, lo);
    _mm_store_ps(h4, hi);
    float tmin = l4[0], tmax = h4[0];
    for (int j = 1; j < 4; j++) {
      if (l4[j] < tmin) tmin = l4[j];
      if (h4[j] > tmax) tmax = h4[j];
    }
    t->unwritten -= (int32_t)written;
    t->tmin = tmin;
    t->tmax = tmax;
  }
  // A NaN in the buffer defeats every bound: no more tile-level decisions.
  if (_mm_movemask_ps(nan)) {
    t->tmin = -INFINITY;
    t->tmax = INFINITY;
  }
}

// The tile-level depth decision of a batch entry, on what the tile holds
// now: 0 when none of its pixels can pass.
int32_t DecideEntry(const TileContext* t, BatchEntry* e) {
  const PipelineState* ps = e->te->triangle->pipeline;
  const int32_t depthOn = t->depth.surface != nullptr && ps->depthTestEnable != 0;
  const int32_t func = ps->depthCompare;
  int32_t accept = 0;
  if (depthOn && !TileDepthDecision(t, e->te, func, &accept)) return 0;
  e->test = depthOn && !accept && func != Always;
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

void RunTextTile(TileContext* t, const RenderState* s, TileBin* bin) {
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
    for (uint32_t y = 0; y < 16; y++) batch.covered[y] = 0;
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
        uint32_t overlap = 0;
        for (uint32_t y = 0; y < 16; y++) overlap |= e->rows[y] & batch.covered[y];
        if (overlap) {
          carried = 1;
          break;
        }
      }
      pipeline = e->te->triangle->pipeline;
      for (uint32_t y = 0; y < 16; y++) batch.covered[y] |= e->rows[y];
      if (!DecideEntry(t, e)) for (uint32_t y = 0; y < 16; y++) e->rows[y] = 0;
      batch.count++;
    }
    if (batch.count) DrawTextBatch(t, &tt, &groups, &batch);
  }
  StoreTextTile(t, &tt);
}
