#include "tests/format/surface_harness.h"

#include <cstring>

SurfaceDesc TestSurfaceDesc(int32_t format, int32_t layout, uint32_t w, uint32_t h, uint32_t levels) {
  return SurfaceDesc{format, layout, w, h, levels, {}};
}

uint32_t SlowMorton(uint32_t x, uint32_t y) {
  uint32_t code = 0;
  for (uint32_t k = 0; k < 16; ++k) {
    code |= ((x >> k) & 1u) << (2 * k);
    code |= ((y >> k) & 1u) << (2 * k + 1);
  }
  return code;
}

int32_t BuildTestSurface(TestSurface* t, int32_t format, int32_t layout, uint32_t width, uint32_t height,
                         uint32_t requestedLevels, uint32_t pitchPad, int32_t guardAfter, std::mt19937* rng) {
  memset(t, 0, sizeof(*t));
  t->format = format;
  t->layout = layout;
  t->elementSize = formatInfo(format)->elementSize;
  uint32_t es = t->elementSize;
  uint32_t count = 0;
  while (count < requestedLevels && count < kMaxSurfaceLevels && (width >> count) != 0 && (height >> count) != 0)
    ++count;
  t->levelCount = count;

  SurfaceDesc desc = TestSurfaceDesc(format, layout, width, height, requestedLevels);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t w = width >> i, h = height >> i;
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    t->width[i] = w;
    t->height[i] = h;
    uint64_t size;
    if (layout == kLayoutLinear) {
      t->pitch[i] = w * es + pitchPad;
      size = static_cast<uint64_t>(t->pitch[i]) * (h - 1) + static_cast<uint64_t>(w) * es;
    } else {
      t->pitch[i] = 0;
      size = (static_cast<uint64_t>(SlowMorton(w - 1, h - 1)) + 1) * es;
    }
    if (GuardedAlloc(&t->blocks[i], size, guardAfter)) return 1;
    for (uint64_t b = 0; b < size; ++b) t->blocks[i].data[b] = static_cast<uint8_t>((*rng)());
    desc.levels[i].data = t->blocks[i].data;
    desc.levels[i].size = size;
    desc.levels[i].rowPitch = t->pitch[i];
  }
  return InitSurface(&t->surface, &desc, 0);
}

void FreeTestSurface(TestSurface* t) {
  for (uint32_t i = 0; i < kMaxSurfaceLevels; ++i) GuardedFree(&t->blocks[i]);
}

uint8_t* RefTexelAddress(const TestSurface* t, uint32_t level, uint32_t x, uint32_t y) {
  if (t->layout == kLayoutLinear)
    return t->blocks[level].data + static_cast<uint64_t>(y) * t->pitch[level] + static_cast<uint64_t>(x) * t->elementSize;
  return t->blocks[level].data + static_cast<uint64_t>(SlowMorton(x, y)) * t->elementSize;
}
