// The state-setting and drawing commands: payload records, their execute
// functions (render thread) and their recording functions (main thread).
// Present, Flush and the other end-of-frame commands are in gfx/frame_end.cpp.
#include <cstring>

#include "gfx/gfx_internal.h"

namespace {

struct ViewportCommand {
  GfxCommand header;
  int32_t x, y, width, height;
};
struct DepthRangeCommand {
  GfxCommand header;
  float depthNear, depthFar;
};
struct PointerCommand { // BindDepthTarget, stage and constant bindings
  GfxCommand header;
  const void* pointer;
};
struct ColorTargetCommand {
  GfxCommand header;
  uint32_t slot;
  uint32_t pad;
  Presenter* presenter;
};
struct ClearDepthCommand {
  GfxCommand header;
  uint8_t value[kMaxElementBytes];
  uint64_t byteCount;
};
struct ClearColorCommand {
  GfxCommand header;
  uint32_t slot;
  uint32_t pad;
  uint8_t value[kMaxElementBytes];
  uint64_t byteCount;
};
struct WordCommand { // SetDepthCompare, SetSortMode, SetTopology, DrawIndexed
  GfxCommand header;
  int32_t word;
  uint32_t pad;
};
struct ConstantsCommand {
  GfxCommand header;
  const void* source;
  uint64_t size;
  uint64_t alignment;
};
struct StreamCommand {
  GfxCommand header;
  uint32_t slot;
  uint32_t pad;
  const void* source;
  uint64_t size;
};
struct ElementCommand {
  GfxCommand header;
  uint32_t element;
  VertexElement value;
};
struct IndexCommand {
  GfxCommand header;
  int32_t indexFormat;
  uint32_t pad;
  const void* source;
  uint64_t size;
};

static_assert(sizeof(ViewportCommand) == 32);
static_assert(sizeof(DepthRangeCommand) == 24);
static_assert(sizeof(PointerCommand) == 24);
static_assert(sizeof(ColorTargetCommand) == 32);
static_assert(sizeof(ClearDepthCommand) == 40);
static_assert(sizeof(ClearColorCommand) == 48);
static_assert(sizeof(WordCommand) == 24);
static_assert(sizeof(ConstantsCommand) == kCommandInlineOffset);
static_assert(sizeof(StreamCommand) == kCommandInlineOffset);
static_assert(sizeof(ElementCommand) == 40);
static_assert(sizeof(IndexCommand) == kCommandInlineOffset);

template <typename T>
T* As(GfxCommand* c) {
  return reinterpret_cast<T*>(c);
}

// ---- Execute functions --------------------------------------------------------
GfxCommand* ExecuteSetViewport(QvGfxContext* c, GfxCommand* command) {
  ViewportCommand* v = As<ViewportCommand>(command);
  RenderState* s = &c->render;
  if (v->x != s->viewportX || v->y != s->viewportY || v->width != s->viewportWidth || v->height != s->viewportHeight) {
    FlushDraws(c);
    DeriveViewport(s, v->x, v->y, v->width, v->height);
  }
  return NextCommand(command);
}

GfxCommand* ExecuteSetDepthRange(QvGfxContext* c, GfxCommand* command) {
  DepthRangeCommand* d = As<DepthRangeCommand>(command);
  RenderState* s = &c->render;
  if (d->depthNear != s->depthNear || d->depthFar != s->depthFar) {
    FlushDraws(c);
    DeriveDepthRange(s, d->depthNear, d->depthFar);
  }
  return NextCommand(command);
}

GfxCommand* ExecuteBindDepthTarget(QvGfxContext* c, GfxCommand* command) {
  Surface* surface = static_cast<Surface*>(const_cast<void*>(As<PointerCommand>(command)->pointer));
  RenderState* s = &c->render;
  if (surface != s->depthTarget) {
    if (s->depthClearState == kClearPending) OpenBins(&c->binner);
    FlushDraws(c);
    s->depthTarget = surface;
  }
  return NextCommand(command);
}

GfxCommand* ExecuteBindColorTarget(QvGfxContext* c, GfxCommand* command) {
  ColorTargetCommand* t = As<ColorTargetCommand>(command);
  if (t->slot >= kMaxColorTargets) return NextCommand(command);
  Presenter* presenter = t->presenter;
  Surface* surface = presenter ? presenter->AcquireFrameSurface(presenter) : nullptr;
  RenderState* s = &c->render;
  if (surface != s->colorTargets[t->slot]) {
    for (uint32_t i = 0; i < kMaxColorTargets; i++) {
      if (s->colorClearState[i] == kClearPending) {
        OpenBins(&c->binner);
        break;
      }
    }
    FlushDraws(c);
    s->colorTargets[t->slot] = surface;
  }
  c->targetPresenter[t->slot] = surface ? presenter : nullptr;
  return NextCommand(command);
}

GfxCommand* ExecuteClearDepth(QvGfxContext* c, GfxCommand* command) {
  ClearDepthCommand* d = As<ClearDepthCommand>(command);
  RenderState* s = &c->render;
  if (s->depthTarget) {
    FlushDraws(c);
    s->depthClearState = kClearPending;
    memcpy(s->depthClearValue, d->value, d->byteCount <= kMaxElementBytes ? d->byteCount : kMaxElementBytes);
  }
  return NextCommand(command);
}

GfxCommand* ExecuteClearColor(QvGfxContext* c, GfxCommand* command) {
  ClearColorCommand* d = As<ClearColorCommand>(command);
  RenderState* s = &c->render;
  if (d->slot < kMaxColorTargets && s->colorTargets[d->slot]) {
    FlushDraws(c);
    s->colorClearState[d->slot] = kClearPending;
    memcpy(s->colorClearValue[d->slot], d->value, d->byteCount <= kMaxElementBytes ? d->byteCount : kMaxElementBytes);
  }
  return NextCommand(command);
}

GfxCommand* ExecuteSetDepthCompare(QvGfxContext* c, GfxCommand* command) {
  const CompareFunction::Value compare = CompareFunction::Value(As<WordCommand>(command)->word);
  if (compare != c->pipeline.depthCompare) {
    c->pipeline.depthCompare = compare;
    c->batch.pipelineChanged = 1;
  }
  return NextCommand(command);
}

GfxCommand* ExecuteSetSortMode(QvGfxContext* c, GfxCommand* command) {
  const SortMode::Value mode = SortMode::Value(As<WordCommand>(command)->word);
  if (mode != c->render.sortMode) {
    FlushDraws(c);
    c->render.sortMode = mode;
  }
  return NextCommand(command);
}

void BindStage(QvGfxContext* c, const StageDescriptor** bound, const void* pointer) {
  const StageDescriptor* stage = static_cast<const StageDescriptor*>(pointer);
  if (stage != *bound) {
    *bound = stage;
    c->batch.pipelineChanged = 1;
  }
}

GfxCommand* ExecuteBindBlendStage(QvGfxContext* c, GfxCommand* command) {
  BindStage(c, &c->pipeline.blendStage, As<PointerCommand>(command)->pointer);
  return NextCommand(command);
}

GfxCommand* ExecuteBindFragmentStage(QvGfxContext* c, GfxCommand* command) {
  BindStage(c, &c->pipeline.fragmentStage, As<PointerCommand>(command)->pointer);
  return NextCommand(command);
}

GfxCommand* ExecuteBindVertexStage(QvGfxContext* c, GfxCommand* command) {
  const void* stage = As<PointerCommand>(command)->pointer;
  BindStage(c, &c->pipeline.vertexStage, stage ? stage : &NullVs);
  return NextCommand(command);
}

GfxCommand* ExecuteBindBlendConstants(QvGfxContext* c, GfxCommand* command) {
  void* data = const_cast<void*>(As<PointerCommand>(command)->pointer);
  Binding* b = &c->pipeline.blendConstants;
  if (!(b->size == -1 && b->data == data)) {
    *b = Binding{data, -1, 0};
    c->batch.pipelineChanged = 1;
  }
  return NextCommand(command);
}

GfxCommand* ExecuteSetVertexConstants(QvGfxContext* c, GfxCommand* command) {
  ConstantsCommand* k = As<ConstantsCommand>(command);
  UploadCopy(c, &c->pipeline.vertexConstants, k->source, k->size, k->alignment);
  c->batch.pipelineChanged = 1;
  return NextCommand(command);
}

GfxCommand* ExecuteSetFragmentConstants(QvGfxContext* c, GfxCommand* command) {
  ConstantsCommand* k = As<ConstantsCommand>(command);
  UploadCopy(c, &c->pipeline.fragmentConstants, k->source, k->size, k->alignment);
  c->batch.pipelineChanged = 1;
  return NextCommand(command);
}

GfxCommand* ExecuteSetVertexStream(QvGfxContext* c, GfxCommand* command) {
  StreamCommand* k = As<StreamCommand>(command);
  if (k->slot < kMaxVertexStreams) {
    UploadCopy(c, &c->input.streams[k->slot], k->source, k->size, 4);
    c->batch.inputChanged = 1;
  }
  return NextCommand(command);
}

GfxCommand* ExecuteSetVertexElement(QvGfxContext* c, GfxCommand* command) {
  ElementCommand* k = As<ElementCommand>(command);
  if (k->element < kMaxVertexStreams) {
    VertexElement* e = &c->input.elements[k->element];
    if (memcmp(e, &k->value, sizeof(VertexElement)) != 0) {
      *e = k->value;
      c->batch.inputChanged = 1;
    }
  }
  return NextCommand(command);
}

GfxCommand* ExecuteSetIndexData(QvGfxContext* c, GfxCommand* command) {
  IndexCommand* k = As<IndexCommand>(command);
  UploadCopy(c, &c->indexData, k->source, k->size, 4);
  c->indexFormat = k->indexFormat;
  return NextCommand(command);
}

GfxCommand* ExecuteSetTopology(QvGfxContext* c, GfxCommand* command) {
  c->topology = uint32_t(As<WordCommand>(command)->word);
  return NextCommand(command);
}

GfxCommand* ExecuteDrawIndexed(QvGfxContext* c, GfxCommand* command) {
  // The tile pass maps output entry i of the last stage to colour slot i;
  // a different layout cannot share a tile pass with what is queued.
  const PipelineState* p = &c->pipeline;
  const StageDescriptor* last = p->blendStage ? p->blendStage : p->fragmentStage ? p->fragmentStage : p->vertexStage;
  const StageLayout* out = last->outputLayout;
  RenderTargetLayout* t = &c->render.targetLayout;
  uint32_t count = out->entryCount <= kMaxLayoutEntries ? out->entryCount : kMaxLayoutEntries;
  int32_t differs = count != t->entryCount;
  for (uint32_t i = 0; i < count && !differs; i++)
    differs = out->entries[i].offset != t->entries[i].offset || out->entries[i].count != t->entries[i].count;
  if (differs) {
    FlushDraws(c);
    memset(t, 0, sizeof(*t));
    t->totalSize = out->totalSize;
    t->entryCount = count;
    for (uint32_t i = 0; i < count; i++) t->entries[i] = out->entries[i];
  }
  DrawSource source = ContextDrawSource(c);
  DrawIndexedStep(&source, uint32_t(As<WordCommand>(command)->word));
  return NextCommand(command);
}

// ---- Recording helpers -----------------------------------------------------------
template <typename T>
T* Begin(QvGfxContext* c, uint64_t size, GfxExecuteFn execute) {
  T* record = static_cast<T*>(AllocCommand(c, size));
  if (record) {
    record->header.size = CommandRecordSize(size);
    record->header.execute = execute;
  }
  return record;
}

int32_t RecordPointer(QvGfxContext* c, GfxExecuteFn execute, const void* pointer) {
  PointerCommand* k = Begin<PointerCommand>(c, sizeof(PointerCommand), execute);
  if (!k) return 1;
  k->pointer = pointer;
  SubmitCommand(c, sizeof(PointerCommand));
  return 0;
}

int32_t RecordWord(QvGfxContext* c, GfxExecuteFn execute, int32_t word) {
  WordCommand* k = Begin<WordCommand>(c, sizeof(WordCommand), execute);
  if (!k) return 1;
  k->word = word;
  k->pad = 0;
  SubmitCommand(c, sizeof(WordCommand));
  return 0;
}

int32_t RecordConstants(QvGfxContext* c, GfxExecuteFn execute, const void* data, uint64_t size, uint64_t alignment) {
  if (alignment & (alignment - 1)) {
    LogPrintf("SetConstants ... failed.\n\talignment=%llu\n", static_cast<unsigned long long>(alignment));
    return 1;
  }
  if (size > kMaxInlineBytes) {
    LogPrintf("SetConstants ... failed.\n\tsize=%llu\n", static_cast<unsigned long long>(size));
    return 1;
  }
  uint64_t n = kCommandInlineOffset + size;
  ConstantsCommand* k = Begin<ConstantsCommand>(c, n, execute);
  if (!k) return 1;
  uint8_t* inlineData = reinterpret_cast<uint8_t*>(k) + kCommandInlineOffset;
  if (size) memcpy(inlineData, data, size);
  k->source = inlineData;
  k->size = size;
  k->alignment = alignment;
  SubmitCommand(c, n);
  return 0;
}

} // namespace

