// Rasterizer internals: the records the front end, set-up, binning and the
// tile stage hand each other in the RasterArena, and the functions that pass
// them on. gfx never sees them: it drives the rasterizer through
// raster/raster.h only.
#pragma once

#include <atomic>
#include <cstdint>

#include "raster/raster.h"

// ---- Geometry ----------------------------------------------------------------
struct TriangleRecord {
  const PipelineState* pipeline;
  VertexSlot* vertices[3];
};

struct VertexJob {
  const InputState* input;
  const PipelineState* pipeline;
  uint8_t* first;
  uint8_t* end;
};
static_assert(sizeof(VertexJob) * kVertexJobCapacity == 16 * kMiB, "vertex job array");

// position and state are read and written through std::atomic_ref (the
// record stays a plain aggregate): a full bin region may throw away what a
// job has binned beyond the lowest position still being set up, and the job,
// or another one if it has ended, sets it up again from there.
struct SetupJob {
  TileBinner* binner;
  TriangleRecord* first;
  TriangleRecord* end;
  uint32_t position; // queue position of the next record not yet binned
  uint32_t state;    // kSetupWaiting .. kSetupOrphan
};
constexpr uint32_t kSetupWaiting = 0; // not started; position is not yet written
constexpr uint32_t kSetupRunning = 1;
constexpr uint32_t kSetupDone = 2;
constexpr uint32_t kSetupOrphan = 3; // ended, then rewound: any job may take it
static_assert(sizeof(SetupJob) * kSetupJobCapacity <= 16 * kMiB, "set-up job array");

// ---- Set-up and binning ----------------------------------------------------
// Up to 15 edge numbers (1..15) in 4-bit nibbles, lowest first; 0 = none left.
typedef uint64_t EdgeList;
constexpr uint64_t kFullEdgeList = 0x0FEDCBA987654321ull;
inline EdgeList FullEdgeList(uint32_t edgeCount) { return kFullEdgeList & ((1ull << (4 * edgeCount)) - 1); }

struct Plane {
  float a, b, c; // value at the centre of pixel (px, py) = a*px + b*py + c
};

// Allocated in the bin region; the edge array and planes follow the header.
struct BinnedTriangle {
  const PipelineState* pipeline;
  const RenderState* renderState;
  EdgeEquation* edges;
  int32_t edgeCount;     // 7, 8 or 9: three sides, four bounds, near, far
  Plane* fixedPlanes;    // [0] 1/w, [1] window depth
  Plane* attributePlanes;
  int32_t attributeCount;
  float zmin;
  float zmax;
  int32_t facing;
  // The record set up: nothing in the pipeline reads it (nodes carry the
  // queue position); it stays so the draw-order tests and a debugger can
  // tell a binned triangle's record.
  const TriangleRecord* source;
};

struct TileEntry {
  BinnedTriangle* triangle;
  EdgeList edges; // the triangle's edges that still cross this tile
  float zmin;
  float zmax;
};

struct TileNode {
  uint32_t key;   // order-preserving bits of (tile zmin + tile zmax)
  uint32_t order; // queue position of the triangle in its flush (fills the padding)
  TileNode* next;
  TileEntry* entry;
};

// The sentinel comes first, so an empty bin's tail points at the bin itself.
struct TileBin {
  TileNode sentinel;
  std::atomic<TileNode*> tail;
};

struct TileJob {
  RenderState* renderState;
  int32_t tile;       // absolute tile number (Morton code >> kTileCodeBits)
  uint32_t drawLimit; // queue positions from here on are left out of this pass
  TileBin* bin;
};

// A run of neighbouring tiles of one tile row whose bins are empty: the
// pass only fills it with the pending clears, in one go per target.
struct ClearRun {
  int32_t x0, y0, x1, y1; // pixels, inside the viewport
};

// JobFunction: user is the SetupJob array.
void RunSetupJob(void* user, uint32_t index, uint32_t count);
// Submits count set-up jobs (state kSetupWaiting) to queue for binner.
void SubmitSetupJobs(JobQueue* queue, TileBinner* binner, SetupJob* jobs, uint32_t count);
void RunTilePass(TileBinner* binner); // no-op when closed

// Entry t: corners (x, y), (x+15, y), (x, y+15), (x+15, y+15) of tile t as
// float pairs. Filled once, before the first context exists.
extern float MortonTileTable[kTileCount][8];

// Hierarchical walk over the viewport block: calls emit(user, tile start
// code, edges still crossing) for every tile not wholly outside an edge, in
// Morton order. Returns the number of tiles emitted.
typedef void (*TileEmitFn)(void* user, uint32_t tileCode, EdgeList edges);
uint32_t WalkTiles(const RenderState* state, const EdgeEquation* edges, EdgeList list, TileEmitFn emit, void* user);

// ---- Tile stage --------------------------------------------------------------
// JobFunction: user is the TileJob array.
void RunTileJob(void* user, uint32_t index, uint32_t count);
// Fills a clear run with the pending clears of every bound target.
void FillClearRun(const RenderState* s, const ClearRun* run);
// The converters the tile jobs of a pass copy, from the bound targets and
// the render-target layout.
void PrepareTileConverters(RenderState* s);
// Which way ListSort orders the keys.
struct SortOrder {
  enum Value : int32_t {
    Ascending = 1,
    Descending = 2,
  };
};
// Sorts the nodes after sentinel by key, stable. Any order other than
// Ascending sorts descending.
void ListSort(TileNode* sentinel, SortOrder::Value order);
// Puts a bin's nodes back in the order their triangles were queued; set-up
// jobs running side by side append to a bin in no fixed order.
void RestoreQueueOrder(TileNode* sentinel);
