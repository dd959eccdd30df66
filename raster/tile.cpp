// Tile job: one tile (kTileSide square) for the whole tile pass. Load or
// clear the targets into its kTilePixels pixel records (Morton order), draw the tile's triangles
// with coverage, depth, interpolation and the fragment and blend stages,
// then store the records back.
#include <cmath>
#include <cstring>

#include "raster/raster_testing.h"
#include "raster/tile_internal.h"

std::atomic<int32_t> s_tileFastPaths{1};

void SetTileFastPathsForTest(int32_t enabled) { s_tileFastPaths.store(enabled ? 1 : 0); }

namespace {

constexpr float kLargestFloat = 3.4028235e38f;
const int32_t kFloatFormats[5] = {Undefined, Fp32, Fp32Vec2, Fp32Vec3, Fp32Vec4};

// Where colour slot i's floats sit in a pixel record (offset, and count, 0
// when the layout's entry is unusable) and how many the converters move.
uint32_t SlotFloats(const RenderState* s, uint32_t i, uint32_t* offset, uint32_t* count) {
  const RenderTargetLayout& layout = s->targetLayout;
  const uint32_t layoutCount = layout.entryCount < kMaxColorTargets ? layout.entryCount : kMaxColorTargets;
  *offset = 0;
  *count = 0;
  if (i >= layoutCount) return 4;
  *offset = layout.entries[i].offset / 4;
  const uint32_t n = layout.entries[i].count;
  *count = (n >= 1 && n <= 4 && *offset + n <= kRecordFloats) ? n : 0;
  return *count ? n : 4;
}

inline uint32_t LocalIndex(const TileContext* t, int32_t x, int32_t y) {
  return MortonOf((uint32_t)(x - t->tileX), (uint32_t)(y - t->tileY));
}

void ClipToSurface(const TileContext* t, TargetSlot* slot) {
  const Surface* s = slot->surface;
  int32_t w = ScreenClamped(s->levels[0].width);
  int32_t h = ScreenClamped(s->levels[0].height);
  slot->x0 = t->rx0;
  slot->y0 = t->ry0;
  slot->x1 = t->rx1 < w ? t->rx1 : w;
  slot->y1 = t->ry1 < h ? t->ry1 : h;
}

// Coverage as pixel-record pointers.
struct RecordSink {
  PixelRecord* records;
  PixelRecord** out;
  void Block(uint32_t code, int32_t, int32_t, uint32_t m) {
    uint32_t n = 1u << (2 * m);
    for (uint32_t i = 0; i < n; i++) *out++ = &records[code + i];
  }
  void Pixel(uint32_t code, int32_t, int32_t) { *out++ = &records[code]; }
};

// ---- Load and store -------------------------------------------------------------
void LoadTile(TileContext* t, const RenderState* s, PixelRecord* rec, int32_t binEmpty) {
  const int32_t whole = WholeTile(t, t->rx0, t->ry0, t->rx1, t->ry1);
  TargetSlot* d = &t->depth;
  // A pending depth clear gives every record its value in the first pass.
  float initialDepth = 0;
  if (d->surface && d->loadState == kClearPending && !binEmpty) initialDepth = ClearedDepthValue(s, d);
  for (uint32_t i = 0; i < kTilePixels; i++) {
    rec[i].x = (float)(t->tileX + (int32_t)MortonX(i));
    rec[i].y = (float)(t->tileY + (int32_t)MortonY(i));
    rec[i].depthUnwritten = (uint32_t)whole;
    rec[i].storedDepth = initialDepth;
  }
  const int32_t depthLoad = TargetLoadRule(d, !binEmpty);
  if (depthLoad == kTargetFill) {
    FillSlot(d);
  } else if (depthLoad == kTargetClearInTile) {
    t->clearedDepth = initialDepth;
    t->cleared = 1;
    t->depthTouched = 1;
  } else if (depthLoad == kTargetRead) {
    int32_t direct = d->surface->format == Fp32;
    for (int32_t y = d->y0; y < d->y1; y++)
      for (int32_t x = d->x0; x < d->x1; x++) {
        PixelRecord* p = &rec[LocalIndex(t, x, y)];
        const uint8_t* src = ElementAt(d->surface, x, y);
        if (direct) memcpy(&p->storedDepth, src, 4);
        else d->load.convertOne(&d->load, &p->storedDepth, src);
      }
    t->depthTouched = 1;
  }
  t->unwritten = whole ? kTilePixels : 0;
  if (!whole)
    for (int32_t y = t->ry0; y < t->ry1; y++)
      for (int32_t x = t->rx0; x < t->rx1; x++) {
        rec[LocalIndex(t, x, y)].depthUnwritten = 1;
        t->unwritten++;
      }

  for (uint32_t i = 0; i < kMaxColorTargets; i++) {
    TargetSlot* c = &t->color[i];
    const int32_t load = TargetLoadRule(c, !binEmpty && ColorSlotMapped(t, i));
    if (load == kTargetFill) {
      FillSlot(c);
    } else if (load == kTargetClearInTile) {
      float v[4];
      c->load.convertOne(&c->load, v, c->clearValue);
      if (c->floatCount == 4 && WholeTile(t, c->x0, c->y0, c->x1, c->y1)) {
        for (uint32_t k = 0; k < kTilePixels; k++) memcpy(&rec[k].target[c->floatOffset], v, sizeof(v));
      } else if (c->floatCount == 4) {
        for (int32_t y = c->y0; y < c->y1; y++)
          for (int32_t x = c->x0; x < c->x1; x++) memcpy(&rec[LocalIndex(t, x, y)].target[c->floatOffset], v, sizeof(v));
      } else {
        for (int32_t y = c->y0; y < c->y1; y++)
          for (int32_t x = c->x0; x < c->x1; x++)
            memcpy(&rec[LocalIndex(t, x, y)].target[c->floatOffset], v, 4 * c->floatCount);
      }
      t->colorTouched = 1;
    } else if (load == kTargetRead) {
      for (int32_t y = c->y0; y < c->y1; y++)
        for (int32_t x = c->x0; x < c->x1; x++)
          c->load.convertOne(&c->load, &rec[LocalIndex(t, x, y)].target[c->floatOffset], ElementAt(c->surface, x, y));
      t->colorTouched = 1;
    }
  }
}

// Row of a tile's pixel records: Morton indices of (0..15, y) are the x
// spread plus the y spread.
constexpr uint8_t kSpread16[kTileSide] = {0, 1, 4, 5, 16, 17, 20, 21, 64, 65, 68, 69, 80, 81, 84, 85};

inline void GatherTargetRow(const TileContext* t, const PixelRecord* rec, const TargetSlot* c, int32_t y,
                            float* row) {
  const PixelRecord* line = rec + 2 * kSpread16[y - t->tileY];
  const uint32_t offset = c->floatOffset;
  for (int32_t x = c->x0; x < c->x1; x++) memcpy(row + 4 * (x - c->x0), &line[kSpread16[x - t->tileX]].target[offset], 16);
}

void StoreTile(TileContext* t, PixelRecord* rec) {
  if (t->colorTouched) {
    for (uint32_t i = 0; i < t->layoutCount && i < kMaxColorTargets; i++) {
      TargetSlot* c = &t->color[i];
      if (!c->surface || !ColorSlotMapped(t, i)) continue;
      if (c->surface->layout == kLayoutLinear && c->floatCount == 4) {
        // Linear rows: gather each row of the tile and convert it in one call.
        float row[kTileSide * 4];
        for (int32_t y = c->y0; y < c->y1; y++) {
          GatherTargetRow(t, rec, c, y, row);
          c->store.convertMany(&c->store, ElementAt(c->surface, c->x0, y), row, (uint32_t)(c->x1 - c->x0));
        }
        continue;
      }
      for (int32_t y = c->y0; y < c->y1; y++)
        for (int32_t x = c->x0; x < c->x1; x++)
          c->store.convertOne(&c->store, ElementAt(c->surface, x, y), &rec[LocalIndex(t, x, y)].target[c->floatOffset]);
    }
  }
  TargetSlot* d = &t->depth;
  if (t->depthTouched && d->surface && d->surface->format == Fp32 && d->surface->layout == kLayoutLinear) {
    for (int32_t y = d->y0; y < d->y1; y++) {
      const PixelRecord* line = rec + 2 * kSpread16[y - t->tileY];
      float row[kTileSide];
      for (int32_t x = d->x0; x < d->x1; x++) row[x - d->x0] = line[kSpread16[x - t->tileX]].storedDepth;
      memcpy(ElementAt(d->surface, d->x0, y), row, 4 * (size_t)(d->x1 - d->x0));
    }
  } else if (t->depthTouched && d->surface) {
    int32_t direct = d->surface->format == Fp32;
    for (int32_t y = d->y0; y < d->y1; y++)
      for (int32_t x = d->x0; x < d->x1; x++) {
        uint8_t* dst = ElementAt(d->surface, x, y);
        const PixelRecord* p = &rec[LocalIndex(t, x, y)];
        if (direct) memcpy(dst, &p->storedDepth, 4);
        else d->store.convertOne(&d->store, dst, &p->storedDepth);
      }
  }
}

// Coverage of the entry in this tile, in Morton order: the end of the
// record pointers written to list.
inline PixelRecord** CoverEntry(TileContext* t, const TileEntry* te, PixelRecord** list) {
  const BinnedTriangle* bt = te->triangle;
  EdgeList edges = t->fast ? te->edges : FullEdgeList((uint32_t)bt->edgeCount);
  if (edges == 0) {
    for (uint32_t i = 0; i < kTilePixels; i++) list[i] = &t->records[i];
    return list + kTilePixels;
  }
  for (int32_t k = 0; k < bt->edgeCount && k < (int32_t)kMaxEdges; k++) t->steps[k] = EdgeSteps(bt->renderState, bt->edges[k]);
  RecordSink sink = {t->records, list};
  CoverBlock(t->steps, &sink, 0, t->tileX, t->tileY, kTileSideBits, edges);
  return sink.out;
}

// Depth, 1/w and facing of the covered pixels, dropping those that fail the
// depth test when one is needed. Fragment depth stays within the triangle's
// depth range, so the tile bounds made from it hold for every pixel.
inline PixelRecord** DepthAndInverseW(const BinnedTriangle* bt, int32_t depthOn, int32_t test, int32_t func,
                                      PixelRecord** list, PixelRecord** end) {
  const Plane invWPlane = bt->fixedPlanes[0], depthPlane = bt->fixedPlanes[1];
  const float zlo = bt->zmin, zhi = bt->zmax;
  const int32_t facing = bt->facing;
  if (test) {
    PixelRecord** kept = list;
    for (PixelRecord** it = list; it != end; ++it) {
      PixelRecord* p = *it;
      float z = PlaneAt(depthPlane, p->x, p->y);
      if (z < zlo) z = zlo;
      if (z > zhi) z = zhi;
      if (!DepthPasses(func, z, p->storedDepth)) continue;
      float iw = PlaneAt(invWPlane, p->x, p->y);
      p->fragmentDepth = z;
      p->invW = iw;
      p->w = 1.0f / iw;
      p->facing = facing;
      *kept++ = p;
    }
    return kept;
  }
  for (PixelRecord** it = list; it != end; ++it) {
    PixelRecord* p = *it;
    if (depthOn) {
      float z = PlaneAt(depthPlane, p->x, p->y);
      if (z < zlo) z = zlo;
      if (z > zhi) z = zhi;
      p->fragmentDepth = z;
    }
    float iw = PlaneAt(invWPlane, p->x, p->y);
    p->invW = iw;
    p->w = 1.0f / iw;
    p->facing = facing;
  }
  return end;
}

// Perspective-correct interpolation of the attribute planes into the
// layout the fragment stage reads (or the vertex stage wrote).
inline void Interpolate(const BinnedTriangle* bt, PixelRecord** list, PixelRecord** end) {
  const PipelineState* ps = bt->pipeline;
  const StageDescriptor* vs = ps->vertexStage;
  const StageDescriptor* fs = ps->fragmentStage;
  const StageLayout* layout = fs ? fs->inputLayout : (vs ? vs->outputLayout : nullptr);
  if (!layout || bt->attributeCount <= 0) return;
  const Plane* planes = bt->attributePlanes;
  const uint32_t planeCount = (uint32_t)bt->attributeCount;
  const uint32_t entries = layout->entryCount < kMaxLayoutEntries ? layout->entryCount : kMaxLayoutEntries;
  if (entries == 1 && layout->entries[0].offset == 0 && layout->entries[0].count == 4 && planeCount >= 4) {
    // One four-float entry at the start: what the text stages use.
    const Plane p0 = planes[0], p1 = planes[1], p2 = planes[2], p3 = planes[3];
    for (PixelRecord** it = list; it != end; ++it) {
      PixelRecord* p = *it;
      const float x = p->x, y = p->y, w = p->w;
      p->interpolated[0] = PlaneAt(p0, x, y) * w;
      p->interpolated[1] = PlaneAt(p1, x, y) * w;
      p->interpolated[2] = PlaneAt(p2, x, y) * w;
      p->interpolated[3] = PlaneAt(p3, x, y) * w;
    }
    return;
  }
  for (PixelRecord** it = list; it != end; ++it) {
    PixelRecord* p = *it;
    const float x = p->x, y = p->y, w = p->w;
    uint32_t k = 0;
    for (uint32_t e = 0; e < entries && k < planeCount; e++) {
      uint32_t base = layout->entries[e].offset / 4;
      for (uint32_t j = 0; j < layout->entries[e].count && k < planeCount; j++, k++) {
        if (base + j < kRecordFloats) p->interpolated[base + j] = PlaneAt(planes[k], x, y) * w;
      }
    }
  }
}

// Fragment and blend stages, or the copies that stand in for a missing one:
// the end of the pixels they kept.
inline PixelRecord** RunStages(const PipelineState* ps, PixelRecord** list, PixelRecord** end) {
  const StageDescriptor* vs = ps->vertexStage;
  const StageDescriptor* fs = ps->fragmentStage;
  if (fs) {
    end = StageFragmentFn(fs)(ps->fragmentConstants.data, list, end);
  } else {
    uint32_t bytes = (vs && vs->outputLayout) ? vs->outputLayout->totalSize : 0;
    if (bytes > sizeof(PixelRecord::outputs)) bytes = sizeof(PixelRecord::outputs);
    for (PixelRecord** it = list; it != end; ++it) memcpy((*it)->outputs, (*it)->interpolated, bytes);
  }
  if (end == list) return end;
  const StageDescriptor* bs = ps->blendStage;
  if (bs) return StageBlendFn(bs)(ps->blendConstants.data, list, end);
  const StageDescriptor* last = fs ? fs : vs;
  uint32_t bytes = (last && last->outputLayout) ? last->outputLayout->totalSize : 0;
  if (bytes > sizeof(PixelRecord::target)) bytes = sizeof(PixelRecord::target);
  for (PixelRecord** it = list; it != end; ++it) memcpy((*it)->target, (*it)->outputs, bytes);
  return end;
}

// Depth write of the kept pixels, and the tile's depth bounds with it.
inline void WriteDepth(TileContext* t, const TileEntry* te, PixelRecord** list, PixelRecord** end) {
  int32_t sawNaN = 0;
  if (end == list + kTilePixels && t->fast) {
    for (PixelRecord** it = list; it != end; ++it) {
      PixelRecord* p = *it;
      p->storedDepth = p->fragmentDepth;
      p->depthUnwritten = 0;
      sawNaN |= p->fragmentDepth != p->fragmentDepth;
    }
    t->unwritten = 0;
    t->tmin = te->zmin;
    t->tmax = te->zmax;
  } else {
    for (PixelRecord** it = list; it != end; ++it) {
      PixelRecord* p = *it;
      float z = p->fragmentDepth;
      p->storedDepth = z;
      if (z < t->tmin) t->tmin = z;
      if (z > t->tmax) t->tmax = z;
      sawNaN |= z != z;
      t->unwritten -= (int32_t)p->depthUnwritten;
      p->depthUnwritten = 0;
    }
  }
  // A NaN in the buffer defeats every bound: no more tile-level decisions.
  if (sawNaN) {
    t->tmin = -INFINITY;
    t->tmax = INFINITY;
  }
}

// ---- One triangle in this tile ---------------------------------------------------
void DrawEntry(TileContext* t, const TileEntry* te, PixelRecord** list) {
  const BinnedTriangle* bt = te->triangle;
  const PipelineState* ps = bt->pipeline;
  const int32_t depthOn = t->depth.surface != nullptr && ps->depthTestEnable != 0;
  const int32_t func = ps->depthCompare;
  int32_t accept = 0;
  if (depthOn && t->fast && !TileDepthDecision(t, te, func, &accept)) return;

  PixelRecord** end = CoverEntry(t, te, list);
  if (end == list) return;
  end = DepthAndInverseW(bt, depthOn, depthOn && !accept && func != CompareFunction::Always, func, list, end);
  if (end == list) return;
  Interpolate(bt, list, end);
  end = RunStages(ps, list, end);
  if (!depthOn || end == list) return;
  WriteDepth(t, te, list, end);
}

} // namespace

