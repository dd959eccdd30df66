// Direct3D 12 presenter, per frame: the frame surface over the mapped upload
// buffer, the copy-and-draw command list, present, fences, pacing; and the
// shut-down.
#include <atomic>
#include <cstring>

#include "present/d3d12_win32.h"

using namespace d3d12;

namespace {

// Set by the render thread once the device was removed or reset, read by
// the entry routine after the frame loop; never cleared (the program ends).
std::atomic<int32_t> s_bDeviceLost{0};

std::atomic<int32_t> s_bCursorHidden{0};

// A failing present is logged once per run of failures. A removed device
// will not come back: the window is asked to close, and the program ends
// through its normal shut-down with exit code 1.
void NotePresentFailure(HRESULT hr) {
  if (m.failedPresents++ == 0)
    LogPrintf("s_pDxgiSwapChain->Present ... failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
  if ((hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET) && s_bDeviceLost.exchange(1) == 0) {
    LogPrintf("s_pD3dDevice->GetDeviceRemovedReason\n\tresult=0x%08X\n",
              static_cast<uint32_t>(s_pD3dDevice->GetDeviceRemovedReason()));
    PostMessageA(m.window, WM_CLOSE, 0, 0);
  }
}

int32_t RecordFrame() {
  uint32_t index = m.backBufferIndex;
  // A follow-up that failed half way leaves buffers missing: no frame until
  // it has been redone.
  uint32_t upload = m.frameUploadIndex >= 0 ? static_cast<uint32_t>(m.frameUploadIndex) : index;
  if (!s_apBackBuffer[index] || !s_pIntermediateSurface || !s_apIntermediateUploadSurface[upload]) return 1;
  ID3D12CommandAllocator* allocator = s_apCommandAllocator[index];
  if (FAILED(allocator->Reset())) return 1;
  if (FAILED(s_pCommandList->Reset(allocator, s_pPipelineState))) return 1;
  s_pCommandList->SetGraphicsRootSignature(s_pRootSignature);
  ID3D12DescriptorHeap* heaps[] = {s_pCbvSrvUavHeap};
  s_pCommandList->SetDescriptorHeaps(1, heaps);

  // A frame whose buffer was mapped before a resize may sit in the other
  // upload buffer than the new back-buffer index names (upload, above).
  D3D12_TEXTURE_COPY_LOCATION dst;
  memset(&dst, 0, sizeof(dst));
  dst.pResource = s_pIntermediateSurface;
  dst.Type = D3D12_TEXTURE_COPY_TYPE_SUBRESOURCE_INDEX;
  dst.SubresourceIndex = 0;
  D3D12_TEXTURE_COPY_LOCATION src;
  memset(&src, 0, sizeof(src));
  src.pResource = s_apIntermediateUploadSurface[upload];
  src.Type = D3D12_TEXTURE_COPY_TYPE_PLACED_FOOTPRINT;
  src.PlacedFootprint.Offset = 0;
  src.PlacedFootprint.Footprint.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  src.PlacedFootprint.Footprint.Width = m.sourceWidth;
  src.PlacedFootprint.Footprint.Height = m.sourceHeight;
  src.PlacedFootprint.Footprint.Depth = 1;
  src.PlacedFootprint.Footprint.RowPitch = (m.sourceWidth * 4 + 255) & ~255u;
  D3D12_BOX box = {0, 0, 0, m.sourceWidth, m.sourceHeight, 1};
  s_pCommandList->CopyTextureRegion(&dst, 0, 0, 0, &src, &box);

  Transition(s_pCommandList, s_apBackBuffer[index], D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
  Transition(s_pCommandList, s_pIntermediateSurface, D3D12_RESOURCE_STATE_COPY_DEST, D3D12_RESOURCE_STATE_PIXEL_SHADER_RESOURCE);

  s_pCommandList->SetGraphicsRootDescriptorTable(0, s_pCbvSrvUavHeap->GetGPUDescriptorHandleForHeapStart());
  s_pCommandList->SetGraphicsRootConstantBufferView(
      1, s_pConstantBuffer->GetGPUVirtualAddress() + uint64_t(index) * kConstantBlockBytes);

  const LetterboxRect& r = m.letterbox;
  D3D12_VIEWPORT viewport = {r.left, r.top, r.width, r.height, r.minDepth, r.maxDepth};
  D3D12_RECT scissor = {r.scissorLeft, r.scissorTop, r.scissorRight, r.scissorBottom};
  s_pCommandList->RSSetViewports(1, &viewport);
  s_pCommandList->RSSetScissorRects(1, &scissor);

  D3D12_CPU_DESCRIPTOR_HANDLE rtv = s_pPerFrameRtvHeap->GetCPUDescriptorHandleForHeapStart();
  rtv.ptr += SIZE_T(index) * m.rtvDescriptorSize;
  s_pCommandList->OMSetRenderTargets(1, &rtv, FALSE, nullptr);
  const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  s_pCommandList->ClearRenderTargetView(rtv, black, 0, nullptr);

  s_pCommandList->IASetPrimitiveTopology(D3D_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP);
  s_pCommandList->IASetVertexBuffers(0, 1, &s_vertexBufferView);
  s_pCommandList->DrawInstanced(4, 1, 0, 0);

  Transition(s_pCommandList, s_apBackBuffer[index], D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_PRESENT);
  Transition(s_pCommandList, s_pIntermediateSurface, D3D12_RESOURCE_STATE_PIXEL_SHADER_RESOURCE, D3D12_RESOURCE_STATE_COPY_DEST);
  return FAILED(s_pCommandList->Close()) ? 1 : 0;
}

} // namespace

int32_t d3d12::WaitForGpuIdle() {
  uint64_t value = m.fenceValues[m.backBufferIndex];
  if (FAILED(s_pCommandQueue->Signal(s_pFence, value))) return 1;
  if (FAILED(s_pFence->SetEventOnCompletion(value, s_hFenceEvent))) return 1;
  WaitForSingleObjectEx(s_hFenceEvent, INFINITE, FALSE);
  m.fenceValues[m.backBufferIndex]++;
  return 0;
}

int32_t d3d12::PresentCurrentFrame(uint32_t syncInterval, uint32_t flags) {
  if (FollowUpCurrentWindowState()) return 1;

  uint8_t block[kConstantBlockBytes];
  memset(block, 0, sizeof(block));
  memcpy(block, &m.presentedFrameCount, sizeof(m.presentedFrameCount));
  memcpy(s_pConstantBufferData + uint64_t(m.backBufferIndex) * kConstantBlockBytes, block, sizeof(block));

  if (RecordFrame()) return 1;
  ID3D12CommandList* lists[] = {s_pCommandList};
  s_pCommandQueue->ExecuteCommandLists(1, lists);
  m.frameUploadIndex = -1;

  HRESULT presented = S_OK;
  if (m.faults.removed) {
    m.faults.removed = 0;
    presented = DXGI_ERROR_DEVICE_REMOVED;
  } else if (m.faults.presents > 0) {
    m.faults.presents--;
    presented = DXGI_ERROR_INVALID_CALL;
  } else {
    presented = s_pDxgiSwapChain->Present(syncInterval, flags);
  }
  if (FAILED(presented)) NotePresentFailure(presented);
  else m.failedPresents = 0;

  // Signalled whether or not the present worked: the command list was
  // executed, and its allocator must not be reset before it has run.
  uint64_t signalled = m.fenceValues[m.backBufferIndex];
  if (FAILED(s_pCommandQueue->Signal(s_pFence, signalled))) return 1;
  m.backBufferIndex = s_pDxgiSwapChain->GetCurrentBackBufferIndex();
  if (s_pFence->GetCompletedValue() < m.fenceValues[m.backBufferIndex]) {
    s_pFence->SetEventOnCompletion(m.fenceValues[m.backBufferIndex], s_hFenceEvent);
    WaitForSingleObjectEx(s_hFenceEvent, INFINITE, FALSE);
  }
  m.fenceValues[m.backBufferIndex] = signalled + 1;
  return FAILED(presented) ? 1 : 0;
}

bool d3d12::PresenterDeviceLost() { return s_bDeviceLost.load() != 0; }

void d3d12::SetPresenterCursorHidden(int32_t hidden) {
  if (s_bCursorHidden.exchange(hidden ? 1 : 0) != (hidden ? 1 : 0) && m.window)
    PostMessageA(m.window, WM_SETCURSOR, reinterpret_cast<WPARAM>(m.window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

int32_t d3d12::PresenterCursorHidden() { return s_bCursorHidden.load(); }

void d3d12::WaitFrameLatency() {
  if (s_hFrameLatencyWaitableObject) {
    for (;;) {
      DWORD r = WaitForSingleObjectEx(s_hFrameLatencyWaitableObject, 1000, TRUE);
      if (r == WAIT_OBJECT_0 || r == WAIT_FAILED || r == WAIT_ABANDONED) break;
    }
  }
  m.presentedFrameCount++;
}

int32_t d3d12::MapCurrentUploadBuffer() {
  uint32_t index = m.backBufferIndex;
  void* data = nullptr;
  HRESULT hr = E_FAIL;
  if (m.faults.maps > 0) {
    m.faults.maps--;
  } else {
    hr = s_apIntermediateUploadSurface[index]->Map(0, nullptr, &data);
  }
  if (FAILED(hr) || !data) {
    // No frame surface until a later map works: the renderer skips colour
    // output meanwhile instead of writing into memory that is not mapped.
    // One line per run of failures, not one per frame.
    if (m.failedMaps++ == 0)
      LogPrintf("s_apIntermediateUploadSurface[%d]->Map ... failed. result=0x%08X [%s]\n", static_cast<int>(index),
                static_cast<uint32_t>(FAILED(hr) ? hr : E_POINTER), "");
    m.mappedPointer = nullptr;
    m.rowPitch = 0;
    m.mappedIndex = -1;
    return 1;
  }
  m.failedMaps = 0;
  m.mappedPointer = static_cast<uint8_t*>(data);
  m.rowPitch = kFramePitch;
  m.mappedIndex = static_cast<int32_t>(index);
  return 0;
}

void d3d12::UnmapUploadBuffer() {
  if (!m.mappedPointer || m.mappedIndex < 0) return;
  s_apIntermediateUploadSurface[m.mappedIndex]->Unmap(0, nullptr);
  m.frameUploadIndex = m.mappedIndex;
  m.mappedPointer = nullptr;
  m.rowPitch = 0;
  m.mappedIndex = -1;
}

Surface* d3d12::AcquireFrameSurfaceWin32(Presenter* presenter) {
  if (!m.mappedPointer) return nullptr;
  FrameSlot* slot = &m.slots[m.currentSlot];
  if (!slot->created && MakeFrameSlotSurface(slot, m.mappedPointer, kFramePitch) != 0) return nullptr;
  return &slot->surface;
}

int32_t d3d12::PresentFrameWin32(Presenter* presenter, uint32_t mode) {
  FrameSlot* slot = &m.slots[m.currentSlot];
  if (slot->created) DropFrameSlotSurface(slot);
  m.currentSlot = (m.currentSlot + 1) % 2;
  UnmapUploadBuffer();

  PresentModePlan plan = PlanPresentMode(mode, m.bFullScreen);
  PacingBeforePresent(&m.limiter, mode);
  if (plan.waitForVBlank && pDxgiOutput) pDxgiOutput->WaitForVBlank();
  uint32_t flags = (m.bTearingSupported && !m.bFullScreen) ? DXGI_PRESENT_ALLOW_TEARING : 0;
  int32_t result = PresentCurrentFrame(plan.syncInterval, flags);
  if (result == 0) WaitFrameLatency();
  PacingAfterPresent(&m.limiter, mode);
  if (MapCurrentUploadBuffer()) result = 1;
  return result;
}

void d3d12::PresenterShutdownWin32() {
  if (!m.initialized) return;
  m.initialized = 0;
  UnmapUploadBuffer();
  for (FrameSlot& slot : m.slots) DropFrameSlotSurface(&slot);

  // Leaving fullscreen is tried a few times: DXGI forbids releasing a swap
  // chain that is still fullscreen. If it cannot be left, the swap chain is
  // not released at all and the process exit takes it down.
  bool stillFullScreen = false;
  if (m.bFullScreen) {
    HRESULT hr = E_FAIL;
    for (int32_t attempt = 0; attempt < 3; attempt++) {
      if (m.faults.leaves > 0) {
        m.faults.leaves--;
        hr = DXGI_ERROR_NOT_CURRENTLY_AVAILABLE;
      } else {
        hr = s_pDxgiSwapChain->SetFullscreenState(FALSE, nullptr);
      }
      if (SUCCEEDED(hr)) break;
      Sleep(50);
    }
    if (SUCCEEDED(hr)) {
      SetForegroundWindow(m.window);
      m.bFullScreen = 0;
      m.bDirty = 1;
    } else {
      LogPrintf("s_pDxgiSwapChain->SetFullscreenState ... failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
      stillFullScreen = true;
    }
  }
  // Nothing is released while the GPU may still run the last frame.
  bool idle = WaitForGpuIdle() == 0;
  // Left a second time on purpose when DXGI owns Alt+Enter: this is the logged step.
  if (idle && !stillFullScreen && !m.bTearingSupported) {
    LogPrintf("s_pDxgiSwapChain->SetFullscreenState ... ");
    if (SUCCEEDED(s_pDxgiSwapChain->SetFullscreenState(FALSE, nullptr))) LogPrintf("OK.\n");
  }
  if (idle && s_hFenceEvent) {
    CloseHandle(s_hFenceEvent);
    s_hFenceEvent = nullptr;
  }
  SetPresenterCursorHidden(0);

  if (s_pConstantBuffer && s_pConstantBufferData) s_pConstantBuffer->Unmap(0, nullptr);
  s_pConstantBufferData = nullptr;
  SafeRelease(s_pFence);
  SafeRelease(s_pConstantBuffer);
  SafeRelease(s_pVertexBuffer);
  SafeRelease(s_pIntermediateSurface);
  for (uint32_t i = 0; i < kBackBufferCount; i++) {
    SafeRelease(s_apIntermediateUploadSurface[i]);
    SafeRelease(s_apBackBuffer[i]);
    SafeRelease(s_apCommandAllocator[i]);
  }
  SafeRelease(s_pCommandList);
  SafeRelease(s_pPipelineState);
  SafeRelease(s_pRootSignature);
  SafeRelease(s_pCbvSrvUavHeap);
  SafeRelease(s_pPerFrameRtvHeap);
  if (stillFullScreen) s_pDxgiSwapChain = nullptr; // left to the process exit
  SafeRelease(s_pDxgiSwapChain);
  SafeRelease(s_pCommandQueue);
  SafeRelease(s_pD3dDevice);
  SafeRelease(pDxgiOutput);
  SafeRelease(pDxgiAdapter);
  SafeRelease(pDxgiFactory);
}
