// Follow-up of the window and fullscreen state: display mode or window size,
// back buffers, fit rectangle and intermediate texture, whenever the
// swap chain's fullscreen state changed or the presenter marked itself dirty.
#include <cstring>

#include "present/d3d12_win32.h"

using namespace d3d12;

namespace {

// The window belongs to the main thread. On the render thread the move is
// still synchronous: the main thread answers sent messages while it waits
// for the frame (its frame pump), and the window must have its new size
// before ResizeBuffers, because some DXGI implementations size their
// presentation surface from the window at that moment and keep it.
void FitWindow(uint32_t* width, uint32_t* height) {
  POINT origin = {0, 0};
  ClientToScreen(m.window, &origin);
  RECT r = {origin.x, origin.y, origin.x + static_cast<LONG>(*width), origin.y + static_cast<LONG>(*height)};
  AdjustWindowRect(&r, static_cast<DWORD>(GetWindowLongA(m.window, GWL_STYLE)), FALSE);
  SetWindowPos(m.window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
  RECT client;
  if (GetClientRect(m.window, &client)) {
    uint32_t w = static_cast<uint32_t>(client.right - client.left);
    uint32_t h = static_cast<uint32_t>(client.bottom - client.top);
    if ((w != *width || h != *height) && w && h) {
      *width = w;
      *height = h;
    }
  }
}

void UpdateLetterbox() {
  // All zero while the output size is still 0 by 0 at start-up; the first
  // follow-up replaces it.
  ComputeLetterboxRect(&m.letterbox, m.sourceWidth, m.sourceHeight, m.outputSurface.width, m.outputSurface.height);
}

} // namespace

int32_t d3d12::RebuildBackBuffers() {
  UpdateLetterbox();
  D3D12_CPU_DESCRIPTOR_HANDLE rtv = s_pPerFrameRtvHeap->GetCPUDescriptorHandleForHeapStart();
  for (uint32_t i = 0; i < kBackBufferCount; i++) {
    LogPrintf("s_pDxgiSwapChain->GetBuffer ... ");
    if (s_apBackBuffer[i]) {
      s_apBackBuffer[i]->Release();
      s_apBackBuffer[i] = nullptr;
    }
    HRESULT hr = FollowUpCallFails() ? E_FAIL : s_pDxgiSwapChain->GetBuffer(i, IID_PPV_ARGS(&s_apBackBuffer[i]));
    if (FAILED(hr)) {
      LogPrintf("failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
      return 1;
    }
    LogPrintf("OK.\n");
    s_pD3dDevice->CreateRenderTargetView(s_apBackBuffer[i], nullptr, rtv);
    rtv.ptr += m.rtvDescriptorSize;
  }
  return 0;
}

int32_t d3d12::RebuildIntermediateSurface() {
  UpdateLetterbox();
  if (!s_apBackBuffer[m.backBufferIndex]) return 1;
  D3D12_RESOURCE_DESC back = s_apBackBuffer[m.backBufferIndex]->GetDesc();
  LogPrintf("s_pD3dDevice->CreateCommittedResource (s_pIntermediateSurface) ... ");
  if (s_pIntermediateSurface) {
    s_pIntermediateSurface->Release();
    s_pIntermediateSurface = nullptr;
  }
  D3D12_HEAP_PROPERTIES heap;
  memset(&heap, 0, sizeof(heap));
  heap.Type = D3D12_HEAP_TYPE_DEFAULT;
  heap.CreationNodeMask = 1;
  heap.VisibleNodeMask = 1;
  D3D12_RESOURCE_DESC desc;
  memset(&desc, 0, sizeof(desc));
  desc.Dimension = D3D12_RESOURCE_DIMENSION_TEXTURE2D;
  desc.Width = m.sourceWidth;
  desc.Height = m.sourceHeight;
  desc.DepthOrArraySize = 1;
  desc.MipLevels = 1;
  desc.Format = back.Format;
  desc.SampleDesc = back.SampleDesc;
  desc.Layout = D3D12_TEXTURE_LAYOUT_UNKNOWN;
  desc.Flags = D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET;
  D3D12_CLEAR_VALUE clear;
  memset(&clear, 0, sizeof(clear));
  clear.Format = back.Format;
  clear.Color[0] = 0.0f;
  clear.Color[1] = 0.2f;
  clear.Color[2] = 0.4f;
  clear.Color[3] = 1.0f;
  HRESULT hr = FollowUpCallFails() ? E_FAIL
                                    : s_pD3dDevice->CreateCommittedResource(&heap, D3D12_HEAP_FLAG_NONE, &desc,
                                                                            D3D12_RESOURCE_STATE_COPY_DEST, &clear,
                                                                            IID_PPV_ARGS(&s_pIntermediateSurface));
  if (FAILED(hr)) {
    LogPrintf("failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
    return 1;
  }
  LogPrintf("OK.\n");
  s_pD3dDevice->CreateShaderResourceView(s_pIntermediateSurface, nullptr,
                                         s_pCbvSrvUavHeap->GetCPUDescriptorHandleForHeapStart());
  return 0;
}

namespace {

// The follow-up's work once a change was seen; 1 at the first failing step.
int32_t FollowUpSteps(int32_t bCurrentFullScreen, uint32_t width, uint32_t height) {
  if (WaitForGpuIdle()) return 1;
  for (uint32_t i = 0; i < kBackBufferCount; i++) {
    if (s_apBackBuffer[i]) {
      s_apBackBuffer[i]->Release();
      s_apBackBuffer[i] = nullptr;
    }
    m.fenceValues[i] = m.fenceValues[m.backBufferIndex];
  }

  if (!bCurrentFullScreen) FitWindow(&width, &height);

  DXGI_SWAP_CHAIN_DESC desc;
  if (FAILED(s_pDxgiSwapChain->GetDesc(&desc))) return 1;
  desc.BufferDesc.Width = width;
  desc.BufferDesc.Height = height;
  desc.BufferDesc.RefreshRate.Numerator = static_cast<UINT>(m.refreshRate * 1000.0);
  desc.BufferDesc.RefreshRate.Denominator = 1000;
  if (FollowUpCallFails() || FAILED(s_pDxgiSwapChain->ResizeTarget(&desc.BufferDesc))) return 1;
  if (FAILED(s_pDxgiSwapChain->GetDesc(&desc))) return 1;
  if (FollowUpCallFails() ||
      FAILED(s_pDxgiSwapChain->ResizeBuffers(kBackBufferCount, width, height, desc.BufferDesc.Format, desc.Flags)))
    return 1;

  m.backBufferIndex = s_pDxgiSwapChain->GetCurrentBackBufferIndex();
  m.outputSurface.width = width;
  m.outputSurface.height = height;
  m.bFullScreen = bCurrentFullScreen;
  if (RebuildBackBuffers()) return 1;
  if (RebuildIntermediateSurface()) return 1;
  return 0;
}

} // namespace

bool d3d12::FollowUpCallFails() {
  PresenterFaults& f = m.faults;
  if (f.followUpAt == 0 || !f.inFollowUp) return false;
  return ++f.followUpCalls == f.followUpAt;
}

int32_t d3d12::FollowUpCurrentWindowState() {
  BOOL current = FALSE;
  if (FAILED(s_pDxgiSwapChain->GetFullscreenState(&current, nullptr))) return 1;
  int32_t bCurrentFullScreen = current ? 1 : 0;
  uint32_t width = m.sourceWidth;
  uint32_t height = m.sourceHeight;
  if (bCurrentFullScreen) {
    DXGI_OUTPUT_DESC output;
    if (pDxgiOutput && SUCCEEDED(pDxgiOutput->GetDesc(&output))) {
      width = static_cast<uint32_t>(output.DesktopCoordinates.right - output.DesktopCoordinates.left);
      height = static_cast<uint32_t>(output.DesktopCoordinates.bottom - output.DesktopCoordinates.top);
    }
  }
  if (bCurrentFullScreen == m.bFullScreen && !m.bDirty) return 0;

  LogPrintf("FollowUpCurrentWindowState\n\tbCurrentFullScreen = %d\n\tm.bFullScreen = %d\n"
            "\tcurrentOutputSurfaceWidth = %d\n\tcurrentOutputSurfaceHeight = %d\n"
            "\tm.outputSurface.width = %d\n\tm.outputSurface.height = %d\n\tm.bDirty = %d\n",
            bCurrentFullScreen, m.bFullScreen ? 1 : 0, static_cast<int>(width), static_cast<int>(height),
            static_cast<int>(m.outputSurface.width), static_cast<int>(m.outputSurface.height), m.bDirty ? 1 : 0);

  // Dirty until every step below has worked: a failed step leaves missing
  // buffers, so the next frame must run the whole follow-up again (and is
  // not drawn until it has worked).
  m.bDirty = 1;
  m.faults.followUpCalls = 0;
  m.faults.inFollowUp = 1;
  int32_t result = FollowUpSteps(bCurrentFullScreen, width, height);
  m.faults.inFollowUp = 0;
  if (m.faults.followUpAt != 0) {
    // The seam moves on to the next call; a follow-up that got through had
    // fewer calls than that, so every call has failed once.
    m.faults.followUpAt = result != 0 ? m.faults.followUpAt + 1 : 0;
  }
  if (result != 0) return 1;
  m.bDirty = 0;
  SetPresenterCursorHidden(bCurrentFullScreen);
  return 0;
}