void FillClearRun(const RenderState* s, const ClearRun* run) {
  auto fill = [run](Surface* surface, const uint8_t* value) {
    const int32_t w = ScreenClamped(surface->levels[0].width);
    const int32_t h = ScreenClamped(surface->levels[0].height);
    const int32_t x1 = run->x1 < w ? run->x1 : w, y1 = run->y1 < h ? run->y1 : h;
    if (x1 <= run->x0 || y1 <= run->y0) return;
    Region r = {(uint32_t)run->x0, (uint32_t)run->y0, (uint32_t)(x1 - run->x0), (uint32_t)(y1 - run->y0)};
    surface->FillRegion(surface, 0, &r, value);
  };
  if (s->depthTarget && s->depthClearState == kClearPending) fill(s->depthTarget, s->depthClearValue);
  for (uint32_t i = 0; i < kMaxColorTargets; i++)
    if (s->colorTargets[i] && s->colorClearState[i] == kClearPending) fill(s->colorTargets[i], s->colorClearValue[i]);
}

void PrepareTileConverters(RenderState* s) {
  if (s->depthTarget) {
    initConverter(&s->depthLoad, Fp32, s->depthTarget->format);
    initConverter(&s->depthStore, s->depthTarget->format, Fp32);
  }
  for (uint32_t i = 0; i < kMaxColorTargets; i++) {
    if (!s->colorTargets[i]) continue;
    uint32_t offset, count;
    const uint32_t n = SlotFloats(s, i, &offset, &count);
    initConverter(&s->colorLoad[i], kFloatFormats[n], s->colorTargets[i]->format);
    initConverter(&s->colorStore[i], s->colorTargets[i]->format, kFloatFormats[n]);
  }
}