// ---- Recording functions -------------------------------------------------------------
int32_t RecordSetViewport(QvGfxContext* c, int32_t x, int32_t y, int32_t width, int32_t height) {
  ViewportCommand* k = Begin<ViewportCommand>(c, sizeof(ViewportCommand), ExecuteSetViewport);
  if (!k) return 1;
  k->x = x;
  k->y = y;
  k->width = width;
  k->height = height;
  SubmitCommand(c, sizeof(ViewportCommand));
  return 0;
}

int32_t RecordSetDepthRange(QvGfxContext* c, float depthNear, float depthFar) {
  DepthRangeCommand* k = Begin<DepthRangeCommand>(c, sizeof(DepthRangeCommand), ExecuteSetDepthRange);
  if (!k) return 1;
  k->depthNear = depthNear;
  k->depthFar = depthFar;
  SubmitCommand(c, sizeof(DepthRangeCommand));
  return 0;
}

int32_t RecordBindDepthTarget(QvGfxContext* c, Surface* surface) {
  return RecordPointer(c, ExecuteBindDepthTarget, surface);
}

int32_t RecordBindColorTarget(QvGfxContext* c, uint32_t slot, Presenter* presenter) {
  ColorTargetCommand* k = Begin<ColorTargetCommand>(c, sizeof(ColorTargetCommand), ExecuteBindColorTarget);
  if (!k) return 1;
  k->slot = slot;
  k->pad = 0;
  k->presenter = presenter;
  SubmitCommand(c, sizeof(ColorTargetCommand));
  return 0;
}

