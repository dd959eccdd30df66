// Graphics context and command stream. The main thread records commands into
// a 1 MiB ring; the render thread "QvGfxContext" executes them in order
// against the one QvGfxContext, which owns the bound state, the upload area,
// the rasterizer's objects and its 256 MiB arena.
#pragma once

#include <cstdint>

#include "format/format.h"
#include "gfx/gfx_limits.h"
#include "present/present.h"
#include "raster/raster.h"
#include "runtime/runtime.h"

struct QvGfxContext;

// ---- Command records --------------------------------------------------------
struct GfxCommand;
// Returns the next record to run, or null to end the render thread.
typedef GfxCommand* (*GfxExecuteFn)(QvGfxContext* context, GfxCommand* command);

struct GfxCommand {
  uint64_t size; // bytes to the next record
  GfxExecuteFn execute;
};
static_assert(sizeof(GfxCommand) == 16, "record header is 16 bytes");

inline GfxCommand* NextCommand(GfxCommand* command) {
  return reinterpret_cast<GfxCommand*>(reinterpret_cast<uint8_t*>(command) + command->size);
}

struct CommandStream {
  uint8_t* ringBase;      // 8-byte aligned
  uint8_t* writePosition; // main thread only
  uint64_t capacity;
  Semaphore64 readable; // published, not yet consumed
  Semaphore64 writable; // free for the producer
  uint32_t framesSubmitted;
  WaitCell frameDone; // frames completed by the render thread
  WaitCell idle;      // 1 while a Finish fence is outstanding
  Thread* renderThread;
  uint8_t* ringAllocation; // what MemAlloc returned
  void (*framePump)(void); // called while EndFrame waits; null = plain wait
};

// ---- Upload area --------------------------------------------------------------
struct LinearAllocator {
  uint8_t* start;
  uint8_t* cursor;
  uint64_t capacity;
  uint8_t* cursorBeforeLast;
  uint8_t* last;
};

void LinearInit(LinearAllocator* allocator, void* buffer, uint64_t capacity);
// Null for size 0 or when the rest of the buffer is too small. alignment is a
// power of two.
void* LinearAlloc(LinearAllocator* allocator, uint64_t size, uint64_t alignment);
// What LinearReleaseLast did.
enum LinearReleaseResult : int32_t {
  kLinearReleased = 0, // p was the last allocation: rolled back
  kLinearNotLast = 1,  // p is not the last allocation: nothing done
  kLinearNull = 9,     // p is null
};
int32_t LinearReleaseLast(LinearAllocator* allocator, void* p);
void LinearReset(LinearAllocator* allocator);
int32_t LinearNop(LinearAllocator* allocator);

struct UploadArena {
  LinearAllocator halves[2];
  uint32_t current;
  uint8_t* buffers[2]; // what MemAlloc returned
};

// ---- Context ------------------------------------------------------------------
struct QvGfxContext {
  int32_t indexFormat; // an IndexFormat::Value, or any other (8-bit)
  Binding indexData;
  uint32_t topology; // a Topology::Value, or any other (nothing drawn)
  InputState input;
  PipelineState pipeline;
  RenderState render;
  DrawBatch batch;
  GeometryQueue geometry;
  TileBinner binner;
  UploadArena upload;
  uint8_t* arena;           // RasterArena, 4-byte aligned
  uint8_t* arenaAllocation; // what MemAlloc returned
  CommandStream stream;
  // Presenter each colour slot's surface came from: that surface is gone
  // once the presenter has shown the frame.
  Presenter* targetPresenter[kMaxColorTargets];
};

// The bound state a draw reads.
inline DrawSource ContextDrawSource(QvGfxContext* c) {
  return DrawSource{c->indexFormat, c->topology, c->indexData, &c->input, &c->pipeline, &c->batch};
}

// n processors: each of the two job queues gets n - 1 worker threads.
// Returns 1 when the RasterArena or the upload area cannot be had.
int32_t CreateContext(QvGfxContext* context, uint32_t processorCount);
// Main thread, after the render thread has ended: carries out pending clears,
// flushes, frees the arena and the upload area and ends the job threads.
void DestroyContext(QvGfxContext* context);
// Render thread (or the main thread once the render thread is gone).
void FlushDraws(QvGfxContext* context);

