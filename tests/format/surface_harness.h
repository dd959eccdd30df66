// Test helpers: surfaces over guarded storage, described independently of
// the code under test (level shapes, storage sizes and texel addresses are
// computed here from first principles).
#pragma once

#include <cstdint>
#include <random>

#include "format/format.h"
#include "tests/format/guarded_memory.h"

// A descriptor with no level data: format, layout, size and levels asked for.
SurfaceDesc TestSurfaceDesc(int32_t format, int32_t layout, uint32_t w, uint32_t h, uint32_t levels);

struct TestSurface {
  Surface surface;
  GuardedBlock blocks[kMaxSurfaceLevels];
  int32_t format;
  int32_t layout; // kLayoutLinear or kLayoutMorton
  uint32_t elementSize;
  uint32_t levelCount;
  uint32_t width[kMaxSurfaceLevels];
  uint32_t height[kMaxSurfaceLevels];
  uint32_t pitch[kMaxSurfaceLevels];
};

// Bit-by-bit interleave: x bit k to bit 2k, y bit k to bit 2k + 1.
uint32_t SlowMorton(uint32_t x, uint32_t y);

// Builds the surface with requestedLevels levels over random bytes. Linear
// rows get pitchPad spare bytes each. guardAfter picks which side of every
// level touches an inaccessible page. Returns 0 on success.
int32_t BuildTestSurface(TestSurface* t, int32_t format, int32_t layout, uint32_t width, uint32_t height,
                         uint32_t requestedLevels, uint32_t pitchPad, int32_t guardAfter, std::mt19937* rng);
void FreeTestSurface(TestSurface* t);
uint8_t* RefTexelAddress(const TestSurface* t, uint32_t level, uint32_t x, uint32_t y);