int32_t RecordClearDepth(QvGfxContext* c, const void* value, uint64_t byteCount) {
  if (byteCount > kMaxElementBytes) {
    LogPrintf("ClearDepth ... failed.\n\tbyteCount=%llu\n", static_cast<unsigned long long>(byteCount));
    return 1;
  }
  ClearDepthCommand* k = Begin<ClearDepthCommand>(c, sizeof(ClearDepthCommand), ExecuteClearDepth);
  if (!k) return 1;
  memset(k->value, 0, sizeof(k->value));
  if (byteCount) memcpy(k->value, value, byteCount);
  k->byteCount = byteCount;
  SubmitCommand(c, sizeof(ClearDepthCommand));
  return 0;
}

int32_t RecordClearColor(QvGfxContext* c, uint32_t slot, const void* value, uint64_t byteCount) {
  if (byteCount > kMaxElementBytes) {
    LogPrintf("ClearColor ... failed.\n\tbyteCount=%llu\n", static_cast<unsigned long long>(byteCount));
    return 1;
  }
  ClearColorCommand* k = Begin<ClearColorCommand>(c, sizeof(ClearColorCommand), ExecuteClearColor);
  if (!k) return 1;
  k->slot = slot;
  k->pad = 0;
  memset(k->value, 0, sizeof(k->value));
  if (byteCount) memcpy(k->value, value, byteCount);
  k->byteCount = byteCount;
  SubmitCommand(c, sizeof(ClearColorCommand));
  return 0;
}

