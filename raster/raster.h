// Software rasterizer: the shared data model of the front end, triangle
// set-up and binning, and the tile stage. Everything lives in the 256 MiB
// RasterArena and is carved with bump cursors; nothing is allocated per
// frame. Tiles are 16x16 pixels, pixels and tiles are numbered in Morton
// order on an 11-bit (2048x2048) screen.
#pragma once

#include <atomic>
#include <cstdint>

#include "format/format.h"
#include "raster/raster_limits.h"
#include "runtime/runtime.h"

// ---- Stages ----------------------------------------------------------------
struct StageLayoutEntry {
  uint32_t offset; // bytes
  uint32_t count;  // float32 components
};

struct StageLayout {
  uint32_t totalSize; // bytes
  uint32_t entryCount;
  StageLayoutEntry entries[kMaxLayoutEntries];
};

// Same shape as a StageLayout: the output layout of the last bound stage,
// cached in the RenderState; output entry i goes to colour target slot i.
typedef StageLayout RenderTargetLayout;

// Per-pixel record of a tile; the three 64-float areas are what fragment and
// blend stages address with their layout offsets.
struct PixelRecord {
  float interpolated[kRecordFloats];
  float outputs[kRecordFloats];
  float target[kRecordFloats];
  float storedDepth;
  uint32_t depthUnwritten; // 1 until the pixel is written in this tile pass
  float x;                 // pixel indices in the target
  float y;
  float fragmentDepth;
  float invW;
  float w;
  int32_t facing;
};
static_assert(sizeof(PixelRecord) == 800, "pixel record is 800 bytes");

// Stage functions. Slots run from first to end stepping by stride; the
// FragmentList is an array of PixelRecord pointers and a stage returns the
// end of the pointers it kept (moved to the front, in order).
typedef void (*VertexStageFn)(const void* constants, const float* inputs, uint8_t* first, uint8_t* end,
                              uint32_t stride);
typedef PixelRecord** (*FragmentStageFn)(const void* constants, PixelRecord** first, PixelRecord** end);
typedef PixelRecord** (*BlendStageFn)(const void* constants, PixelRecord** first, PixelRecord** end);
typedef void (*StageFunction)(); // stored type; cast back by stage kind

struct StageDescriptor {
  StageFunction function;
  const StageLayout* inputLayout;
  const StageLayout* outputLayout;
  const char* name;
};

inline VertexStageFn StageVertexFn(const StageDescriptor* d) { return reinterpret_cast<VertexStageFn>(d->function); }
inline FragmentStageFn StageFragmentFn(const StageDescriptor* d) { return reinterpret_cast<FragmentStageFn>(d->function); }
inline BlendStageFn StageBlendFn(const StageDescriptor* d) { return reinterpret_cast<BlendStageFn>(d->function); }

// Built-in stage programs (raster/stages*.cpp).
extern const StageDescriptor NullVs;
extern const StageDescriptor FontVs;
extern const StageDescriptor FontFs;
extern const StageDescriptor AlphaBlendBs;

// The constant record FontFs reads.
struct FontFsConstants {
  const Surface* texture;
  const Sampler* sampler;
  float colour[4];
};

// Each enumeration keeps its enumerators in its own scope (the struct) and
// its values in a plain integer of fixed width, so records holding one keep
// their layout and a value from outside the list still means what it did.

// Depth and alpha tests. A value outside the list passes like Greater
// (depth) or always (alpha).
struct CompareFunction {
  enum Value : int32_t {
    Never = 1,
    Always = 2,
    Less = 3,
    LessEqual = 4,
    Equal = 5,
    Greater = 6,
    GreaterEqual = 7,
    NotEqual = 8,
  };
};

// Order of a tile's triangles. Any other value draws in bin order.
struct SortMode {
  enum Value : int32_t {
    SortBinOrder = 0,
    SortNearestFirst = 2,
    SortFarthestFirst = 3,
  };
};

// Facing flag 1 = front. Any value other than 1..3 drops front faces.
struct CullMode {
  enum Value : int32_t {
    CullNone = 1,
    CullAll = 2,
    CullBack = 3,
    CullFront = 4,
  };
};

struct AttributeType {
  enum Value : uint32_t {
    AttrFloat32 = 1,
    AttrFloat16 = 2,
    AttrSnorm32 = 3,
    AttrSnorm16 = 4,
    AttrSnorm8 = 5,
  };
};

// The constant record AlphaBlendBs reads.
struct AlphaTestConstants {
  CompareFunction::Value compare;
  float reference;
};

