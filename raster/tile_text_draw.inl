// Drawing of one text batch, written once over a lane type L (four SSE2
// lanes, or eight AVX2 lanes). Not a header: a template body that exactly
// two files include, once each, after defining their lane type in an
// anonymous namespace and closing it: tile_text.cpp (Lanes4) and
// tile_text_avx2.cpp (Lanes8, between QV_AVX2_BEGIN and QV_AVX2_END, so
// every function here is compiled for AVX2 there). Each then instantiates
// DrawTextBatchLanes<L>. Everything here has internal linkage, so the
// eight-lane copy can never be picked for the other.
//
// L provides: F (the vector), kLanes, Src (a group's sources), Zero, Ones,
// Set1, Load, Store (aligned), Add, Sub, Mul, Div, Select(mask, a, b), the
// comparisons Lt, Gt, Ge (false on NaN), Nge, Ngt, Nlt, Neq (true on NaN),
// Eq, Ord, Unord, MoveMask, LaneMask(bits), PixelX(x) (x, x + 1, ...),
// Count(bits), Colour(four floats), Sources(texels, colour, src) (the
// sources of a group, returning their alphas) and Blend(row, src, alphas,
// mask).
//
// Every value is computed with the same operations in the same order as the
// general path, lane by lane, so the pictures are identical.
#include <cmath>
#include <cstring>

#include "raster/tile_text.h"

