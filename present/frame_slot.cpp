#include <cstring>

#include "present/present.h"

int32_t MakeFrameSlotSurface(FrameSlot* slot, uint8_t* memory) {
  SurfaceDesc desc;
  memset(&desc, 0, sizeof(desc));
  desc.format = Unorm8BGRA;
  desc.layout = 1;
  desc.width = kFrameWidth;
  desc.height = kFrameHeight;
  desc.levelCount = 1;
  desc.levels[0].data = memory;
  desc.levels[0].size = kFrameBytes;
  desc.levels[0].rowPitch = kFramePitch;
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
