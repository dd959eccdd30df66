#include <cstring>

#include "present/present.h"

int32_t MakeFrameSlotSurface(FrameSlot* slot, uint8_t* memory, uint32_t rowPitch) {
  SurfaceDesc desc;
  memset(&desc, 0, sizeof(desc));
  desc.format = Unorm8BGRA;
  desc.layout = kLayoutLinear;
  desc.width = kFrameWidth;
  desc.height = kFrameHeight;
  desc.levelCount = 1;
  desc.levels[0].data = memory;
  desc.levels[0].size = uint64_t(rowPitch) * kFrameHeight;
  desc.levels[0].rowPitch = rowPitch;
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
