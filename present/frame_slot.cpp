#include <cstring>

#include "present/present.h"

int32_t MakeFrameSlotSurface(FrameSlot* slot, uint8_t* memory, uint32_t rowPitch) {
  SurfaceDesc desc;
  DescribeLinearSurface(&desc, Unorm8BGRA, kFrameWidth, kFrameHeight, memory, uint64_t(rowPitch) * kFrameHeight,
                        rowPitch);
  memset(&slot->surface, 0, sizeof(slot->surface));
  if (InitSurface(&slot->surface, &desc, 0) != 0) return 1;
  slot->created = 1;
  return 0;
}

void DropFrameSlotSurface(FrameSlot* slot) {
  if (!slot->created) return;
  ReleaseSurface(&slot->surface); // does not own the memory: frees nothing
  memset(&slot->surface, 0, sizeof(slot->surface));
  slot->created = 0;
}
