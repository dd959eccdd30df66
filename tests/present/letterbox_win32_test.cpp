// The fit rectangle of the 640x480 picture on known desktops (every output
// size is in present_letterbox_test), the presenter's shader text through
// the system's HLSL compiler, and the tokens of its test seam.
#include <gtest/gtest.h>

#include <cstring>

#include <d3dcompiler.h>

#include "present/d3d12_win32.h"

extern const unsigned char postShaders[];
extern const uint32_t postShadersSize;

namespace {

using d3d12::PresenterState;

void ExpectRect(uint32_t ow, uint32_t oh, float left, float top, float width, float height) {
  LetterboxRect r;
  ComputeLetterboxRect(&r, 640, 480, ow, oh);
  EXPECT_FLOAT_EQ(r.left, left) << ow << "x" << oh;
  EXPECT_FLOAT_EQ(r.top, top) << ow << "x" << oh;
  EXPECT_FLOAT_EQ(r.width, width) << ow << "x" << oh;
  EXPECT_FLOAT_EQ(r.height, height) << ow << "x" << oh;
  EXPECT_EQ(r.scissorLeft, static_cast<int32_t>(left));
  EXPECT_EQ(r.scissorTop, static_cast<int32_t>(top));
  EXPECT_EQ(r.scissorRight, static_cast<int32_t>(left + width));
  EXPECT_EQ(r.scissorBottom, static_cast<int32_t>(top + height));
  EXPECT_EQ(r.minDepth, 0.0f);
  EXPECT_EQ(r.maxDepth, 0.0f);
}

TEST(LetterboxTest, KnownDesktops) {
  ExpectRect(1920, 1080, 240, 0, 1440, 1080); // bars left and right
  ExpectRect(1280, 1024, 0, 32, 1280, 960);   // bars above and below
  ExpectRect(640, 480, 0, 0, 640, 480);       // fills the screen
  ExpectRect(1600, 1200, 0, 0, 1600, 1200);
  ExpectRect(320, 240, 0, 0, 320, 240);
}

TEST(LetterboxTest, EmptySizesGiveAnEmptyRectangle) {
  LetterboxRect r;
  memset(&r, 0x5A, sizeof(r));
  ComputeLetterboxRect(&r, 640, 480, 0, 0);
  LetterboxRect zero = {};
  EXPECT_EQ(memcmp(&r, &zero, sizeof(r)), 0);
  memset(&r, 0x5A, sizeof(r));
  ComputeLetterboxRect(&r, 640, 480, 1280, 0);
  EXPECT_EQ(memcmp(&r, &zero, sizeof(r)), 0);
}

TEST(PostShadersTest, CompilesForBothStages) {
  std::string text(reinterpret_cast<const char*>(postShaders), postShadersSize);
  struct Stage {
    const char* entry;
    const char* target;
  } stages[] = {{"VSMain", "vs_5_0"}, {"PSMain", "ps_5_0"}};
  for (const Stage& s : stages) {
    ID3DBlob* code = nullptr;
    ID3DBlob* errors = nullptr;
    HRESULT hr = D3DCompile(text.c_str(), text.size() + 1, nullptr, nullptr, nullptr, s.entry, s.target, 0, 0,
                            &code, &errors);
    EXPECT_TRUE(SUCCEEDED(hr)) << s.entry << ": "
                               << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    EXPECT_TRUE(code && code->GetBufferSize() > 0) << s.entry;
    if (code) code->Release();
    if (errors) errors->Release();
  }
  // The root signature binds the frame texture at t0 and the samplers at s0, s1.
  EXPECT_NE(text.find("register(t0)"), std::string::npos);
  EXPECT_NE(text.find("register(s0)"), std::string::npos);
  EXPECT_NE(text.find("register(s1)"), std::string::npos);
}

// The renderer gets a frame surface only while an upload buffer is mapped;
// after a failed map it gets none instead of one over stale memory.
TEST(FrameSurfaceTest, OnlyOverMappedMemory) {
  static uint8_t memory[kFrameBytes];
  PresenterState saved = d3d12::m;
  memset(d3d12::m.slots, 0, sizeof(d3d12::m.slots));
  d3d12::m.currentSlot = 1;
  d3d12::m.mappedPointer = nullptr;
  EXPECT_EQ(d3d12::AcquireFrameSurfaceWin32(&d3d12::m.base), nullptr);
  EXPECT_EQ(d3d12::m.slots[1].created, 0);

  d3d12::m.mappedPointer = memory;
  Surface* s = d3d12::AcquireFrameSurfaceWin32(&d3d12::m.base);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s, &d3d12::m.slots[1].surface);
  EXPECT_EQ(s->levels[0].start, memory);
  EXPECT_EQ(s->levels[0].pitch, kFramePitch);
  EXPECT_EQ(s->levels[0].width, kFrameWidth);
  EXPECT_EQ(s->levels[0].height, kFrameHeight);
  EXPECT_EQ(d3d12::AcquireFrameSurfaceWin32(&d3d12::m.base), s); // made once per frame
  DropFrameSlotSurface(&d3d12::m.slots[1]);
  d3d12::m = saved;
}

// "notearing" is one token of the list, next to the others.
TEST(PresenterFaultsTest, NoTearingAmongOtherTokens) {
  d3d12::PresenterFaults f;
  SetEnvironmentVariableA("QV_TEST_PRESENTER_FAULTS", "present=3,notearing,leave=2");
  d3d12::ReadPresenterFaults(&f);
  EXPECT_EQ(f.noTearing, 1);
  EXPECT_EQ(f.presents, 3);
  EXPECT_EQ(f.leaves, 2);
  EXPECT_EQ(f.removed, 0);
  SetEnvironmentVariableA("QV_TEST_PRESENTER_FAULTS", "removed");
  d3d12::ReadPresenterFaults(&f);
  EXPECT_EQ(f.noTearing, 0);
  EXPECT_EQ(f.removed, 1);
  SetEnvironmentVariableA("QV_TEST_PRESENTER_FAULTS", nullptr);
}

} // namespace
