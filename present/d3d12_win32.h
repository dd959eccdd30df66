// The Direct3D 12 presenter: process-wide state and the objects it owns.
// Start-up and shut-down run on the main thread, everything else on the
// render thread; no locks.
#pragma once

#include <cstring>

#include <windows.h>
#include <d3d12.h>
#include <dxgi1_6.h>

#include <cstdint>

#include "present/pacing.h"
#include "present/present.h"
#include "runtime/runtime.h"

namespace d3d12 {

constexpr uint32_t kBackBufferCount = 2;
constexpr uint64_t kUploadSurfaceBytes = 0x4B0000;
constexpr uint32_t kQuadVertexBytes = 96;
constexpr uint32_t kConstantBlockBytes = 256;

struct OutputSurfaceSize {
  uint32_t width, height;
};

// Test seam, read from QV_TEST_PRESENTER_FAULTS at start-up (a comma
// separated list; never set in normal use): "followup" makes the k-th
// window-state follow-up fail at its k-th size-dependent call (ResizeTarget,
// ResizeBuffers, GetBuffer, the intermediate surface), k = 1, 2, ... until a
// follow-up makes fewer calls; "present=N" and "map=N" fail the next N
// presents and maps; "removed" makes the first present report a removed
// device; "leave=N" fails the first N attempts to leave fullscreen at
// shut-down; "notearing" takes tearing as unsupported whatever DXGI answers
// (no tearing flags, Alt+Enter left to DXGI, fullscreen left twice at
// shut-down).
struct PresenterFaults {
  int32_t followUpAt;    // 0 = off, else the call that fails in this follow-up
  int32_t followUpCalls; // calls made so far in this follow-up
  int32_t inFollowUp;
  int32_t presents;
  int32_t maps;
  int32_t removed;
  int32_t leaves; // "leave=N": leaving fullscreen at shut-down fails N times
  int32_t noTearing;
};

void ReadPresenterFaults(PresenterFaults* faults);
// True when the seam fails this follow-up call (counted only inside a
// follow-up).
bool FollowUpCallFails();

// True once the device has been removed: the program then ends with exit
// code 1 (the presenter has asked the window to close).
bool PresenterDeviceLost();

// The cursor is hidden in fullscreen and shown in a window. The follow-up
// (on either thread) only says which; the window's own thread applies it
// when the window asks (WM_SETCURSOR, also posted by the setter), so no
// thread's ShowCursor count is ever changed.
void SetPresenterCursorHidden(int32_t hidden);
int32_t PresenterCursorHidden();

struct PresenterState {
  Presenter base; // first: the render thread sees only this
  // clock, backBufferCount, sourceFormat and bytesPerPixel are written at
  // start-up and read by nothing: they stay so the record describes the
  // presenter in full when looked at in a debugger.
  Stopwatch clock;
  FrameLimiter limiter;
  int32_t backBufferCount;
  double refreshRate;
  Format sourceFormat;
  uint32_t bytesPerPixel;
  uint32_t sourceWidth, sourceHeight;
  OutputSurfaceSize outputSurface;
  uint8_t* mappedPointer; // current upload buffer, null when not mapped
  uint32_t rowPitch;
  int32_t mappedIndex; // which upload buffer is mapped
  int32_t frameUploadIndex; // the upload buffer holding this frame's picture, -1 before the first
  HWND window;
  int32_t bFullScreen;
  int32_t bDirty;
  uint32_t presentedFrameCount;
  int32_t bTearingSupported;
  uint32_t backBufferIndex;
  uint64_t fenceValues[kBackBufferCount];
  FrameSlot slots[2];
  uint32_t currentSlot;
  LetterboxRect letterbox;
  uint32_t rtvDescriptorSize;
  int32_t initialized;
  int32_t failedPresents; // in a row; the first of a run is logged
  int32_t failedMaps;     // likewise
  PresenterFaults faults;
};

extern PresenterState m;

extern IDXGIFactory4* pDxgiFactory;
extern IDXGIAdapter1* pDxgiAdapter;
extern IDXGIOutput* pDxgiOutput;
extern ID3D12Device* s_pD3dDevice;
extern ID3D12CommandQueue* s_pCommandQueue;
extern IDXGISwapChain3* s_pDxgiSwapChain;
extern HANDLE s_hFrameLatencyWaitableObject;
extern ID3D12DescriptorHeap* s_pPerFrameRtvHeap;
extern ID3D12DescriptorHeap* s_pCbvSrvUavHeap;
extern ID3D12CommandAllocator* s_apCommandAllocator[kBackBufferCount];
extern ID3D12RootSignature* s_pRootSignature;
extern ID3D12PipelineState* s_pPipelineState;
extern ID3D12GraphicsCommandList* s_pCommandList;
extern ID3D12Resource* s_apBackBuffer[kBackBufferCount];
extern ID3D12Resource* s_apIntermediateUploadSurface[kBackBufferCount];
extern ID3D12Resource* s_pIntermediateSurface;
extern ID3D12Resource* s_pVertexBuffer;
extern D3D12_VERTEX_BUFFER_VIEW s_vertexBufferView;
extern ID3D12Resource* s_pConstantBuffer;
extern uint8_t* s_pConstantBufferData;
extern ID3D12Fence* s_pFence;
extern HANDLE s_hFenceEvent;

// Startup and shut-down (main thread).
int32_t PresenterInitializeWin32(Presenter** presenter, HWND window);
void PresenterShutdownWin32();

int32_t WaitForGpuIdle();
// Present of one frame: follow-up, command list, Present, fence. 0 when the
// frame was presented.
int32_t PresentCurrentFrame(uint32_t syncInterval, uint32_t flags);
// Waits on the frame-latency object and counts the present.
void WaitFrameLatency();
// Maps the upload buffer of the current back buffer; 1 when Map fails (the
// frame surface is then withheld until a later map succeeds).
int32_t MapCurrentUploadBuffer();
void UnmapUploadBuffer();
Surface* AcquireFrameSurfaceWin32(Presenter* presenter);
int32_t PresentFrameWin32(Presenter* presenter, uint32_t mode);

// Window and fullscreen follow-up and the size-dependent objects.
int32_t FollowUpCurrentWindowState();
int32_t RebuildBackBuffers();
int32_t RebuildIntermediateSurface();

// Releases p if it is there and forgets it.
template <typename T> void SafeRelease(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// Records a whole-resource state transition on list.
inline void Transition(ID3D12GraphicsCommandList* list, ID3D12Resource* resource, D3D12_RESOURCE_STATES before,
                       D3D12_RESOURCE_STATES after) {
  D3D12_RESOURCE_BARRIER b;
  memset(&b, 0, sizeof(b));
  b.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
  b.Transition.pResource = resource;
  b.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
  b.Transition.StateBefore = before;
  b.Transition.StateAfter = after;
  list->ResourceBarrier(1, &b);
}

} // namespace d3d12
