// The graphics context: creation, clean-up, the upload area and FlushDraws.
#include <cstring>

#include "gfx/gfx_internal.h"

// ---- LinearAllocator ------------------------------------------------------------
void LinearInit(LinearAllocator* a, void* buffer, uint64_t capacity) {
  a->start = static_cast<uint8_t*>(buffer);
  a->cursor = a->start;
  a->capacity = capacity;
  a->cursorBeforeLast = nullptr;
  a->last = nullptr;
}

void* LinearAlloc(LinearAllocator* a, uint64_t size, uint64_t alignment) {
  if (size == 0) return nullptr;
  if (alignment == 0) alignment = 1;
  uintptr_t cursor = reinterpret_cast<uintptr_t>(a->cursor);
  uintptr_t aligned = (cursor + (alignment - 1)) & ~uintptr_t(alignment - 1);
  uintptr_t limit = reinterpret_cast<uintptr_t>(a->start) + a->capacity;
  if (aligned > limit || size > limit - aligned) return nullptr;
  a->cursorBeforeLast = a->cursor;
  a->last = reinterpret_cast<uint8_t*>(aligned);
  a->cursor = a->last + size;
  return a->last;
}

int32_t LinearReleaseLast(LinearAllocator* a, void* p) {
  if (!p) return kLinearNull;
  if (p != a->last) return kLinearNotLast;
  a->cursor = a->cursorBeforeLast;
  a->last = nullptr;
  a->cursorBeforeLast = nullptr;
  return kLinearReleased;
}

void LinearReset(LinearAllocator* a) {
  a->cursor = a->start;
  a->cursorBeforeLast = nullptr;
  a->last = nullptr;
}

int32_t LinearNop(LinearAllocator*) { return 0; }

static uint8_t* AlignUp64(uint8_t* p) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 63) & ~uintptr_t(63));
}

// ---- Context --------------------------------------------------------------------
static void FreeContextMemory(QvGfxContext* c) {
  MemFree(c->upload.buffers[0]);
  MemFree(c->upload.buffers[1]);
  MemFree(c->arenaAllocation);
  c->upload.buffers[0] = c->upload.buffers[1] = nullptr;
  c->arenaAllocation = c->arena = nullptr;
}

int32_t CreateContext(QvGfxContext* c, uint32_t processorCount) {
  static int32_t s_bTileTableFilled = 0;
  if (!s_bTileTableFilled) {
    FillMortonTileTable();
    s_bTileTableFilled = 1;
  }
  if (processorCount == 0) processorCount = 1;

  // The global allocator aligns to 4 only; arena and halves start on a
  // cache line.
  uint8_t* block = static_cast<uint8_t*>(MemAlloc(kRasterArenaBytes + 64));
  if (!block) {
    LogPrintf("CreateContext ... failed.\n\tRasterArena cannot be allocated\n");
    return 1;
  }
  c->arenaAllocation = block;
  c->arena = AlignUp64(block);
  uint8_t* arena = c->arena;

  for (int i = 0; i < 2; i++) {
    c->upload.buffers[i] = static_cast<uint8_t*>(MemAlloc(kUploadHalfBytes + 64));
    if (!c->upload.buffers[i]) {
      LogPrintf("CreateContext ... failed.\n\tUploadArena cannot be allocated\n");
      FreeContextMemory(c);
      return 1;
    }
    uint8_t* b = c->upload.buffers[i];
    LinearInit(&c->upload.halves[i], AlignUp64(b), kUploadHalfBytes);
  }
  c->upload.current = 0;

  c->indexFormat = 0;
  memset(&c->indexData, 0, sizeof(c->indexData));
  c->topology = 0;
  memset(&c->input, 0, sizeof(c->input));
  memset(&c->pipeline, 0, sizeof(c->pipeline));
  c->pipeline.frontFace = 2;
  c->pipeline.cullMode = CullMode::CullNone;
  c->pipeline.depthTestEnable = 1;
  c->pipeline.vertexStage = &NullVs;
  memset(&c->render, 0, sizeof(c->render));
  c->render.depthClearState = kClearNone;
  for (uint32_t i = 0; i < kMaxColorTargets; i++) c->render.colorClearState[i] = kClearNone;
  memset(c->targetPresenter, 0, sizeof(c->targetPresenter));

  DrawBatch* b = &c->batch;
  b->queue = &c->geometry;
  b->renderState = &c->render;
  b->inputChanged = 1;
  b->input = nullptr;
  b->pipelineChanged = 1;
  b->pipeline = nullptr;
  b->regionStart = arena + kSnapshotRegionOffset;
  b->regionEnd = arena + kSnapshotRegionOffset + kSnapshotRegionBytes;
  b->cursor = b->regionStart;

  GeometryQueue* q = &c->geometry;
  CreateJobQueue(&q->jobs, processorCount * 1024, processorCount);
  q->binner = &c->binner;
  q->vertexJobs = reinterpret_cast<VertexJob*>(arena + kVertexJobOffset);
  q->vertexJobCapacity = kVertexJobCapacity;
  q->vertexJobCount = 0;
  q->setupJobs = reinterpret_cast<SetupJob*>(arena + kSetupJobOffset);
  q->setupJobCapacity = kSetupJobCapacity;
  q->setupJobCount = 0;
  q->geometryBottom = arena + kGeometryOffset;
  q->geometryTop = arena + kGeometryEnd;
  q->triangleCursor = reinterpret_cast<TriangleRecord*>(q->geometryBottom);
  q->triangleMark = q->triangleCursor;
  q->vertexCursor = q->geometryTop;
  q->vertexMark = q->geometryTop;

  CreateJobQueue(&c->binner.jobs, processorCount * 1024, processorCount);
  InitTileBinner(&c->binner, &c->render, arena + kBinRegionOffset, arena + kBinRegionEnd);
  // Set-up and tile jobs come in turns: whichever workers are awake take both.
  LinkJobQueues(&q->jobs, &c->binner.jobs);
  return 0;
}