namespace {

// The tile's rectangle, its part of the viewport and the pass's settings;
// the depth slot (the colour slots follow once the bin is known to draw).
inline void BeginTile(TileContext* t, const RenderState* s, int32_t tile) {
  const float* corner = MortonTileTable[tile & (kTileCount - 1)];
  t->tileX = (int32_t)corner[0];
  t->tileY = (int32_t)corner[1];
  int32_t vx1 = s->viewportX + s->viewportWidth, vy1 = s->viewportY + s->viewportHeight;
  t->rx0 = t->tileX > s->viewportX ? t->tileX : s->viewportX;
  t->ry0 = t->tileY > s->viewportY ? t->tileY : s->viewportY;
  t->rx1 = t->tileX + kTileSide < vx1 ? t->tileX + kTileSide : vx1;
  t->ry1 = t->tileY + kTileSide < vy1 ? t->tileY + kTileSide : vy1;
  t->sortMode = s->sortMode;
  t->depthNear = s->depthNear;
  t->depthFar = s->depthFar;
  t->tmin = kLargestFloat;
  t->tmax = -kLargestFloat;
  t->unwritten = 0;
  t->cleared = 0;
  t->clearedDepth = 0;
  t->colorTouched = 0;
  t->depthTouched = 0;

  const RenderTargetLayout& layout = s->targetLayout;
  t->layoutCount = layout.entryCount < kMaxColorTargets ? layout.entryCount : kMaxColorTargets;

  t->depth.surface = s->depthTarget;
  t->depth.loadState = s->depthClearState;
  t->depth.clearValue = s->depthClearValue;
  t->depth.floatOffset = 0;
  t->depth.floatCount = 1;
  if (t->depth.surface) ClipToSurface(t, &t->depth);
}

// Same picture every run: draw in queue order (and sort from there). A pass
// of a full region leaves out what comes after its limit.
inline void OrderBin(TileBin* bin, uint32_t drawLimit) {
  RestoreQueueOrder(&bin->sentinel);
  if (drawLimit == UINT32_MAX) return;
  TileNode* last = &bin->sentinel;
  while (last->next && last->next->order < drawLimit) last = last->next;
  last->next = nullptr;
}

// Nothing is drawn: pending clears become fills, everything else stays.
inline void FillEmptyTile(TileContext* t, const RenderState* s) {
  if (t->depth.surface && t->depth.loadState == kClearPending) FillSlot(&t->depth);
  for (uint32_t i = 0; i < kMaxColorTargets; i++) {
    TargetSlot* c = &t->color[i];
    c->surface = s->colorTargets[i];
    if (!c->surface || s->colorClearState[i] != kClearPending) continue;
    c->clearValue = s->colorClearValue[i];
    ClipToSurface(t, c);
    FillSlot(c);
  }
}

// The targets' converters (made once per pass) and the colour slots.
inline void BindTargets(TileContext* t, const RenderState* s) {
  if (t->depth.surface) {
    t->depth.load = s->depthLoad;
    t->depth.store = s->depthStore;
  }
  for (uint32_t i = 0; i < kMaxColorTargets; i++) {
    TargetSlot* c = &t->color[i];
    c->surface = s->colorTargets[i];
    c->loadState = s->colorClearState[i];
    c->clearValue = s->colorClearValue[i];
    c->floatOffset = 0;
    c->floatCount = 0;
    if (!c->surface) continue;
    ClipToSurface(t, c);
    SlotFloats(s, i, &c->floatOffset, &c->floatCount);
    c->load = s->colorLoad[i];
    c->store = s->colorStore[i];
  }
}

// Keys grow with window depth; which end is near depends on the range.
inline void SortBin(const TileContext* t, TileBin* bin) {
  if (t->sortMode == SortMode::SortNearestFirst)
    ListSort(&bin->sentinel, t->depthFar >= t->depthNear ? SortOrder::Ascending : SortOrder::Descending);
  else if (t->sortMode == SortMode::SortFarthestFirst)
    ListSort(&bin->sentinel, t->depthFar <= t->depthNear ? SortOrder::Ascending : SortOrder::Descending);
}

} // namespace

void RunTileJob(void* user, uint32_t index, uint32_t count) {
  const TileJob* job = &static_cast<const TileJob*>(user)[index];
  const RenderState* s = job->renderState;
  TileBin* bin = job->bin;

  PixelRecord records[kTilePixels];
  PixelRecord* list[kTilePixels];
  TileContext t;
  t.records = records;
  t.fast = s_tileFastPaths.load(std::memory_order_relaxed) != 0;
  BeginTile(&t, s, job->tile);
  OrderBin(bin, job->drawLimit);
  const int32_t binEmpty = bin->sentinel.next == nullptr;
  if (binEmpty) {
    FillEmptyTile(&t, s);
    return;
  }
  BindTargets(&t, s);
  SortBin(&t, bin);
  if (t.fast && TextPathFits(&t, bin)) {
    RunTextTile(&t, s, bin);
    return;
  }
  LoadTile(&t, s, records, binEmpty);
  for (const TileNode* node = bin->sentinel.next; node; node = node->next) DrawEntry(&t, node->entry, list);
  StoreTile(&t, records);
}
