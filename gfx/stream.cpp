// Command ring and render thread. One producer (the main thread) and one
// consumer (the render thread) share only the readable and writable byte
// counts; the write position belongs to the producer, the read position is a
// local of the render thread. The ring knows no command but its own Wrap;
// the end-of-frame commands are in gfx/frame_end.cpp.
#include <cstring>

#include "gfx/gfx.h"
#include "runtime/runtime.h"

namespace {

struct WrapCommand {
  GfxCommand header;
  uint8_t* ringBase;
  uint64_t capacity;
};
static_assert(sizeof(WrapCommand) == 32, "wrap record is 32 bytes");

GfxCommand* ExecuteWrap(QvGfxContext*, GfxCommand* command) {
  return reinterpret_cast<GfxCommand*>(reinterpret_cast<WrapCommand*>(command)->ringBase);
}

} // namespace

uint64_t CommandRecordSize(uint64_t n) { return (n + 7) & ~uint64_t(7); }

int32_t InitCommandRing(CommandStream* s) {
  // The global allocator aligns to 4 only; records hold pointers, so the
  // ring starts at the next multiple of 8.
  s->ringAllocation = static_cast<uint8_t*>(MemAlloc(kCommandRingBytes + 4));
  if (!s->ringAllocation) return 1;
  s->ringBase = s->ringAllocation + ((8 - (reinterpret_cast<uintptr_t>(s->ringAllocation) & 7)) & 7);
  // Touched once now: a first pass of the write position through fresh
  // pages would otherwise take page faults while frames are recorded.
  memset(s->ringAllocation, 0, kCommandRingBytes + 4);
  s->writePosition = s->ringBase;
  s->capacity = kCommandRingBytes;
  WaitCellInit(&s->frameDone, 0);
  Semaphore64Init(&s->readable, 0);
  Semaphore64Init(&s->writable, kCommandRingBytes);
  WaitCellInit(&s->idle, 0);
  s->framesSubmitted = 0;
  return 0;
}

void ResetCommandRing(CommandStream* s) {
  s->writePosition = s->ringBase;
  Semaphore64Destroy(&s->readable);
  Semaphore64Destroy(&s->writable);
  Semaphore64Init(&s->readable, 0);
  Semaphore64Init(&s->writable, kCommandRingBytes);
}

int32_t CreateCommandStream(QvGfxContext* context) {
  CommandStream* s = &context->stream;
  if (InitCommandRing(s) != 0) {
    LogPrintf("CreateCommandStream ... failed.\n");
    return 1;
  }
  if (StartThread(&s->renderThread, RenderThreadMain, context, "QvGfxContext") != 0) {
    LogPrintf("StartThread (QvGfxContext) ... failed.\n");
    WaitCellDestroy(&s->idle);
    Semaphore64Destroy(&s->writable);
    Semaphore64Destroy(&s->readable);
    WaitCellDestroy(&s->frameDone);
    MemFree(s->ringAllocation);
    s->ringAllocation = s->ringBase = s->writePosition = nullptr;
    return 1;
  }
  return 0;
}

void DestroyCommandStream(QvGfxContext* context) {
  CommandStream* s = &context->stream;
  if (!s->ringAllocation) return;
  MemFree(s->ringAllocation);
  s->ringAllocation = s->ringBase = s->writePosition = nullptr;
  WaitCellDestroy(&s->idle);
  Semaphore64Destroy(&s->writable);
  Semaphore64Destroy(&s->readable);
  WaitCellDestroy(&s->frameDone);
}

void* AllocCommand(QvGfxContext* context, uint64_t n) {
  CommandStream* s = &context->stream;
  n = CommandRecordSize(n);
  if (n < sizeof(GfxCommand) || n + kCommandReserve > s->capacity) {
    // Could never be placed: waiting would hang the producer for good.
    LogPrintf("AllocCommand ... failed.\n\tsize=%llu\n", static_cast<unsigned long long>(n));
    return nullptr;
  }
  uint64_t room = uint64_t(s->ringBase + s->capacity - s->writePosition);
  if (room < n + kCommandReserve) {
    Semaphore64Acquire(&s->writable, room);
    WrapCommand* wrap = reinterpret_cast<WrapCommand*>(s->writePosition);
    wrap->header.size = room;
    wrap->header.execute = ExecuteWrap;
    wrap->ringBase = s->ringBase;
    wrap->capacity = s->capacity;
    s->writePosition = s->ringBase;
    Semaphore64Release(&s->readable, room);
  }
  Semaphore64Acquire(&s->writable, n);
  void* record = s->writePosition;
  s->writePosition += n;
  return record;
}

void SubmitCommand(QvGfxContext* context, uint64_t n) {
  Semaphore64Release(&context->stream.readable, CommandRecordSize(n));
}

int64_t RenderThreadMain(void* argument) {
  QvGfxContext* context = static_cast<QvGfxContext*>(argument);
  CommandStream* s = &context->stream;
  GfxCommand* record = reinterpret_cast<GfxCommand*>(s->ringBase);
  for (;;) {
    Semaphore64Acquire(&s->readable, sizeof(GfxCommand));
    uint64_t size = record->size;
    Semaphore64Acquire(&s->readable, size - sizeof(GfxCommand));
    GfxCommand* next = record->execute(context, record);
    if (!next) return 0;
    Semaphore64Release(&s->writable, size);
    record = next;
  }
}
