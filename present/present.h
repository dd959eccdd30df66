// Presenters: where the software frame goes. The render thread asks the
// bound presenter for the surface of the current frame (BindColorTarget) and
// hands the finished frame over (Present). Concrete presenters embed a
// Presenter as their first member.
#pragma once

#include <atomic>
#include <cstdint>

#include "format/format.h"

struct Presenter;
// Returns the surface over the current frame memory, making it on first use
// within the frame.
typedef Surface* (*AcquireFrameSurfaceFn)(Presenter* presenter);
// How PresentFrame paces the frame (present/pacing.h carries it out). Any
// other value presents at once.
struct PresentMode {
  enum Value : uint32_t {
    Immediate = 0,
    VSync = 2,            // windowed: wait for the vertical blank, interval 0; fullscreen: interval 1
    WaitVBlank = 3,       // wait for the vertical blank, then interval 0
    LimitThenPresent = 4, // frame limiter, then present
    PresentThenLimit = 5, // present, then the frame limiter (the app's mode)
    EarlyHold = 6,        // 99 % hold, present, then the frame limiter
  };
};

// Shows the current frame and moves on to the next one; 0 ok, 1 failure.
// mode is a PresentMode::Value.
typedef int32_t (*PresentFrameFn)(Presenter* presenter, uint32_t mode);

struct Presenter {
  AcquireFrameSurfaceFn AcquireFrameSurface;
  PresentFrameFn PresentFrame;
};

constexpr uint32_t kFrameWidth = 640;
constexpr uint32_t kFrameHeight = 480;
constexpr uint32_t kFramePitch = (kFrameWidth * 4 + 255) & ~255u; // 2560
constexpr uint64_t kFrameBytes = uint64_t(kFramePitch) * kFrameHeight;

// Where a sourceWidth x sourceHeight picture goes on an output of
// outputWidth x outputHeight: the largest rectangle of the source's shape,
// filling one axis and centred on the other. The viewport (left .. height)
// is the exact rectangle rounded to the nearest float; the scissor edges are
// the exact edges rounded down (a pixel is in when its left or top edge is),
// so the scissor is also the copy rectangle of the SDL presenter.
// minDepth and maxDepth are the Direct3D 12 viewport's depth range (0 and 0).
// All zero when either size is empty.
struct LetterboxRect {
  float left, top, width, height;
  float minDepth, maxDepth;
  int32_t scissorLeft, scissorTop, scissorRight, scissorBottom;
};

void ComputeLetterboxRect(LetterboxRect* rect, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t outputWidth,
                          uint32_t outputHeight);

// A surface wrapping frame memory owned elsewhere; lives from the first
// acquisition in a frame to that frame's present.
struct FrameSlot {
  Surface surface;
  int32_t created;
};

// Fills slot with a Unorm8BGRA 640x480 linear surface over memory, rowPitch
// bytes a row (kFramePitch, or what a streaming texture gives).
int32_t MakeFrameSlotSurface(FrameSlot* slot, uint8_t* memory, uint32_t rowPitch);
void DropFrameSlotSurface(FrameSlot* slot);

// ---- Headless memory presenter ---------------------------------------------
// Renders into a preallocated ring of keptCount + 1 frame buffers; the last
// keptCount presented frames stay readable. No pacing, no window.
struct MemoryPresenter {
  Presenter base;
  FrameSlot slots[2];
  uint32_t currentSlot;
  uint32_t keptCount;
  uint32_t bufferCount; // keptCount + 1
  uint8_t* storage;     // bufferCount * kFrameBytes, zeroed at creation
  void* block;          // the allocation; storage starts on the first cache line in it
  uint8_t* mapped;      // memory of the frame being drawn
  std::atomic<uint32_t> presentedCount;
  std::atomic<uint32_t> lastMode;
};

// keptCount >= 1. Returns 1 when the storage cannot be had.
int32_t CreateMemoryPresenter(MemoryPresenter* presenter, uint32_t keptCount);
void DestroyMemoryPresenter(MemoryPresenter* presenter);
// Frame k (0 = first presented) when it is among the kept ones, else null.
// Rows are kFramePitch bytes apart, pixels B, G, R, A.
const uint8_t* MemoryPresenterFrame(const MemoryPresenter* presenter, uint32_t k);
uint32_t MemoryPresenterPresentedCount(const MemoryPresenter* presenter);
