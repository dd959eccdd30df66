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

// A VertexSlot is this header followed by the vertex stage's outputs; the
// slot stride is the output layout's total size + 20. Vertex stages write
// the position here.
struct VertexSlot {
  int32_t vertexIndex;
  float position[4]; // clip space x, y, z, w
};
constexpr uint32_t kVertexSlotHeaderBytes = 20;
static_assert(sizeof(VertexSlot) == kVertexSlotHeaderBytes, "slot header is 20 bytes");
inline float* VertexSlotOutputs(VertexSlot* slot) { return reinterpret_cast<float*>(reinterpret_cast<uint8_t*>(slot) + kVertexSlotHeaderBytes); }

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

// Width of the bound indices. Any other value reads 8-bit indices.
struct IndexFormat {
  enum Value : int32_t {
    Index32 = 1,
    Index16 = 2,
    Index8 = 3,
  };
};

// How indices make triangles. Any other value draws nothing.
struct Topology {
  enum Value : uint32_t {
    TriangleList = 4,
    TriangleStrip = 5,
    TriangleFan = 6,
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

// The records gfx carves the arena into but never reads (raster/raster_internal.h).
struct TriangleRecord;
struct VertexJob;
struct SetupJob;
struct TileBin;
struct TileJob;
struct ClearRun;
struct TileBinner;

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

// ---- Binner ----------------------------------------------------------------
constexpr int32_t kBinsClosed = 1;
constexpr int32_t kBinsOpen = 2;

// gfx holds the binner by value (QvGfxContext), so its fields are declared
// here; only raster/ reads or writes them.
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

void OpenBins(TileBinner* binner);    // no-op when open

// Filled once, before the first context exists (raster/raster_internal.h).
void FillMortonTileTable();

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
  int32_t indexFormat; // an IndexFormat::Value, or any other (8-bit)
  uint32_t topology;   // a Topology::Value, or any other (nothing drawn)
  Binding indexData;
  const InputState* input; // copied into a snapshot when marked changed
  const PipelineState* pipeline;
  DrawBatch* batch;
};
void DrawIndexedStep(const DrawSource* source, uint32_t indexCount);
void FlushGeometry(GeometryQueue* queue, const InputState* input, const PipelineState* pipeline);

