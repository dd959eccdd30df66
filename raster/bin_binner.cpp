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
  uintptr_t data = (uintptr_t)b->dataStart;
  b->committed.store(data, std::memory_order_release);
  b->bump.store(data, std::memory_order_release);
  b->phase.store(kBinsOpen);
}

void OpenBins(TileBinner* b) {
  if (b->phase.fetch_add(0) == kBinsOpen) return;
  const RenderState* s = b->renderState;
  uint32_t tiles = (s->tileEnd >> kTileCodeBits) - (s->tileFirst >> kTileCodeBits);
  uintptr_t start = ((uintptr_t)b->regionStart + 63) & ~(uintptr_t)63;
  const uintptr_t perTile = sizeof(TileBin) + sizeof(TileJob) + sizeof(uint32_t) + sizeof(ClearRun);
  if (((start + (uintptr_t)tiles * perTile + 63) & ~(uintptr_t)63) > (uintptr_t)b->regionEnd) {
    tiles = 0; // nothing can be binned; the tile pass only resets the clears
  }
  b->bins = reinterpret_cast<TileBin*>(start);
  b->binCount = tiles;
  b->tileJobs = reinterpret_cast<TileJob*>(b->bins + tiles);
  b->tileJobCount = 0;
  b->clearRuns = reinterpret_cast<ClearRun*>(b->tileJobs + tiles);
  b->busyTiles = reinterpret_cast<uint32_t*>(b->clearRuns + tiles);
  b->busyCount = 0;
  b->clearRunCount = 0;
  b->dataStart = reinterpret_cast<uint8_t*>(((uintptr_t)(b->busyTiles + tiles) + 63) & ~(uintptr_t)63);
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
  job->tile = (int32_t)(code >> kTileCodeBits);
  job->drawLimit = t->drawLimit;
  job->bin = &b->bins[(code >> kTileCodeBits) - t->firstTile];
}

// Splits the walked tiles into those with something to draw and runs of
// empty ones along each tile row; the runs are only made when a clear is
// pending, since an empty tile has nothing else to do.
void SharePassWork(TileBinner* b) {
  const RenderState* s = b->renderState;
  int32_t clears = s->depthTarget && s->depthClearState == kClearPending;
  for (uint32_t i = 0; i < kMaxColorTargets; i++)
    clears |= s->colorTargets[i] && s->colorClearState[i] == kClearPending;
  uint64_t empty[kScreenTilesPerRow][kScreenTilesPerRow / 64] = {}; // a bit per tile column of each tile row
  uint32_t rowFirst = kScreenTilesPerRow, rowEnd = 0;
  b->busyCount = 0;
  for (uint32_t j = 0; j < b->tileJobCount; j++) {
    const TileJob* job = &b->tileJobs[j];
    if (job->bin->sentinel.next) {
      b->busyTiles[b->busyCount++] = j;
    } else if (clears) {
      const float* corner = MortonTileTable[job->tile & (kTileCount - 1)];
      const uint32_t column = (uint32_t)corner[0] >> kTileSideBits, row = (uint32_t)corner[1] >> kTileSideBits;
      empty[row][column >> 6] |= 1ull << (column & 63);
      rowFirst = row < rowFirst ? row : rowFirst;
      rowEnd = row + 1 > rowEnd ? row + 1 : rowEnd;
    }
  }
  b->clearRunCount = 0;
  const int32_t vx1 = s->viewportX + s->viewportWidth, vy1 = s->viewportY + s->viewportHeight;
  for (uint32_t row = rowFirst; row < rowEnd; row++) {
    for (uint32_t column = 0; column < kScreenTilesPerRow;) {
      if (!((empty[row][column >> 6] >> (column & 63)) & 1)) {
        column++;
        continue;
      }
      const uint32_t first = column;
      while (column < kScreenTilesPerRow && ((empty[row][column >> 6] >> (column & 63)) & 1)) column++;
      ClearRun* run = &b->clearRuns[b->clearRunCount++];
      const int32_t x0 = (int32_t)first * kTileSide, x1 = (int32_t)column * kTileSide, y0 = (int32_t)row * kTileSide,
                    y1 = y0 + kTileSide;
      run->x0 = x0 > s->viewportX ? x0 : s->viewportX;
      run->y0 = y0 > s->viewportY ? y0 : s->viewportY;
      run->x1 = x1 < vx1 ? x1 : vx1;
      run->y1 = y1 < vy1 ? y1 : vy1;
    }
  }
  b->workNext.store(0, std::memory_order_relaxed);
}