// ---- Bound state ---------------------------------------------------------
struct Binding {
  void* data;         // null when nothing is bound
  int64_t size;       // -1: held by reference, never copied
  uint64_t alignment;
};

struct VertexElement {
  uint32_t streamSlot;
  uint32_t offset;
  uint32_t stride;
  AttributeType::Value type;
  uint32_t componentCount;
};

struct InputState {
  Binding streams[kMaxVertexStreams];
  VertexElement elements[kMaxVertexStreams];
};

struct PipelineState {
  int32_t frontFace; // 1: counter-clockwise in the edge sense is front
  CullMode::Value cullMode;
  CompareFunction::Value depthCompare;
  int32_t depthTestEnable;
  const StageDescriptor* vertexStage; // never null (NullVs)
  Binding vertexConstants;
  const StageDescriptor* fragmentStage; // may be null
  Binding fragmentConstants;
  const StageDescriptor* blendStage; // may be null
  Binding blendConstants;
};

// E = a*(2*vh*px) + b*(2*vw*py) + c at integer pixel indices; inside when E >= 0.
struct EdgeEquation {
  int32_t a;
  int32_t b;
  int64_t c;
};

constexpr int32_t kClearNone = 1;    // load state: keep the target's contents
constexpr int32_t kClearPending = 2; // load state: fill with the clear value

struct RenderState {
  // Viewport block: aligned Morton range [tileFirst, tileEnd) of 2^k codes.
  uint32_t tileFirst;
  uint32_t tileEnd;
  uint32_t blockLevel; // the walk starts from a square of side 2^blockLevel
  uint32_t blockX;
  uint32_t blockY;
  SortMode::Value sortMode;
  float depthNear;
  float depthFar;
  float depthMin;
  float depthMax;
  int32_t viewportX;
  int32_t viewportY;
  int32_t viewportWidth;
  int32_t viewportHeight;
  float halfWidth;
  float halfHeight;
  float depthScale;
  float rcpHalfWidth;
  float rcpHalfHeight;
  float centreX;
  float centreY;
  float depthOffset;
  EdgeEquation viewportEdges[4];
  int32_t depthClearState;
  int32_t colorClearState[kMaxColorTargets];
  uint8_t depthClearValue[kMaxElementBytes];
  uint8_t colorClearValue[kMaxColorTargets][kMaxElementBytes];
  Surface* depthTarget;
  Surface* colorTargets[kMaxColorTargets];
  RenderTargetLayout targetLayout;
  // Made by the tile pass before its jobs run (they only read them): the
  // same for every tile, so not remade per tile.
  Converter depthLoad, depthStore;
  Converter colorLoad[kMaxColorTargets], colorStore[kMaxColorTargets];
};

// SetViewport / SetDepthRange derivations. A viewport that is empty or does
// not lie inside the 2048x2048 addressable screen gets an empty tile range
// and draws nothing.
void DeriveViewport(RenderState* state, int32_t x, int32_t y, int32_t width, int32_t height);
void DeriveDepthRange(RenderState* state, float depthNear, float depthFar);

// ---- RasterArena -----------------------------------------------------------
// Region offsets and capacities: raster/raster_limits.h.

// A VertexSlot is this header followed by the vertex stage's outputs; the
// slot stride is the output layout's total size + 20.
struct VertexSlot {
  int32_t vertexIndex;
  float position[4]; // clip space x, y, z, w
};
constexpr uint32_t kVertexSlotHeaderBytes = 20;
static_assert(sizeof(VertexSlot) == kVertexSlotHeaderBytes, "slot header is 20 bytes");
inline float* VertexSlotOutputs(VertexSlot* slot) { return reinterpret_cast<float*>(reinterpret_cast<uint8_t*>(slot) + kVertexSlotHeaderBytes); }

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

struct TileBinner;

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

struct GeometryQueue {
  JobQueue jobs; // vertex and set-up jobs
  TileBinner* binner;
  VertexJob* vertexJobs;
  uint32_t vertexJobCapacity;
  uint32_t vertexJobCount;
  SetupJob* setupJobs;
  uint32_t setupJobCapacity;
  uint32_t setupJobCount;
  uint8_t* geometryBottom;
  uint8_t* geometryTop;
  TriangleRecord* triangleCursor;
  TriangleRecord* triangleMark;
  uint8_t* vertexCursor;
  uint8_t* vertexMark;
};

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

constexpr int32_t kBinsClosed = 1;
constexpr int32_t kBinsOpen = 2;