namespace {

template <class L>
struct GroupValues {
  typename L::F z, u, v, rho;
};

// Depth test of a group's fragments: the lanes that pass, NaN handled as in
// DepthPasses.
template <class L>
inline typename L::F DepthPassMask(int32_t func, typename L::F z, typename L::F stored) {
  switch (func) {
  case CompareFunction::Never: return L::Zero();
  case CompareFunction::Always: return L::Ones();
  case CompareFunction::Less: return L::Nge(z, stored);
  case CompareFunction::LessEqual: return L::Ngt(z, stored);
  case CompareFunction::Equal: return L::And(L::Nlt(z, stored), L::Ngt(z, stored));
  case CompareFunction::GreaterEqual: return L::Ge(z, stored);
  case CompareFunction::NotEqual: return L::Or(L::Lt(z, stored), L::Gt(z, stored));
  default: return L::Gt(z, stored);
  }
}

// Alpha test of a group's fragments, as AlphaPasses: an unordered
// comparison counts as below and equal.
template <class L>
inline typename L::F AlphaPassMask(int32_t compare, typename L::F a, typename L::F reference) {
  switch (compare) {
  case CompareFunction::Never: return L::Zero();
  case CompareFunction::Less: return L::Nge(a, reference);
  case CompareFunction::LessEqual: return L::Ngt(a, reference);
  case CompareFunction::Equal: return L::Or(L::Unord(a, reference), L::Eq(a, reference));
  case CompareFunction::Greater: return L::Gt(a, reference);
  case CompareFunction::GreaterEqual: return L::Ge(a, reference);
  case CompareFunction::NotEqual: return L::And(L::Ord(a, reference), L::Neq(a, reference));
  default: return L::Ones();
  }
}

// a*x + b*y + c of plane i for a group of a row (the scalar path's order of
// operations).
template <class L>
inline typename L::F LanePlane(const LanePlanes* lp, int32_t i, typename L::F px, float py) {
  return L::Add(L::Add(L::Mul(L::Load(lp->a[i]), px), L::Set1(lp->b[i] * py)), L::Load(lp->c[i]));
}

// One triangle's values for a group; the lanes of `mask` that fail the depth
// test are cleared. With 1/w exactly 1 everywhere the coordinates are their
// planes (times 1); rho is only made for a sampler that reads it.
template <class L, bool Plain>
inline uint32_t TriangleGroup(const TextTile* tt, const LanePlanes* lp, int32_t depthOn, int32_t func, int32_t test,
                              int32_t readsRho, int32_t i0, typename L::F px, float py, uint32_t mask,
                              GroupValues<L>* out) {
  typename L::F z = L::Zero();
  if (depthOn) {
    z = LanePlane<L>(lp, 0, px, py);
    const typename L::F lo = L::Load(lp->zlo), hi = L::Load(lp->zhi);
    z = L::Select(L::Lt(z, lo), lo, z);
    z = L::Select(L::Gt(z, hi), hi, z);
    if (test) {
      mask &= L::MoveMask(DepthPassMask<L>(func, z, L::Load(tt->depth + i0)));
      if (!mask) return 0;
    }
  }
  out->z = z;
  if (Plain || lp->unitW) {
    out->u = LanePlane<L>(lp, 2, px, py);
    out->v = LanePlane<L>(lp, 3, px, py);
    if (readsRho) out->rho = LanePlane<L>(lp, 4, px, py);
    return mask;
  }
  const typename L::F w = L::Div(L::Set1(1.0f), LanePlane<L>(lp, 1, px, py));
  out->u = L::Mul(LanePlane<L>(lp, 2, px, py), w);
  out->v = L::Mul(LanePlane<L>(lp, 3, px, py), w);
  if (readsRho) out->rho = L::Mul(LanePlane<L>(lp, 4, px, py), w);
  return mask;
}

// Plain: no entry needs a per-pixel depth test, 1/w is exactly 1 for every
// entry, the sampler does not read rho and the alpha test passes everything
// (the program's text, once the tile's depth bounds decide each entry):
// the same operations without the checks.
template <class L, bool Plain>
void DrawTextBatchBody(TileContext* t, TextTile* tt, Groups* gs, const Batch* b, int32_t depthOn, int32_t func,
                       const FontFsConstants* fk, SampleBatchFn sample, int32_t readsRho, int32_t compare,
                       float referenceValue);

template <class L>
void DrawTextBatchLanes(TileContext* t, TextTile* tt, Groups* gs, const Batch* b) {
  const PipelineState* ps = b->entry[0].te->triangle->pipeline;
  const int32_t depthOn = t->depth.surface != nullptr && ps->depthTestEnable != 0;
  const int32_t func = ps->depthCompare;
  const FontFsConstants* fk = static_cast<const FontFsConstants*>(ps->fragmentConstants.data);
  const SampleBatchFn sample =
      fk && fk->texture && fk->sampler ? SelectSampleBatch(fk->texture, fk->sampler) : nullptr;
  const int32_t readsRho = sample && SampleBatchReadsRho(fk->texture, fk->sampler);
  const AlphaTestConstants* ak = static_cast<const AlphaTestConstants*>(ps->blendConstants.data);
  const int32_t compare = ak ? ak->compare : CompareFunction::Always;
  const float reference = ak ? ak->reference : 0.0f;
  bool plain = !readsRho && (compare < CompareFunction::Never || compare > CompareFunction::NotEqual || compare == CompareFunction::Always);
  for (uint32_t k = 0; k < b->count && plain; k++) plain = !b->entry[k].test && b->entry[k].planes.unitW;
  if (plain) DrawTextBatchBody<L, true>(t, tt, gs, b, depthOn, func, fk, sample, 0, CompareFunction::Always, reference);
  else DrawTextBatchBody<L, false>(t, tt, gs, b, depthOn, func, fk, sample, readsRho, compare, reference);
}

// Kept inline in the batch drawing whatever its size: its phases pass
// vectors between them, which must stay in registers.
#define QV_TEXT_PHASE inline __attribute__((always_inline))

// Phase 1, depth test and interpolation: the groups of the batch's covered
// pixels, each with the values of the triangle that owns its lanes. Lanes
// outside the coverage are computed too (their values may be anything,
// they are never used) and masked out before anything is written. Returns
// the number of groups.
template <class L, bool Plain>
QV_TEXT_PHASE uint32_t GatherGroups(TileContext* t, TextTile* tt, Groups* gs, const Batch* b, int32_t depthOn,
                                    int32_t func, int32_t readsRho) {
  typedef typename L::F F;
  constexpr int32_t W = L::kLanes;
  constexpr uint32_t kAll = (1u << W) - 1;
  uint32_t n = 0;
  for (int32_t y = 0; y < kTileSide; y++) {
    const uint32_t bits = b->covered[y];
    if (!bits) continue;
    const float py = (float)(t->tileY + y);
    for (int32_t g = 0; g < kTileSide / W; g++) {
      if (!((bits >> (W * g)) & kAll)) continue;
      const int32_t i0 = kTileSide * y + W * g;
      const F px = L::PixelX(t->tileX + W * g);
      GroupValues<L> all = {L::Zero(), L::Zero(), L::Zero(), L::Zero()}, one = all;
      uint32_t live = 0;
      for (uint32_t k = 0; k < b->count; k++) {
        const BatchEntry* e = &b->entry[k];
        const uint32_t mask = (e->rows[y] >> (W * g)) & kAll;
        if (!mask) continue;
        const uint32_t passed =
            TriangleGroup<L, Plain>(tt, &e->planes, depthOn, func, Plain ? 0 : e->test, readsRho, i0, px, py, mask, &one);
        if (!passed) continue;
        if (!live) {
          all = one;
        } else {
          const F take = L::LaneMask(passed);
          all.z = L::Select(take, one.z, all.z);
          all.u = L::Select(take, one.u, all.u);
          all.v = L::Select(take, one.v, all.v);
          if (readsRho) all.rho = L::Select(take, one.rho, all.rho);
        }
        live |= passed;
      }
      if (!live) continue;
      gs->index[n] = (uint8_t)i0;
      gs->live[n] = (uint8_t)live;
      L::Store(gs->z + W * n, all.z);
      L::Store(gs->u + W * n, all.u);
      L::Store(gs->v + W * n, all.v);
      if (readsRho) L::Store(gs->rho + W * n, all.rho);
      n++;
    }
  }
  return n;
}

// What the blend phase kept, for the tile's depth bounds.
template <class L>
struct KeptDepths {
  uint32_t kept, written;    // pixels kept; of them, first depth writes this pass
  typename L::F lo, hi, nan; // lane-wise bounds of the written depths, NaN seen
};

// Phase 3, AlphaBlendBs and the depth write of the fragments it kept.
template <class L, bool Plain>
QV_TEXT_PHASE void BlendGroups(TileContext* t, TextTile* tt, const Groups* gs, uint32_t n, int32_t depthOn,
                               int32_t compare, typename L::F colour, typename L::F reference, KeptDepths<L>* out) {
  typedef typename L::F F;
  constexpr int32_t W = L::kLanes;
  uint32_t kept = 0, written = 0;
  F lo = L::Set1(t->tmin), hi = L::Set1(t->tmax), nan = L::Zero();
  for (uint32_t k = 0; k < n; k++) {
    typename L::Src src;
    const F a = L::Sources(gs->texel + 4 * W * k, colour, &src);
    const uint32_t mask = Plain ? gs->live[k] : gs->live[k] & L::MoveMask(AlphaPassMask<L>(compare, a, reference));
    if (!mask) continue;
    const uint32_t i0 = gs->index[k];
    L::Blend(tt->color + 4 * i0, src, a, mask);
    kept += L::Count(mask);
    if (depthOn) {
      const F keep = L::LaneMask(mask);
      const F z = L::Load(gs->z + W * k);
      float* dz = tt->depth + i0;
      L::Store(dz, L::Select(keep, z, L::Load(dz)));
      lo = L::Select(L::And(keep, L::Lt(z, lo)), z, lo);
      hi = L::Select(L::And(keep, L::Gt(z, hi)), z, hi);
      nan = L::Or(nan, L::And(keep, L::Unord(z, z)));
      uint32_t& unwritten = tt->unwritten[i0 >> kTileSideBits];
      const uint32_t shift = i0 & (kTileSide - 1);
      written += L::Count((unwritten >> shift) & mask);
      unwritten &= ~(mask << shift);
    }
  }
  *out = KeptDepths<L>{kept, written, lo, hi, nan};
}

// Phase 4, the tile's depth bounds after the batch's depth writes.
template <class L>
QV_TEXT_PHASE void UpdateDepthBounds(TileContext* t, const Batch* b, const KeptDepths<L>& d) {
  constexpr int32_t W = L::kLanes;
  // A triangle that kept every pixel of the tile (the others of its batch
  // then cover none) leaves exactly its own depths.
  const TileEntry* whole = nullptr;
  if (d.kept == kTilePixels)
    for (uint32_t k = 0; k < b->count && !whole; k++) {
      uint32_t every = kRowBits;
      for (uint32_t y = 0; y < kTileSide; y++) every &= b->entry[k].rows[y];
      if (every == kRowBits) whole = b->entry[k].te;
    }
  if (whole) {
    t->unwritten = 0;
    t->tmin = whole->zmin;
    t->tmax = whole->zmax;
  } else {
    // Lane by lane, like one pixel after the other (only the sign of a zero
    // can depend on the order, and the tile decisions do not see it).
    alignas(32) float l8[W], h8[W];
    L::Store(l8, d.lo);
    L::Store(h8, d.hi);
    float tmin = l8[0], tmax = h8[0];
    for (int32_t j = 1; j < W; j++) {
      if (l8[j] < tmin) tmin = l8[j];
      if (h8[j] > tmax) tmax = h8[j];
    }
    t->unwritten -= (int32_t)d.written;
    t->tmin = tmin;
    t->tmax = tmax;
  }
  // A NaN in the buffer defeats every bound: no more tile-level decisions.
  if (L::MoveMask(d.nan)) {
    t->tmin = -INFINITY;
    t->tmax = INFINITY;
  }
}

#undef QV_TEXT_PHASE

// Pixels a group at a time, in the four phases of the two built-in stages.
template <class L, bool Plain>
void DrawTextBatchBody(TileContext* t, TextTile* tt, Groups* gs, const Batch* b, int32_t depthOn, int32_t func,
                       const FontFsConstants* fk, SampleBatchFn sample, int32_t readsRho, int32_t compare,
                       float referenceValue) {
  constexpr int32_t W = L::kLanes;
  if (Plain) readsRho = 0;
  const uint32_t n = GatherGroups<L, Plain>(t, tt, gs, b, depthOn, func, readsRho);
  if (n == 0) return;

  // Phase 2, FontFs: texel times colour (zeros without constants: no
  // texels, colour 0).
  if (sample) sample(fk->texture, fk->sampler, gs->u, gs->v, gs->rho, W * n, gs->texel);
  else memset(gs->texel, 0, sizeof(float) * 4 * W * n);
  const float noColour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  KeptDepths<L> kept;
  BlendGroups<L, Plain>(t, tt, gs, n, depthOn, compare, L::Colour(fk ? fk->colour : noColour), L::Set1(referenceValue),
                        &kept);
  if (!depthOn || kept.kept == 0) return;
  UpdateDepthBounds<L>(t, b, kept);
}

} // namespace
