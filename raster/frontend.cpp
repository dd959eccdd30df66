// Draw front end: snapshots, the index walk with its 16-entry vertex cache,
// vertex job dispatch and FlushGeometry. Runs on the render thread.
#include <cstring>

#include "raster/frontend_internal.h"

namespace {

struct CacheEntry {
  int32_t index;
  VertexSlot* slot;
};

// Every byte 0xFF; the slot pointer is what marks an entry empty, so even
// the 32-bit index 0xFFFFFFFF cannot match it.
VertexSlot* const kEmptySlot = reinterpret_cast<VertexSlot*>(~uintptr_t(0));

constexpr uint32_t kVertexCacheEntries = 16; // a power of two: indexed by the low bits

struct IndexWalk {
  GeometryQueue* queue;
  const InputState* input;
  const PipelineState* pipeline;
  const uint8_t* indices;
  int32_t indexWidth; // bytes
  uint32_t stride;
  uint64_t reserve;
  CacheEntry cache[kVertexCacheEntries];
};

void ResetCache(IndexWalk* w) { memset(w->cache, 0xFF, sizeof(w->cache)); }

int32_t ReadIndex(const IndexWalk* w, uint32_t i) {
  const uint8_t* p = w->indices + uint64_t(i) * uint32_t(w->indexWidth);
  if (w->indexWidth == 4) {
    int32_t v;
    memcpy(&v, p, 4);
    return v;
  }
  if (w->indexWidth == 2) {
    uint16_t v;
    memcpy(&v, p, 2);
    return int32_t(v);
  }
  return int32_t(*p);
}

VertexSlot* Lookup(IndexWalk* w, int32_t v) {
  CacheEntry* e = &w->cache[v & (kVertexCacheEntries - 1)];
  if (e->index == v && e->slot != kEmptySlot) return e->slot;
  GeometryQueue* q = w->queue;
  q->vertexCursor -= w->stride;
  VertexSlot* slot = reinterpret_cast<VertexSlot*>(q->vertexCursor);
  slot->vertexIndex = v;
  e->index = v;
  e->slot = slot;
  return slot;
}

uint64_t FreeSpace(const GeometryQueue* q) {
  return uint64_t(q->vertexCursor - reinterpret_cast<uint8_t*>(q->triangleCursor));
}

// Before each triangle (list, fan) or pair (strip): room for every slot the
// lookups may take plus the records.
void EnsureRoom(IndexWalk* w) {
  if (FreeSpace(w->queue) < w->reserve) {
    FlushGeometry(w->queue, w->input, w->pipeline);
    ResetCache(w);
  }
}

void EmitTriangle(IndexWalk* w, int32_t i0, int32_t i1, int32_t i2) {
  VertexSlot* a = Lookup(w, i0);
  VertexSlot* b = Lookup(w, i1);
  VertexSlot* c = Lookup(w, i2);
  TriangleRecord* t = w->queue->triangleCursor++;
  t->pipeline = w->pipeline;
  t->vertices[0] = a;
  t->vertices[1] = b;
  t->vertices[2] = c;
}

void WalkList(IndexWalk* w, uint32_t n) {
  for (uint32_t i = 0; i + 3 <= n; i += 3) {
    EnsureRoom(w);
    EmitTriangle(w, ReadIndex(w, i), ReadIndex(w, i + 1), ReadIndex(w, i + 2));
  }
}

void WalkStrip(IndexWalk* w, uint32_t n) {
  uint32_t triangles = n - 2;
  uint32_t k = 0;
  for (; k + 2 <= triangles; k += 2) {
    EnsureRoom(w);
    int32_t i0 = ReadIndex(w, k), i1 = ReadIndex(w, k + 1), i2 = ReadIndex(w, k + 2), i3 = ReadIndex(w, k + 3);
    EmitTriangle(w, i0, i1, i2);
    EmitTriangle(w, i1, i3, i2);
  }
  if (k < triangles) {
    EnsureRoom(w);
    EmitTriangle(w, ReadIndex(w, k), ReadIndex(w, k + 1), ReadIndex(w, k + 2));
  }
}

void WalkFan(IndexWalk* w, uint32_t n) {
  int32_t i0 = ReadIndex(w, 0);
  for (uint32_t k = 0; k + 2 < n; k++) {
    EnsureRoom(w);
    EmitTriangle(w, i0, ReadIndex(w, k + 1), ReadIndex(w, k + 2));
  }
}

// Copies the states marked changed into the snapshot region.
void TakeSnapshots(const DrawSource* c) {
  DrawBatch* b = c->batch;
  if (!b->inputChanged && !b->pipelineChanged) return;
  constexpr uint64_t kInputBytes = (sizeof(InputState) + 7) & ~uint64_t(7);
  constexpr uint64_t kPipelineBytes = (sizeof(PipelineState) + 7) & ~uint64_t(7);
  uint64_t need = (b->inputChanged ? kInputBytes : 0) + (b->pipelineChanged ? kPipelineBytes : 0);
  if (uint64_t(b->regionEnd - b->cursor) < need) {
    FlushGeometry(b->queue, b->input, b->pipeline);
    b->cursor = b->regionStart;
    b->inputChanged = 1;
    b->pipelineChanged = 1;
  }
  if (b->inputChanged) {
    memcpy(b->cursor, c->input, sizeof(InputState));
    b->input = reinterpret_cast<const InputState*>(b->cursor);
    b->cursor += kInputBytes;
    b->inputChanged = 0;
  }
  if (b->pipelineChanged) {
    memcpy(b->cursor, c->pipeline, sizeof(PipelineState));
    b->pipeline = reinterpret_cast<const PipelineState*>(b->cursor);
    b->cursor += kPipelineBytes;
    b->pipelineChanged = 0;
  }
}

} // namespace