constexpr uint32_t kTilesPerClaim = 4; // the smallest claim

// JobFunction: user is the binner; count is the number of these jobs. Takes
// tiles, then clear runs, until none are left. A claim is a share of what is
// left (guided: big first, down to a few tiles at the end), so each thread
// works through long runs of neighbouring tiles, which share triangles, and
// the shared counter changes hands a few dozen times a pass, not hundreds.
void RunTilePassWork(void* user, uint32_t, uint32_t count) {
  TileBinner* b = static_cast<TileBinner*>(user);
  const uint32_t busy = b->busyCount, total = busy + b->clearRunCount;
  const uint32_t parts = 2 * (count ? count : 1);
  uint32_t first = b->workNext.load(std::memory_order_relaxed);
  for (;;) {
    uint32_t take;
    do {
      if (first >= total) return;
      take = (total - first) / parts;
      if (take < kTilesPerClaim) take = kTilesPerClaim;
    } while (!b->workNext.compare_exchange_weak(first, first + take, std::memory_order_relaxed));
    const uint32_t end = first + take < total ? first + take : total;
    for (uint32_t k = first; k < end; k++) {
      if (k < busy) RunTileJob(b->tileJobs, b->busyTiles[k], b->tileJobCount);
      else FillClearRun(b->renderState, &b->clearRuns[k - busy]);
    }
    first = b->workNext.load(std::memory_order_relaxed);
  }
}

} // namespace

void RunTilePass(TileBinner* b) {
  if (b->phase.fetch_add(0) != kBinsOpen) return;
  RenderState* s = b->renderState;
  if (b->binCount != 0) {
    TileJobBuilder builder = {b, s->tileFirst >> kTileCodeBits, b->drawLimit};
    b->tileJobCount = 0;
    WalkTiles(s, s->viewportEdges, 0x4321, EmitTileJob, &builder);
    if (b->tileJobCount != 0) {
      PrepareTileConverters(s);
      SharePassWork(b);
      const uint32_t work = b->busyCount + b->clearRunCount;
      const uint32_t workers = b->jobs.workerCount + 1 < work ? b->jobs.workerCount + 1 : work;
      if (workers != 0) {
        SubmitJobs(&b->jobs, workers, RunTilePassWork, b);
        WaitJobs(&b->jobs);
      }
    }
  }
  s->depthClearState = kClearNone;
  for (uint32_t i = 0; i < kMaxColorTargets; i++) s->colorClearState[i] = kClearNone;
  b->phase.store(kBinsClosed);
}

uint8_t* BinAllocate(TileBinner* b, uint64_t size) {
  for (;;) {
    uintptr_t end = (uintptr_t)b->regionEnd;
    uintptr_t dataStart = (uintptr_t)b->dataStart;
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

uint32_t LowestUnbinnedPosition(const TileBinner* b) {
  uint32_t lowest = UINT32_MAX;
  for (uint32_t i = 0; i < b->setupJobCount; i++) {
    SetupJob* job = &b->setupJobs[i];
    uint32_t p = std::atomic_ref<uint32_t>(job->state).load() == kSetupWaiting
                     ? QueuePositionOf(b, job->first)
                     : std::atomic_ref<uint32_t>(job->position).load();
    if (p < lowest && p < QueuePositionOf(b, job->end)) lowest = p; // an ended job has nothing unbinned
  }
  return lowest;
}

void RewindSetupJobs(TileBinner* b, uint32_t limit) {
  for (uint32_t i = 0; i < b->setupJobCount; i++) {
    SetupJob* job = &b->setupJobs[i];
    std::atomic_ref<uint32_t> state(job->state);
    std::atomic_ref<uint32_t> position(job->position);
    if (state.load() == kSetupWaiting) continue;
    uint32_t first = QueuePositionOf(b, job->first);
    uint32_t target = first > limit ? first : limit;
    if (position.load() <= target) continue;
    position.store(target);
    // Counted before it can be taken, so the count never runs below the
    // orphans there are.
    b->orphans.fetch_add(1);
    uint32_t expected = kSetupDone;
    if (!state.compare_exchange_strong(expected, kSetupOrphan)) b->orphans.fetch_sub(1);
  }
}
