// Headless memory presenter: frame surfaces, kept frames and their contents.
#include <gtest/gtest.h>

#include <cstring>

#include "present/present.h"

namespace {

void PaintFrame(Surface* s, uint8_t tag) {
  // Writes through the surface's own texel function, so the test also sees
  // that the surface addresses the frame memory with the right pitch.
  for (uint32_t y = 0; y < kFrameHeight; y += 7) {
    for (uint32_t x = 0; x < kFrameWidth; x += 5) {
      uint8_t bgra[4] = {uint8_t(x), uint8_t(y), tag, uint8_t(x ^ y)};
      s->StoreElement(s, 0, x, y, bgra);
    }
  }
}

bool FrameHolds(const uint8_t* frame, uint8_t tag) {
  for (uint32_t y = 0; y < kFrameHeight; y += 7) {
    for (uint32_t x = 0; x < kFrameWidth; x += 5) {
      const uint8_t* p = frame + uint64_t(y) * kFramePitch + 4ull * x;
      if (p[0] != uint8_t(x) || p[1] != uint8_t(y) || p[2] != tag || p[3] != uint8_t(x ^ y)) return false;
    }
  }
  return true;
}

TEST(MemoryPresenter, SurfaceDescribesTheFrame) {
  MemoryPresenter p;
  ASSERT_EQ(CreateMemoryPresenter(&p, 2), 0);
  Surface* s = p.base.AcquireFrameSurface(&p.base);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->format, Unorm8BGRA);
  EXPECT_EQ(s->elementSize, 4u);
  EXPECT_EQ(s->layout, kLayoutLinear);
  EXPECT_EQ(s->ownsStorage, 0);
  EXPECT_EQ(s->levelCount, 1u);
  EXPECT_EQ(s->levels[0].width, 640u);
  EXPECT_EQ(s->levels[0].height, 480u);
  EXPECT_EQ(s->levels[0].pitch, 2560u);
  EXPECT_EQ(uint64_t(s->levels[0].end - s->levels[0].start), 2560ull * 480);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(s->levels[0].start) % kSurfaceAlignment, 0u);
  // Made once per frame: a second acquisition returns the same surface.
  EXPECT_EQ(p.base.AcquireFrameSurface(&p.base), s);
  EXPECT_EQ(MemoryPresenterFrame(&p, 0), nullptr); // nothing presented yet
  uint8_t* first = s->levels[0].start;
  ASSERT_EQ(p.base.PresentFrame(&p.base, 5), 0);
  EXPECT_EQ(p.lastMode.load(), 5u);
  // The next frame gets the other slot's surface.
  Surface* t = p.base.AcquireFrameSurface(&p.base);
  EXPECT_NE(t, s);
  EXPECT_EQ(MemoryPresenterFrame(&p, 0), first);
  EXPECT_NE(t->levels[0].start, first);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(t->levels[0].start) % kSurfaceAlignment, 0u);
  DestroyMemoryPresenter(&p);
}

TEST(MemoryPresenter, KeepsTheLastFramesReadable) {
  const uint32_t kept = 3;
  MemoryPresenter p;
  ASSERT_EQ(CreateMemoryPresenter(&p, kept), 0);
  for (uint32_t frame = 0; frame < 8; frame++) {
    Surface* s = p.base.AcquireFrameSurface(&p.base);
    ASSERT_NE(s, nullptr);
    PaintFrame(s, uint8_t(0x40 + frame));
    ASSERT_EQ(p.base.PresentFrame(&p.base, 1 + frame % 6), 0);
    EXPECT_EQ(MemoryPresenterPresentedCount(&p), frame + 1);
    for (uint32_t k = 0; k <= frame + 1; k++) {
      const uint8_t* f = MemoryPresenterFrame(&p, k);
      bool keptFrame = k <= frame && frame - k < kept;
      ASSERT_EQ(f != nullptr, keptFrame) << "frame " << k << " after " << frame;
      if (f) {
        EXPECT_TRUE(FrameHolds(f, uint8_t(0x40 + k))) << "frame " << k;
      }
    }
  }
  DestroyMemoryPresenter(&p);
}

} // namespace