struct TileBinner {
  JobQueue jobs; // tile jobs; distinct from the set-up queue so a set-up
                 // job can run a tile pass and wait for it
  RenderState* renderState;
  std::atomic<int32_t> phase;
  TileBin* bins;
  uint32_t binCount; // tiles of the viewport block; 0 when the region cannot hold them
  TileJob* tileJobs;
  uint32_t tileJobCount;
  // The pass as its workers share it: the tile jobs with something to draw
  // (indices into tileJobs), then the clear runs, handed out one at a time
  // from workNext. Handing out a few hundred tiles this way costs far less
  // than a queued job each, and empty tiles cost nothing but their clear.
  uint32_t* busyTiles;
  uint32_t busyCount;
  ClearRun* clearRuns;
  uint32_t clearRunCount;
  std::atomic<uint32_t> workNext;
  uint8_t* dataStart; // the bin data follows the arrays above
  uint8_t* regionStart;
  uint8_t* regionEnd; // tests may lower it while the bins are closed
  std::atomic<uintptr_t> bump;
  std::atomic<uintptr_t> committed;
  const TriangleRecord* queueBase; // first record of the flush being set up: node order counts from it
  SetupJob* setupJobs;             // the set-up jobs in flight (SubmitSetupJobs)
  uint32_t setupJobCount;
  uint32_t drawLimit;              // queue positions a tile pass draws up to (all but in a full region)
  std::atomic<uint32_t> orphans;   // set-up jobs in state kSetupOrphan, or about to be
  std::atomic<uint32_t> gate;      // after a full region: set-up beyond this position waits
  OsCriticalSection lock;
  OsConditionVariable condition;
};

// Sets the fields (phase closed, lock and condition variable). The caller
// creates binner->jobs with CreateJobQueue itself.
void InitTileBinner(TileBinner* binner, RenderState* renderState, uint8_t* regionStart, uint8_t* regionEnd);
void DestroyTileBinner(TileBinner* binner); // lock and condition only

// JobFunction: user is the SetupJob array.
void RunSetupJob(void* user, uint32_t index, uint32_t count);
// Submits count set-up jobs (state kSetupWaiting) to queue for binner.
void SubmitSetupJobs(JobQueue* queue, TileBinner* binner, SetupJob* jobs, uint32_t count);
void OpenBins(TileBinner* binner);    // no-op when open
void RunTilePass(TileBinner* binner); // no-op when closed

// Entry t: corners (x, y), (x+15, y), (x, y+15), (x+15, y+15) of tile t as
// float pairs. Filled once, before the first context exists.
extern float MortonTileTable[kTileCount][8];
void FillMortonTileTable();

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

// Test hook: 0 disables the whole-tile shortcuts (tile-level depth decision,
// empty-edge-list coverage, full-tile depth write) so they can be compared
// with the per-pixel path. Set only while no tile pass runs.
void SetTileFastPathsForTest(int32_t enabled);
// Text path group width: 4 forces the four-lane drawing, 0 (the default)
// takes the widest the processor runs; TextLanesAvailable says which that is.
void SetTextLanesForTest(uint32_t lanes);
int32_t TextLanesAvailable();

// ---- Front end (raster/frontend*.cpp) -------------------------------------
// Snapshots of the bound state and the queue they feed.
struct DrawBatch {
  GeometryQueue* queue;
  RenderState* renderState;
  int32_t inputChanged;
  const InputState* input; // current snapshot, null until taken
  int32_t pipelineChanged;
  const PipelineState* pipeline;
  uint8_t* regionStart; // first 64 MiB of the RasterArena
  uint8_t* regionEnd;
  uint8_t* cursor;
};

// What a draw reads of the bound state; the graphics context owns it.
struct DrawSource {
  int32_t indexFormat; // 1 32-bit, 2 16-bit, else 8-bit
  uint32_t topology;   // 4 list, 5 strip, 6 fan; smaller values draw nothing
  Binding indexData;
  const InputState* input; // copied into a snapshot when marked changed
  const PipelineState* pipeline;
  DrawBatch* batch;
};
void DrawIndexedStep(const DrawSource* source, uint32_t indexCount);
void FlushGeometry(GeometryQueue* queue, const InputState* input, const PipelineState* pipeline);

// ---- Old spellings, until their users switch ------------------------------------
// app/delay_session.cpp, tests/app/app_harness.cpp and bench/frame_bench.cpp
// still name these three enumerators without their scope; nothing else may.
// Remove the block once they say CompareFunction::Always,
// CompareFunction::GreaterEqual and AttributeType::AttrFloat32.
constexpr CompareFunction::Value Always = CompareFunction::Always;
constexpr CompareFunction::Value GreaterEqual = CompareFunction::GreaterEqual;
constexpr AttributeType::Value AttrFloat32 = AttributeType::AttrFloat32;