int32_t RecordSetDepthCompare(QvGfxContext* c, int32_t compare) { return RecordWord(c, ExecuteSetDepthCompare, compare); }
int32_t RecordSetSortMode(QvGfxContext* c, int32_t mode) { return RecordWord(c, ExecuteSetSortMode, mode); }
int32_t RecordSetTopology(QvGfxContext* c, uint32_t topology) { return RecordWord(c, ExecuteSetTopology, int32_t(topology)); }
int32_t RecordDrawIndexed(QvGfxContext* c, uint32_t indexCount) { return RecordWord(c, ExecuteDrawIndexed, int32_t(indexCount)); }

int32_t RecordBindBlendStage(QvGfxContext* c, const StageDescriptor* stage) { return RecordPointer(c, ExecuteBindBlendStage, stage); }
int32_t RecordBindBlendConstants(QvGfxContext* c, const void* data) { return RecordPointer(c, ExecuteBindBlendConstants, data); }
int32_t RecordBindVertexStage(QvGfxContext* c, const StageDescriptor* stage) { return RecordPointer(c, ExecuteBindVertexStage, stage); }
int32_t RecordBindFragmentStage(QvGfxContext* c, const StageDescriptor* stage) { return RecordPointer(c, ExecuteBindFragmentStage, stage); }