// ---- Command stream (gfx/stream.cpp) ------------------------------------------
// Allocates the ring and starts the render thread. 1 on failure.
int32_t CreateCommandStream(QvGfxContext* context);
// After Quit: frees the ring and the waiting primitives.
void DestroyCommandStream(QvGfxContext* context);
// Records are placed whole; n is rounded up to a multiple of 8. Blocks while
// the ring is full. Returns null (and logs) for a record that could never be
// placed (n + 32 > ring size).
void* AllocCommand(QvGfxContext* context, uint64_t n);
void SubmitCommand(QvGfxContext* context, uint64_t n);
uint64_t CommandRecordSize(uint64_t n);
int64_t RenderThreadMain(void* context);

// ---- End of frame (gfx/frame_end.cpp) ------------------------------------------
// Returns once every command recorded before it has executed.
void Finish(QvGfxContext* context);
// What the main thread does while EndFrame waits (null: nothing): on a
// platform whose window belongs to the main thread, answering the messages
// the render thread's presenter sends to it.
void SetFramePump(QvGfxContext* context, void (*pump)(void));
// Records Present and waits until the render thread has executed it. mode is
// a PresentMode::Value (present/present.h).
void EndFrame(QvGfxContext* context, Presenter* presenter, uint32_t mode);
// Render thread: raises the frames-done count and wakes the main thread.
void CountFrameDone(QvGfxContext* context);
// Records Quit and joins the render thread. Nothing recorded later runs.
void Quit(QvGfxContext* context);
// Each returns 0, or 1 when the record was refused.
int32_t RecordPresent(QvGfxContext* context, Presenter* presenter, uint32_t mode);
int32_t RecordFlush(QvGfxContext* context);

// ---- Recording functions (main thread) -----------------------------------------
// Each returns 0, or 1 when the record was refused.
int32_t RecordSetViewport(QvGfxContext* context, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t RecordSetDepthRange(QvGfxContext* context, float depthNear, float depthFar);
int32_t RecordBindDepthTarget(QvGfxContext* context, Surface* surface);
int32_t RecordBindColorTarget(QvGfxContext* context, uint32_t slot, Presenter* presenter);
// byteCount <= kMaxElementBytes (larger counts are refused).
int32_t RecordClearDepth(QvGfxContext* context, const void* value, uint64_t byteCount);
int32_t RecordClearColor(QvGfxContext* context, uint32_t slot, const void* value, uint64_t byteCount);
// compare is a CompareFunction::Value, mode a SortMode::Value (plain integers
// so that any value can be recorded; unknown ones behave as described there).
int32_t RecordSetDepthCompare(QvGfxContext* context, int32_t compare);
int32_t RecordSetSortMode(QvGfxContext* context, int32_t mode);
int32_t RecordBindBlendStage(QvGfxContext* context, const StageDescriptor* stage);
int32_t RecordBindBlendConstants(QvGfxContext* context, const void* data);
int32_t RecordBindVertexStage(QvGfxContext* context, const StageDescriptor* stage);
int32_t RecordBindFragmentStage(QvGfxContext* context, const StageDescriptor* stage);
int32_t RecordSetVertexConstants(QvGfxContext* context, const void* data, uint64_t size, uint64_t alignment);
int32_t RecordSetFragmentConstants(QvGfxContext* context, const void* data, uint64_t size, uint64_t alignment);
int32_t RecordSetVertexStream(QvGfxContext* context, uint32_t slot, const void* data, uint64_t size);
int32_t RecordSetVertexElement(QvGfxContext* context, uint32_t element, const VertexElement* value);
// indexFormat is an IndexFormat::Value, topology a Topology::Value; plain
// integers, as for the compare and sort mode.
int32_t RecordSetIndexData(QvGfxContext* context, int32_t indexFormat, const void* data, uint64_t size);
int32_t RecordSetTopology(QvGfxContext* context, uint32_t topology);
int32_t RecordDrawIndexed(QvGfxContext* context, uint32_t indexCount);

