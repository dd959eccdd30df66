#include <cstring>

#include "present/present.h"
#include "runtime/runtime.h"

static uint8_t* FrameBuffer(const MemoryPresenter* p, uint32_t frame) {
  return p->storage + uint64_t(frame % p->bufferCount) * kFrameBytes;
}

static Surface* MemoryAcquireFrameSurface(Presenter* base) {
  MemoryPresenter* p = reinterpret_cast<MemoryPresenter*>(base);
  FrameSlot* slot = &p->slots[p->currentSlot];
  if (!slot->created && MakeFrameSlotSurface(slot, p->mapped, kFramePitch) != 0) return nullptr;
  return &slot->surface;
}

static int32_t MemoryPresentFrame(Presenter* base, uint32_t mode) {
  MemoryPresenter* p = reinterpret_cast<MemoryPresenter*>(base);
  // The surface wraps memory that belongs to the finished frame from now on.
  DropFrameSlotSurface(&p->slots[p->currentSlot]);
  p->currentSlot = (p->currentSlot + 1) & 1;
  p->lastMode.store(mode);
  uint32_t done = p->presentedCount.load() + 1;
  p->mapped = FrameBuffer(p, done);
  p->presentedCount.store(done);
  return 0;
}

int32_t CreateMemoryPresenter(MemoryPresenter* p, uint32_t keptCount) {
  memset(static_cast<void*>(p), 0, sizeof(*p));
  if (keptCount == 0) keptCount = 1;
  p->base.AcquireFrameSurface = MemoryAcquireFrameSurface;
  p->base.PresentFrame = MemoryPresentFrame;
  p->keptCount = keptCount;
  p->bufferCount = keptCount + 1;
  uint64_t bytes = uint64_t(p->bufferCount) * kFrameBytes;
  // Frames start on a cache line, like CreateSurface's rows, so tiles side
  // by side never share one.
  p->block = MemAlloc(bytes + kSurfaceAlignment);
  if (!p->block) return 1;
  p->storage = AlignToSurfaceLine(p->block);
  memset(p->storage, 0, bytes);
  p->mapped = FrameBuffer(p, 0);
  return 0;
}

void DestroyMemoryPresenter(MemoryPresenter* p) {
  DropFrameSlotSurface(&p->slots[0]);
  DropFrameSlotSurface(&p->slots[1]);
  MemFree(p->block);
  p->block = nullptr;
  p->storage = nullptr;
  p->mapped = nullptr;
}

const uint8_t* MemoryPresenterFrame(const MemoryPresenter* p, uint32_t k) {
  uint32_t presented = p->presentedCount.load();
  if (k >= presented || presented - k > p->keptCount) return nullptr;
  return FrameBuffer(p, k);
}

uint32_t MemoryPresenterPresentedCount(const MemoryPresenter* p) { return p->presentedCount.load(); }
