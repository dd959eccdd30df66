// Tile bins: opening them, the bin region allocator and the tile pass.
#include "raster/bin_internal.h"
#include "runtime/spin.h"

void InitTileBinner(TileBinner* b, RenderState* renderState, uint8_t* regionStart, uint8_t* regionEnd) {
  b->renderState = renderState;
  b->phase.store(kBinsClosed);
  b->bins = nullptr;
  b->binCount = 0;
  b->tileJobs = nullptr;
  b->tileJobCount = 0;
  b->regionStart = regionStart;
  b->regionEnd = regionEnd;
  b->bump.store((uintptr_t)regionStart);
  b->committed.store((uintptr_t)regionStart);
  b->queueBase = nullptr;
  b->setupJobs = nullptr;
  b->setupJobCount = 0;
  b->drawLimit = UINT32_MAX;
  b->orphans.store(0);
  b->gate.store(UINT32_MAX);
  OsInitCriticalSection(&b->lock);
  OsInitConditionVariable(&b->condition);
}

void DestroyTileBinner(TileBinner* b) {
  OsDestroyConditionVariable(&b->condition);
  OsDeleteCriticalSection(&b->lock);
}

// Empties every bin and restarts the region; the layout stays as it is, so
// set-up jobs may read it meanwhile.
static void ResetBins(TileBinner* b) {
  for (uint32_t i = 0; i < b->binCount; i++) {
    TileBin* bin = &b->bins[i];
    bin->sentinel.key = 0;
    bin->sentinel.next = nullptr;
    bin->sentinel.entry = nullptr;
    bin->tail.store(&bin->sentinel, std::memory_order_relaxed);
  }
  uintptr_t data = (uintptr_t)(b->tileJobs + b->binCount);
  b->committed.store(data, std::memory_order_release);
  b->bump.store(data, std::memory_order_release);
  b->phase.store(kBinsOpen);
}

void OpenBins(TileBinner* b) {
  if (b->phase.fetch_add(0) == kBinsOpen) return;
  const RenderState* s = b->renderState;
  uint32_t tiles = (s->tileEnd >> 8) - (s->tileFirst >> 8);
  uintptr_t start = ((uintptr_t)b->regionStart + 63) & ~(uintptr_t)63;
  if (start + (uintptr_t)tiles * (sizeof(TileBin) + sizeof(TileJob)) > (uintptr_t)b->regionEnd) {
    tiles = 0; // nothing can be binned; the tile pass only resets the clears
  }
  b->bins = reinterpret_cast<TileBin*>(start);
  b->binCount = tiles;
  b->tileJobs = reinterpret_cast<TileJob*>(b->bins + tiles);
  b->tileJobCount = 0;
  ResetBins(b);
}

namespace {

struct TileJobBuilder {
  TileBinner* binner;
  uint32_t firstTile;
  uint32_t drawLimit;
};

void EmitTileJob(void* user, uint32_t code, EdgeList) {
  TileJobBuilder* t = static_cast<TileJobBuilder*>(user);
  TileBinner* b = t->binner;
  TileJob* job = &b->tileJobs[b->tileJobCount++];
  job->renderState = b->renderState;
  job->tile = (int32_t)(code >> 8);
  job->drawLimit = t->drawLimit;
  job->bin = &b->bins[(code >> 8) - t->firstTile];
}

} // namespace

void RunTilePass(TileBinner* b) {
  if (b->phase.fetch_add(0) != kBinsOpen) return;
  RenderState* s = b->renderState;
  if (b->binCount != 0) {
    TileJobBuilder builder = {b, s->tileFirst >> 8, b->drawLimit};
    b->tileJobCount = 0;
    WalkTiles(s, s->viewportEdges, 0x4321, EmitTileJob, &builder);
    if (b->tileJobCount != 0) {
      PrepareTileConverters(s);
      SubmitJobs(&b->jobs, b->tileJobCount, RunTileJob, b->tileJobs);
      WaitJobs(&b->jobs);
    }
  }
  s->depthClearState = kClearNone;
  for (uint32_t i = 0; i < kMaxColorTargets; i++) s->colorClearState[i] = kClearNone;
  b->phase.store(kBinsClosed);
}

uint8_t* BinAllocate(TileBinner* b, uint64_t size) {
  for (;;) {
    uintptr_t end = (uintptr_t)b->regionEnd;
    uintptr_t dataStart = (uintptr_t)(b->tileJobs + b->binCount);
    if (dataStart > end || size > end - dataStart) return nullptr;
    uintptr_t old = b->bump.fetch_add(size, std::memory_order_acq_rel);
    if (old + size <= end) return reinterpret_cast<uint8_t*>(old);
    if (old <= end) {
      // This block straddles the end: once every block below it is written,
      // draw what is binned below the lowest queue position still being set
      // up, and start the region again. Jobs that got further redo the rest,
      // so the picture does not depend on which thread ran ahead.
      uint32_t spins = 0;
      while (b->committed.load(std::memory_order_acquire) != old) SpinBackOff(&spins);
      const uint32_t limit = LowestUnbinnedPosition(b);
      b->drawLimit = limit;
      RunTilePass(b);
      b->drawLimit = UINT32_MAX;
      RewindSetupJobs(b, limit);
      b->gate.store(limit);
      OsEnterCriticalSection(&b->lock);
      ResetBins(b);
      OsWakeAllConditionVariable(&b->condition);
      OsLeaveCriticalSection(&b->lock);
    } else {
      OsEnterCriticalSection(&b->lock);
      while (b->bump.load(std::memory_order_acquire) >= end) OsSleepConditionVariable(&b->condition, &b->lock);
      OsLeaveCriticalSection(&b->lock);
    }
  }
}

void BinCommit(TileBinner* b, uint64_t size) { b->committed.fetch_add(size, std::memory_order_acq_rel); }