int32_t RecordSetVertexConstants(QvGfxContext* c, const void* data, uint64_t size, uint64_t alignment) {
  return RecordConstants(c, ExecuteSetVertexConstants, data, size, alignment);
}

int32_t RecordSetFragmentConstants(QvGfxContext* c, const void* data, uint64_t size, uint64_t alignment) {
  return RecordConstants(c, ExecuteSetFragmentConstants, data, size, alignment);
}

namespace {

// The copying commands carry their data inline behind the record; the
// record's source points at that copy. `fill` sets the command's own word.
template <typename T, typename Fill>
int32_t RecordCopying(QvGfxContext* c, GfxExecuteFn execute, const char* name, const void* data, uint64_t size,
                      Fill fill) {
  if (size > kMaxInlineBytes) {
    LogPrintf("%s ... failed.\n\tsize=%llu\n", name, static_cast<unsigned long long>(size));
    return 1;
  }
  uint64_t n = kCommandInlineOffset + size;
  T* k = Begin<T>(c, n, execute);
  if (!k) return 1;
  uint8_t* inlineData = reinterpret_cast<uint8_t*>(k) + kCommandInlineOffset;
  if (size) memcpy(inlineData, data, size);
  fill(k);
  k->pad = 0;
  k->source = inlineData;
  k->size = size;
  SubmitCommand(c, n);
  return 0;
}

} // namespace

int32_t RecordSetVertexStream(QvGfxContext* c, uint32_t slot, const void* data, uint64_t size) {
  return RecordCopying<StreamCommand>(c, ExecuteSetVertexStream, "SetVertexStream", data, size,
                                      [slot](StreamCommand* k) { k->slot = slot; });
}

int32_t RecordSetVertexElement(QvGfxContext* c, uint32_t element, const VertexElement* value) {
  ElementCommand* k = Begin<ElementCommand>(c, sizeof(ElementCommand), ExecuteSetVertexElement);
  if (!k) return 1;
  k->element = element;
  k->value = *value;
  SubmitCommand(c, sizeof(ElementCommand));
  return 0;
}

int32_t RecordSetIndexData(QvGfxContext* c, int32_t indexFormat, const void* data, uint64_t size) {
  return RecordCopying<IndexCommand>(c, ExecuteSetIndexData, "SetIndexData", data, size,
                                     [indexFormat](IndexCommand* k) { k->indexFormat = indexFormat; });
}