void DrawIndexedStep(const DrawSource* c, uint32_t indexCount) {
  if (c->topology < Topology::TriangleList || c->topology > Topology::TriangleFan) return;
  // Indices past the bound data are not there to be read.
  int32_t width = c->indexFormat == IndexFormat::Index32 ? 4 : c->indexFormat == IndexFormat::Index16 ? 2 : 1;
  uint64_t available = c->indexData.data && c->indexData.size > 0 ? uint64_t(c->indexData.size) / uint32_t(width) : 0;
  uint32_t n = indexCount < available ? indexCount : uint32_t(available);
  if (n < 3) return;

  const StageDescriptor* vs = c->pipeline->vertexStage;
  if (vs->inputLayout->totalSize > kMaxStagedVertexBytes) {
    LogPrintf("DrawIndexed ... failed. %s reads more than %u bytes per vertex\n", vs->name, kMaxStagedVertexBytes);
    return;
  }
  GeometryQueue* q = c->batch->queue;
  IndexWalk w;
  w.stride = VertexSlotStride(vs);
  w.reserve = 6ull * w.stride + 2 * sizeof(TriangleRecord);
  if (w.reserve > uint64_t(q->geometryTop - q->geometryBottom)) {
    LogPrintf("DrawIndexed ... failed. %s writes too much per vertex\n", vs->name);
    return;
  }

  TakeSnapshots(c);
  w.queue = q;
  w.input = c->batch->input;
  w.pipeline = c->batch->pipeline;
  w.indices = static_cast<const uint8_t*>(c->indexData.data);
  w.indexWidth = width;
  ResetCache(&w);
  if (c->topology == Topology::TriangleList) {
    WalkList(&w, n);
  } else if (c->topology == Topology::TriangleStrip) {
    WalkStrip(&w, n);
  } else {
    WalkFan(&w, n);
  }
  DispatchVertexJobs(q, w.input, w.pipeline);
}

void DispatchVertexJobs(GeometryQueue* q, const InputState* input, const PipelineState* pipeline) {
  if (q->vertexCursor == q->vertexMark) return;
  uint64_t run = uint64_t(kVertexRunLength) * VertexSlotStride(pipeline->vertexStage);
  uint8_t* first = q->vertexCursor;
  uint32_t start = q->vertexJobCount; // first record of this dispatch not yet submitted
  while (first < q->vertexMark) {
    if (q->vertexJobCount == q->vertexJobCapacity) {
      SubmitJobs(&q->jobs, q->vertexJobCount - start, RunVertexJob, &q->vertexJobs[start]);
      WaitJobs(&q->jobs);
      q->vertexJobCount = 0;
      start = 0;
    }
    uint8_t* end = uint64_t(q->vertexMark - first) > run ? first + run : q->vertexMark;
    VertexJob* job = &q->vertexJobs[q->vertexJobCount++];
    job->input = input;
    job->pipeline = pipeline;
    job->first = first;
    job->end = end;
    first = end;
  }
  if (q->vertexJobCount > start) SubmitJobs(&q->jobs, q->vertexJobCount - start, RunVertexJob, &q->vertexJobs[start]);
  q->vertexMark = q->vertexCursor;
}

void FlushGeometry(GeometryQueue* q, const InputState* input, const PipelineState* pipeline) {
  if (pipeline) DispatchVertexJobs(q, input, pipeline);
  WaitJobs(&q->jobs);

  if (q->triangleMark != q->triangleCursor) {
    OpenBins(q->binner);
    q->binner->queueBase = reinterpret_cast<TriangleRecord*>(q->geometryBottom);
    TriangleRecord* first = q->triangleMark;
    uint32_t start = q->setupJobCount;
    while (first < q->triangleCursor) {
      if (q->setupJobCount == q->setupJobCapacity) {
        SubmitSetupJobs(&q->jobs, q->binner, &q->setupJobs[start], q->setupJobCount - start);
        WaitJobs(&q->jobs);
        q->setupJobCount = 0;
        start = 0;
      }
      TriangleRecord* end = q->triangleCursor - first > kSetupRunLength ? first + kSetupRunLength : q->triangleCursor;
      SetupJob* job = &q->setupJobs[q->setupJobCount++];
      job->binner = q->binner;
      job->first = first;
      job->end = end;
      job->position = 0;
      job->state = kSetupWaiting;
      first = end;
    }
    if (q->setupJobCount > start) SubmitSetupJobs(&q->jobs, q->binner, &q->setupJobs[start], q->setupJobCount - start);
    q->triangleMark = q->triangleCursor;
    WaitJobs(&q->jobs);
  }

  RunTilePass(q->binner);

  q->triangleCursor = reinterpret_cast<TriangleRecord*>(q->geometryBottom);
  q->triangleMark = q->triangleCursor;
  q->vertexCursor = q->geometryTop;
  q->vertexMark = q->geometryTop;
  q->vertexJobCount = 0;
  q->setupJobCount = 0;
}
