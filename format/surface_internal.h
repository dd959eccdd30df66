// Private to the format module: Morton helpers shared by the texel functions
// and the sampling kernels, and the texel function selection.
#pragma once

#include <cstdint>

#include "format/format.h"

// Bit k of the low 16 bits of v moved to bit 2k.
inline uint32_t SpreadBits16(uint32_t v) {
  v &= 0xFFFFu;
  v = (v | (v << 8)) & 0x00FF00FFu;
  v = (v | (v << 4)) & 0x0F0F0F0Fu;
  v = (v | (v << 2)) & 0x33333333u;
  v = (v | (v << 1)) & 0x55555555u;
  return v;
}

// Next Morton x code (even bits) and y code (odd bits) along a row / column.
inline uint32_t MortonStepX(uint32_t c) { return ((c | 0x2AAAAAAAu) + 1u) & 0x55555555u; }
inline uint32_t MortonStepY(uint32_t c) { return ((c | 0x55555555u) + 2u) & 0xAAAAAAAAu; }

// Picks the five texel functions from the surface's element size and layout.
void SelectTexelFunctions(Surface* surface);

// Asks the system to back the 2 MiB-aligned part of a large block with large
// pages before it is first touched: sampled textures of tens of MiB are read
// a few texels per row, and small pages make nearly every row a TLB miss.
// Only a hint; nothing changes when the system declines.
void HintLargePages(void* block, uint64_t size);

// Eight-lane point sampling of a single-level, linear, four-float surface
// (clamp, or wrap by mask), or null when the processor cannot run it or the
// level is too large for its 32-bit offsets.
SampleBatchFn WidePointBatch(const Surface* surface, int32_t clamp);