static int32_t AnyClearPending(const RenderState* s) {
  if (s->depthClearState == kClearPending) return 1;
  for (uint32_t i = 0; i < kMaxColorTargets; i++)
    if (s->colorClearState[i] == kClearPending) return 1;
  return 0;
}

void OpenBinsForPendingClears(QvGfxContext* c) {
  if (AnyClearPending(&c->render)) OpenBins(&c->binner);
}

void DestroyContext(QvGfxContext* c) {
  if (!c->arena) return;
  OpenBinsForPendingClears(c);
  FlushDraws(c);
  FreeContextMemory(c);
  UnlinkJobQueues(&c->geometry.jobs, &c->binner.jobs);
  DestroyJobQueue(&c->geometry.jobs);
  DestroyTileBinner(&c->binner);
  DestroyJobQueue(&c->binner.jobs);
}

// Copies one binding into the current half. A binding that no longer fits
// beside the others is dropped rather than left pointing into the half that
// the next flush recycles.
static void Recopy(QvGfxContext* c, Binding* b) {
  if (!b->data || b->size == -1 || b->size == 0) return;
  void* p = LinearAlloc(&c->upload.halves[c->upload.current], uint64_t(b->size), b->alignment);
  if (!p) {
    LogPrintf("FlushDraws ... bound data does not fit the upload area; unbound.\n");
    b->data = nullptr;
    b->size = 0;
    return;
  }
  memcpy(p, b->data, uint64_t(b->size));
  b->data = p;
}

void FlushDraws(QvGfxContext* c) {
  DrawBatch* b = &c->batch;
  FlushGeometry(&c->geometry, b->input, b->pipeline);
  b->cursor = b->regionStart;
  b->input = nullptr;
  b->pipeline = nullptr;
  b->inputChanged = 1;
  b->pipelineChanged = 1;

  c->upload.current = 1 - c->upload.current;
  LinearReset(&c->upload.halves[c->upload.current]);
  Recopy(c, &c->indexData);
  for (uint32_t i = 0; i < kMaxVertexStreams; i++) Recopy(c, &c->input.streams[i]);
  Recopy(c, &c->pipeline.vertexConstants);
  Recopy(c, &c->pipeline.fragmentConstants);
  Recopy(c, &c->pipeline.blendConstants);
}

void UploadCopy(QvGfxContext* c, Binding* b, const void* source, uint64_t size, uint64_t alignment) {
  if (alignment == 0) alignment = 1;
  if (size == 0) {
    *b = Binding{nullptr, 0, alignment};
    return;
  }
  void* p = LinearAlloc(&c->upload.halves[c->upload.current], size, alignment);
  if (!p) {
    // The old data is being replaced: leave it out of the re-copy so that a
    // second large payload cannot keep the fresh half full for ever.
    *b = Binding{nullptr, 0, alignment};
    FlushDraws(c);
    p = LinearAlloc(&c->upload.halves[c->upload.current], size, alignment);
    if (!p) {
      LogPrintf("UploadCopy ... failed.\n\tsize=%llu\n", static_cast<unsigned long long>(size));
      return;
    }
  }
  memcpy(p, source, size);
  *b = Binding{p, int64_t(size), alignment};
}
