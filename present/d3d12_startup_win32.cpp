// Direct3D 12 presenter start-up: device, swap chain, fixed pipeline, upload
// buffers, fullscreen and the two black priming frames.
#include <cstdlib>
#include <cstring>

#include <d3dcompiler.h>

#include "present/d3d12_win32.h"

extern const unsigned char postShaders[];
extern const uint32_t postShadersSize;

namespace d3d12 {

PresenterState m;
IDXGIFactory4* pDxgiFactory;
IDXGIAdapter1* pDxgiAdapter;
IDXGIOutput* pDxgiOutput;
ID3D12Device* s_pD3dDevice;
ID3D12CommandQueue* s_pCommandQueue;
IDXGISwapChain3* s_pDxgiSwapChain;
HANDLE s_hFrameLatencyWaitableObject;
ID3D12DescriptorHeap* s_pPerFrameRtvHeap;
ID3D12DescriptorHeap* s_pCbvSrvUavHeap;
ID3D12CommandAllocator* s_apCommandAllocator[kBackBufferCount];
ID3D12RootSignature* s_pRootSignature;
ID3D12PipelineState* s_pPipelineState;
ID3D12GraphicsCommandList* s_pCommandList;
ID3D12Resource* s_apBackBuffer[kBackBufferCount];
ID3D12Resource* s_apIntermediateUploadSurface[kBackBufferCount];
ID3D12Resource* s_pIntermediateSurface;
ID3D12Resource* s_pVertexBuffer;
D3D12_VERTEX_BUFFER_VIEW s_vertexBufferView;
ID3D12Resource* s_pConstantBuffer;
uint8_t* s_pConstantBufferData;
ID3D12Fence* s_pFence;
HANDLE s_hFenceEvent;

} // namespace d3d12

using namespace d3d12;

namespace {

// d3d12.dll's D3D12CreateDevice, taken by ordinal.
constexpr WORD kOrdinalD3D12CreateDevice = 101;
PFN_D3D12_CREATE_DEVICE s_pD3D12CreateDevice;

// The temporary objects of the start-up uploads.
ID3D12CommandAllocator* pCommandAllocator;
ID3D12GraphicsCommandList* pCommandList;
ID3D12Resource* pVertexBufferUpload;
ID3DBlob* s_pVertexShader;
ID3DBlob* s_pPixelShader;

constexpr float kQuad[4][6] = {
    {-1.0f, -1.0f, 0.0f, 1.0f, 0.0f, 1.0f},
    {-1.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f},
    {1.0f, -1.0f, 0.0f, 1.0f, 1.0f, 1.0f},
    {1.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f},
};
static_assert(sizeof(kQuad) == kQuadVertexBytes, "quad is 4 vertices of 24 bytes");

void Ok() { LogPrintf("OK.\n"); }

D3D12_HEAP_PROPERTIES HeapProperties(D3D12_HEAP_TYPE type) {
  D3D12_HEAP_PROPERTIES p;
  memset(&p, 0, sizeof(p));
  p.Type = type;
  p.CPUPageProperty = D3D12_CPU_PAGE_PROPERTY_UNKNOWN;
  p.MemoryPoolPreference = D3D12_MEMORY_POOL_UNKNOWN;
  p.CreationNodeMask = 1;
  p.VisibleNodeMask = 1;
  return p;
}

D3D12_RESOURCE_DESC BufferDesc(uint64_t bytes) {
  D3D12_RESOURCE_DESC d;
  memset(&d, 0, sizeof(d));
  d.Dimension = D3D12_RESOURCE_DIMENSION_BUFFER;
  d.Width = bytes;
  d.Height = 1;
  d.DepthOrArraySize = 1;
  d.MipLevels = 1;
  d.Format = DXGI_FORMAT_UNKNOWN;
  d.SampleDesc.Count = 1;
  d.Layout = D3D12_TEXTURE_LAYOUT_ROW_MAJOR;
  return d;
}

HRESULT CreateBuffer(D3D12_HEAP_TYPE heap, uint64_t bytes, D3D12_RESOURCE_STATES state, ID3D12Resource** out) {
  D3D12_HEAP_PROPERTIES hp = HeapProperties(heap);
  D3D12_RESOURCE_DESC desc = BufferDesc(bytes);
  return s_pD3dDevice->CreateCommittedResource(&hp, D3D12_HEAP_FLAG_NONE, &desc, state, nullptr,
                                               IID_PPV_ARGS(out));
}

int32_t LoadDeviceEntry() {
  if (s_pD3D12CreateDevice) return 0;
  HMODULE d3d12 = LoadLibraryA("d3d12.dll");
  if (!d3d12) return 1;
  s_pD3D12CreateDevice = reinterpret_cast<PFN_D3D12_CREATE_DEVICE>(
      reinterpret_cast<void*>(GetProcAddress(d3d12, MAKEINTRESOURCEA(kOrdinalD3D12CreateDevice))));
  return s_pD3D12CreateDevice ? 0 : 1;
}

// First hardware adapter on which a feature level 11_0 device can be made.
int32_t ChooseAdapter() {
  if (LoadDeviceEntry()) return 1;
  for (UINT i = 0;; i++) {
    IDXGIAdapter1* adapter = nullptr;
    if (pDxgiFactory->EnumAdapters1(i, &adapter) == DXGI_ERROR_NOT_FOUND) return 1;
    if (!adapter) continue;
    DXGI_ADAPTER_DESC1 desc;
    if (SUCCEEDED(adapter->GetDesc1(&desc)) && !(desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) &&
        SUCCEEDED(s_pD3D12CreateDevice(adapter, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device), nullptr))) {
      pDxgiAdapter = adapter;
      return 0;
    }
    adapter->Release();
  }
}

int32_t CreateUploadSurfaces() {
  for (uint32_t i = 0; i < kBackBufferCount; i++) {
    LogPrintf("s_pD3dDevice->CreateCommittedResource (s_apIntermediateUploadSurface[%d]) ... ", static_cast<int>(i));
    SafeRelease(s_apIntermediateUploadSurface[i]);
    if (FAILED(CreateBuffer(D3D12_HEAP_TYPE_UPLOAD, kUploadSurfaceBytes, D3D12_RESOURCE_STATE_GENERIC_READ,
                            &s_apIntermediateUploadSurface[i])))
      return 1;
    Ok();
  }
  return 0;
}

D3D12_STATIC_SAMPLER_DESC StaticSampler(D3D12_FILTER filter, UINT reg) {
  D3D12_STATIC_SAMPLER_DESC s;
  memset(&s, 0, sizeof(s));
  s.Filter = filter;
  s.AddressU = D3D12_TEXTURE_ADDRESS_MODE_CLAMP;
  s.AddressV = D3D12_TEXTURE_ADDRESS_MODE_CLAMP;
  s.AddressW = D3D12_TEXTURE_ADDRESS_MODE_CLAMP;
  s.MipLODBias = 0.0f;
  s.MaxAnisotropy = 16;
  s.ComparisonFunc = D3D12_COMPARISON_FUNC_LESS_EQUAL;
  s.BorderColor = D3D12_STATIC_BORDER_COLOR_OPAQUE_WHITE;
  s.MinLOD = 0.0f;
  s.MaxLOD = D3D12_FLOAT32_MAX;
  s.ShaderRegister = reg;
  s.RegisterSpace = 0;
  s.ShaderVisibility = D3D12_SHADER_VISIBILITY_PIXEL;
  return s;
}

constexpr D3D12_ROOT_SIGNATURE_FLAGS kRootFlags = static_cast<D3D12_ROOT_SIGNATURE_FLAGS>(0x1D);

// Serialises the 1.1 description, or its 1.0 translation when that is all
// the device takes.
HRESULT SerializeRootSignature(D3D_ROOT_SIGNATURE_VERSION version, ID3DBlob** blob, ID3DBlob** error) {
  D3D12_STATIC_SAMPLER_DESC samplers[2] = {StaticSampler(D3D12_FILTER_MIN_MAG_MIP_POINT, 0),
                                           StaticSampler(D3D12_FILTER_MIN_MAG_MIP_LINEAR, 1)};
  if (version == D3D_ROOT_SIGNATURE_VERSION_1_1) {
    D3D12_DESCRIPTOR_RANGE1 range = {D3D12_DESCRIPTOR_RANGE_TYPE_SRV, 1, 0, 0,
                                     D3D12_DESCRIPTOR_RANGE_FLAG_NONE,
                                     D3D12_DESCRIPTOR_RANGE_OFFSET_APPEND};
    D3D12_ROOT_PARAMETER1 params[2];
    memset(params, 0, sizeof(params));
    params[0].ParameterType = D3D12_ROOT_PARAMETER_TYPE_DESCRIPTOR_TABLE;
    params[0].DescriptorTable.NumDescriptorRanges = 1;
    params[0].DescriptorTable.pDescriptorRanges = &range;
    params[0].ShaderVisibility = D3D12_SHADER_VISIBILITY_PIXEL;
    params[1].ParameterType = D3D12_ROOT_PARAMETER_TYPE_CBV;
    params[1].Descriptor.ShaderRegister = 0;
    params[1].Descriptor.RegisterSpace = 0;
    params[1].Descriptor.Flags = D3D12_ROOT_DESCRIPTOR_FLAG_NONE;
    params[1].ShaderVisibility = D3D12_SHADER_VISIBILITY_ALL;
    D3D12_VERSIONED_ROOT_SIGNATURE_DESC desc;
    memset(&desc, 0, sizeof(desc));
    desc.Version = D3D_ROOT_SIGNATURE_VERSION_1_1;
    desc.Desc_1_1.NumParameters = 2;
    desc.Desc_1_1.pParameters = params;
    desc.Desc_1_1.NumStaticSamplers = 2;
    desc.Desc_1_1.pStaticSamplers = samplers;
    desc.Desc_1_1.Flags = kRootFlags;
    return D3D12SerializeVersionedRootSignature(&desc, blob, error);
  }
  D3D12_DESCRIPTOR_RANGE range = {D3D12_DESCRIPTOR_RANGE_TYPE_SRV, 1, 0, 0,
                                  D3D12_DESCRIPTOR_RANGE_OFFSET_APPEND};
  D3D12_ROOT_PARAMETER params[2];
  memset(params, 0, sizeof(params));
  params[0].ParameterType = D3D12_ROOT_PARAMETER_TYPE_DESCRIPTOR_TABLE;
  params[0].DescriptorTable.NumDescriptorRanges = 1;
  params[0].DescriptorTable.pDescriptorRanges = &range;
  params[0].ShaderVisibility = D3D12_SHADER_VISIBILITY_PIXEL;
  params[1].ParameterType = D3D12_ROOT_PARAMETER_TYPE_CBV;
  params[1].ShaderVisibility = D3D12_SHADER_VISIBILITY_ALL;
  D3D12_ROOT_SIGNATURE_DESC desc;
  memset(&desc, 0, sizeof(desc));
  desc.NumParameters = 2;
  desc.pParameters = params;
  desc.NumStaticSamplers = 2;
  desc.pStaticSamplers = samplers;
  desc.Flags = kRootFlags;
  return D3D12SerializeRootSignature(&desc, D3D_ROOT_SIGNATURE_VERSION_1, blob, error);
}

int32_t CreateRootSignature() {
  D3D12_FEATURE_DATA_ROOT_SIGNATURE feature = {D3D_ROOT_SIGNATURE_VERSION_1_1};
  if (FAILED(s_pD3dDevice->CheckFeatureSupport(D3D12_FEATURE_ROOT_SIGNATURE, &feature, sizeof(feature))))
    feature.HighestVersion = D3D_ROOT_SIGNATURE_VERSION_1_0;
  LogPrintf("D3DX12SerializeVersionedRootSignature ... ");
  ID3DBlob* blob = nullptr;
  ID3DBlob* error = nullptr;
  HRESULT hr = SerializeRootSignature(feature.HighestVersion, &blob, &error);
  SafeRelease(error);
  if (FAILED(hr)) return 1;
  Ok();
  LogPrintf("s_pD3dDevice->CreateRootSignature ... ");
  SafeRelease(s_pRootSignature);
  hr = s_pD3dDevice->CreateRootSignature(0, blob->GetBufferPointer(), blob->GetBufferSize(),
                                         IID_PPV_ARGS(&s_pRootSignature));
  blob->Release();
  if (FAILED(hr)) return 1;
  Ok();
  return 0;
}

int32_t CompileShaders() {
  // The compiler is given the text with its terminating zero.
  static char source[1024];
  if (postShadersSize + 1 > sizeof(source)) return 1;
  memcpy(source, postShaders, postShadersSize);
  source[postShadersSize] = 0;
  ID3DBlob* error = nullptr;
  LogPrintf("D3DCompile (vs) ... ");
  HRESULT hr = D3DCompile(source, postShadersSize + 1, nullptr, nullptr, nullptr, "VSMain", "vs_5_0", 0, 0,
                          &s_pVertexShader, &error);
  SafeRelease(error);
  if (FAILED(hr)) return 1;
  Ok();
  LogPrintf("D3DCompile (ps) ... ");
  hr = D3DCompile(source, postShadersSize + 1, nullptr, nullptr, nullptr, "PSMain", "ps_5_0", 0, 0,
                  &s_pPixelShader, &error);
  SafeRelease(error);
  if (FAILED(hr)) return 1;
  Ok();
  return 0;
}

int32_t CreatePipelineState() {
  D3D12_INPUT_ELEMENT_DESC layout[2] = {
      {"POSITION", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 0, D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
      {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, D3D12_APPEND_ALIGNED_ELEMENT,
       D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
  };
  D3D12_GRAPHICS_PIPELINE_STATE_DESC d;
  memset(&d, 0, sizeof(d));
  d.InputLayout.pInputElementDescs = layout;
  d.InputLayout.NumElements = 2;
  d.pRootSignature = s_pRootSignature;
  d.VS.pShaderBytecode = s_pVertexShader->GetBufferPointer();
  d.VS.BytecodeLength = s_pVertexShader->GetBufferSize();
  d.PS.pShaderBytecode = s_pPixelShader->GetBufferPointer();
  d.PS.BytecodeLength = s_pPixelShader->GetBufferSize();
  d.RasterizerState.FillMode = D3D12_FILL_MODE_SOLID;
  d.RasterizerState.CullMode = D3D12_CULL_MODE_BACK;
  d.RasterizerState.FrontCounterClockwise = FALSE;
  d.RasterizerState.DepthBias = D3D12_DEFAULT_DEPTH_BIAS;
  d.RasterizerState.DepthBiasClamp = D3D12_DEFAULT_DEPTH_BIAS_CLAMP;
  d.RasterizerState.SlopeScaledDepthBias = D3D12_DEFAULT_SLOPE_SCALED_DEPTH_BIAS;
  d.RasterizerState.DepthClipEnable = TRUE;
  d.RasterizerState.ConservativeRaster = D3D12_CONSERVATIVE_RASTERIZATION_MODE_OFF;
  for (D3D12_RENDER_TARGET_BLEND_DESC& rt : d.BlendState.RenderTarget) {
    rt.BlendEnable = FALSE;
    rt.LogicOpEnable = FALSE;
    rt.SrcBlend = D3D12_BLEND_ONE;
    rt.DestBlend = D3D12_BLEND_ZERO;
    rt.BlendOp = D3D12_BLEND_OP_ADD;
    rt.SrcBlendAlpha = D3D12_BLEND_ONE;
    rt.DestBlendAlpha = D3D12_BLEND_ZERO;
    rt.BlendOpAlpha = D3D12_BLEND_OP_ADD;
    rt.LogicOp = D3D12_LOGIC_OP_NOOP;
    rt.RenderTargetWriteMask = D3D12_COLOR_WRITE_ENABLE_ALL;
  }
  d.DepthStencilState.DepthEnable = FALSE;
  d.DepthStencilState.StencilEnable = FALSE;
  d.SampleMask = UINT_MAX;
  d.PrimitiveTopologyType = D3D12_PRIMITIVE_TOPOLOGY_TYPE_TRIANGLE;
  d.NumRenderTargets = 1;
  d.RTVFormats[0] = DXGI_FORMAT_B8G8R8A8_UNORM;
  d.SampleDesc.Count = 1;
  LogPrintf("s_pD3dDevice->CreateGraphicsPipelineState ... ");
  if (FAILED(s_pD3dDevice->CreateGraphicsPipelineState(&d, IID_PPV_ARGS(&s_pPipelineState)))) return 1;
  Ok();
  return 0;
}

int32_t CreateQuadAndConstants() {
  LogPrintf("s_pD3dDevice->CreateCommittedResource (s_pVertexBuffer) ... ");
  if (FAILED(CreateBuffer(D3D12_HEAP_TYPE_DEFAULT, kQuadVertexBytes, D3D12_RESOURCE_STATE_COPY_DEST, &s_pVertexBuffer)))
    return 1;
  Ok();
  LogPrintf("s_pD3dDevice->CreateCommittedResource (pVertexBufferUpload) ... ");
  if (FAILED(CreateBuffer(D3D12_HEAP_TYPE_UPLOAD, kQuadVertexBytes, D3D12_RESOURCE_STATE_GENERIC_READ,
                          &pVertexBufferUpload)))
    return 1;
  Ok();
  LogPrintf("pVertexBufferUpload->Map ... ");
  void* data = nullptr;
  D3D12_RANGE none = {0, 0};
  if (FAILED(pVertexBufferUpload->Map(0, &none, &data))) return 1;
  Ok();
  memcpy(data, kQuad, sizeof(kQuad));
  pVertexBufferUpload->Unmap(0, nullptr);
  pCommandList->CopyBufferRegion(s_pVertexBuffer, 0, pVertexBufferUpload, 0, kQuadVertexBytes);
  Transition(pCommandList, s_pVertexBuffer, D3D12_RESOURCE_STATE_COPY_DEST,
             D3D12_RESOURCE_STATE_VERTEX_AND_CONSTANT_BUFFER);
  s_vertexBufferView.BufferLocation = s_pVertexBuffer->GetGPUVirtualAddress();
  s_vertexBufferView.StrideInBytes = 24;
  s_vertexBufferView.SizeInBytes = kQuadVertexBytes;

  LogPrintf("s_pD3dDevice->CreateCommittedResource ... ");
  if (FAILED(CreateBuffer(D3D12_HEAP_TYPE_UPLOAD, kBackBufferCount * kConstantBlockBytes,
                          D3D12_RESOURCE_STATE_GENERIC_READ, &s_pConstantBuffer)))
    return 1;
  Ok();
  void* constants = nullptr;
  if (FAILED(s_pConstantBuffer->Map(0, &none, &constants))) return 1;
  s_pConstantBufferData = static_cast<uint8_t*>(constants);
  memset(s_pConstantBufferData, 0, kBackBufferCount * kConstantBlockBytes);
  if (FAILED(pCommandList->Close())) return 1;
  ID3D12CommandList* lists[] = {pCommandList};
  s_pCommandQueue->ExecuteCommandLists(1, lists);
  return 0;
}

int32_t CreateFenceAndWait() {
  LogPrintf("s_pD3dDevice->CreateFence ... ");
  if (FAILED(s_pD3dDevice->CreateFence(m.fenceValues[m.backBufferIndex], D3D12_FENCE_FLAG_NONE,
                                       IID_PPV_ARGS(&s_pFence))))
    return 1;
  m.fenceValues[m.backBufferIndex]++;
  Ok();
  LogPrintf("CreateEvent ... ");
  s_hFenceEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!s_hFenceEvent && GetLastError() != 0) return 1;
  Ok();
  if (WaitForGpuIdle()) return 1;
  SafeRelease(pVertexBufferUpload);
  SafeRelease(pCommandList);
  SafeRelease(pCommandAllocator);
  return 0;
}

int32_t CreateDeviceAndSwapChain() {
  LogPrintf("CreateDXGIFactory2 ... ");
  if (FAILED(CreateDXGIFactory2(0, IID_PPV_ARGS(&pDxgiFactory)))) return 1;
  LogPrintf("Ok.\n");

  IDXGIFactory6* factory6 = nullptr;
  if (SUCCEEDED(pDxgiFactory->QueryInterface(IID_PPV_ARGS(&factory6)))) {
    BOOL allow = FALSE;
    HRESULT hr = factory6->CheckFeatureSupport(DXGI_FEATURE_PRESENT_ALLOW_TEARING, &allow, sizeof(allow));
    m.bTearingSupported = SUCCEEDED(hr) && allow && !m.faults.noTearing ? 1 : 0;
    LogPrintf("Tearing support %d\n", m.bTearingSupported);
    factory6->Release();
  }
  if (ChooseAdapter()) return 1;

  LogPrintf("pDxgiAdapter->EnumOutputs ... ");
  if (FAILED(pDxgiAdapter->EnumOutputs(0, &pDxgiOutput))) return 1;
  Ok();
  LogPrintf("D3D12CreateDevice ... ");
  if (FAILED(s_pD3D12CreateDevice(pDxgiAdapter, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&s_pD3dDevice)))) return 1;
  Ok();
  LogPrintf("s_pD3dDevice->CreateCommandQueue ... ");
  D3D12_COMMAND_QUEUE_DESC queue;
  memset(&queue, 0, sizeof(queue));
  queue.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
  queue.Priority = D3D12_COMMAND_QUEUE_PRIORITY_NORMAL;
  if (FAILED(s_pD3dDevice->CreateCommandQueue(&queue, IID_PPV_ARGS(&s_pCommandQueue)))) return 1;
  Ok();

  LogPrintf("pDxgiFactory->CreateSwapChainForHwnd ... ");
  DXGI_SWAP_CHAIN_DESC1 sc;
  memset(&sc, 0, sizeof(sc));
  sc.Width = m.outputSurface.width;
  sc.Height = m.outputSurface.height;
  // Zero asks for the client size; some DXGI implementations refuse it, so
  // the size is given explicitly.
  RECT client;
  if ((sc.Width == 0 || sc.Height == 0) && GetClientRect(m.window, &client)) {
    sc.Width = static_cast<UINT>(client.right - client.left);
    sc.Height = static_cast<UINT>(client.bottom - client.top);
  }
  if (sc.Width == 0 || sc.Height == 0) {
    sc.Width = m.sourceWidth;
    sc.Height = m.sourceHeight;
  }
  sc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  sc.Stereo = FALSE;
  sc.SampleDesc.Count = 1;
  sc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  sc.BufferCount = kBackBufferCount;
  sc.Scaling = DXGI_SCALING_STRETCH;
  sc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
  sc.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
  sc.Flags = DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT |
             (m.bTearingSupported ? DXGI_SWAP_CHAIN_FLAG_ALLOW_TEARING : 0);
  IDXGISwapChain1* pBaseDxgiSwapChain = nullptr;
  if (FAILED(pDxgiFactory->CreateSwapChainForHwnd(s_pCommandQueue, m.window, &sc, nullptr, nullptr,
                                                  &pBaseDxgiSwapChain)))
    return 1;
  if (m.bTearingSupported) pDxgiFactory->MakeWindowAssociation(m.window, DXGI_MWA_NO_ALT_ENTER);
  Ok();

  LogPrintf("pBaseDxgiSwapChain.As(&s_pDxgiSwapChain) ... ");
  HRESULT hr = pBaseDxgiSwapChain->QueryInterface(IID_PPV_ARGS(&s_pDxgiSwapChain));
  pBaseDxgiSwapChain->Release();
  if (FAILED(hr)) return 1;
  Ok();
  s_pDxgiSwapChain->SetMaximumFrameLatency(1);
  s_hFrameLatencyWaitableObject = s_pDxgiSwapChain->GetFrameLatencyWaitableObject();
  if (s_hFrameLatencyWaitableObject) WaitForSingleObjectEx(s_hFrameLatencyWaitableObject, 0, TRUE);
  m.backBufferIndex = s_pDxgiSwapChain->GetCurrentBackBufferIndex();
  return 0;
}

int32_t CreateHeapsAndAllocators() {
  LogPrintf("s_pD3dDevice->CreateDescriptorHeap (s_pPerFrameRtvHeap) ... ");
  D3D12_DESCRIPTOR_HEAP_DESC heap = {D3D12_DESCRIPTOR_HEAP_TYPE_RTV, kBackBufferCount,
                                     D3D12_DESCRIPTOR_HEAP_FLAG_NONE, 0};
  if (FAILED(s_pD3dDevice->CreateDescriptorHeap(&heap, IID_PPV_ARGS(&s_pPerFrameRtvHeap)))) return 1;
  Ok();
  LogPrintf("s_pD3dDevice->CreateDescriptorHeap (s_pCbvSrvUavHeap) ... ");
  heap = {D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV, 1, D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE, 0};
  if (FAILED(s_pD3dDevice->CreateDescriptorHeap(&heap, IID_PPV_ARGS(&s_pCbvSrvUavHeap)))) return 1;
  Ok();
  m.rtvDescriptorSize = s_pD3dDevice->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);
  for (uint32_t i = 0; i < kBackBufferCount; i++) {
    LogPrintf("s_pD3dDevice->CreateCommandAllocator (s_apCommandAllocator[%d]) ... ", static_cast<int>(i));
    if (FAILED(s_pD3dDevice->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT,
                                                    IID_PPV_ARGS(&s_apCommandAllocator[i]))))
      return 1;
    Ok();
  }
  return 0;
}

int32_t CreateCommandLists() {
  LogPrintf("s_pD3dDevice->CreateCommandAllocator (pCommandAllocator) ... ");
  if (FAILED(s_pD3dDevice->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&pCommandAllocator))))
    return 1;
  Ok();
  LogPrintf("s_pD3dDevice->CreateCommandList (pCommandList) ... ");
  if (FAILED(s_pD3dDevice->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, pCommandAllocator, nullptr,
                                             IID_PPV_ARGS(&pCommandList))))
    return 1;
  Ok();
  LogPrintf("s_pD3dDevice->CreateCommandList (s_pCommandList) ... ");
  if (FAILED(s_pD3dDevice->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT,
                                             s_apCommandAllocator[m.backBufferIndex], s_pPipelineState,
                                             IID_PPV_ARGS(&s_pCommandList))))
    return 1;
  Ok();
  s_pCommandList->Close();
  return 0;
}

// One black frame: the slot's surface cleared, then presented as mode 1.
void PrimeFrame() {
  FrameSlot* slot = &m.slots[m.currentSlot];
  if (m.mappedPointer && MakeFrameSlotSurface(slot, m.mappedPointer, kFramePitch) == 0) {
    const uint8_t transparentBlack[16] = {};
    for (uint32_t level = 0; level < slot->surface.levelCount; level++) {
      Region all = {0, 0, slot->surface.levels[level].width, slot->surface.levels[level].height};
      slot->surface.FillRegion(&slot->surface, level, &all, transparentBlack);
    }
    DropFrameSlotSurface(slot);
  }
  m.currentSlot = (m.currentSlot + 1) % 2;
  UnmapUploadBuffer();
  uint32_t flags = (m.bTearingSupported && !m.bFullScreen) ? DXGI_PRESENT_ALLOW_TEARING : 0;
  if (PresentCurrentFrame(0, flags) == 0) WaitFrameLatency();
  MapCurrentUploadBuffer();
}

// The refresh rate a display device runs at now; 0 unknown (0 and 1 mean
// the hardware's default).
double DeviceCurrentRate(const wchar_t* device) {
  DEVMODEW mode;
  memset(&mode, 0, sizeof(mode));
  mode.dmSize = sizeof(mode);
  if (!EnumDisplaySettingsW(device, ENUM_CURRENT_SETTINGS, &mode) || mode.dmDisplayFrequency <= 1) return 0.0;
  return static_cast<double>(mode.dmDisplayFrequency);
}

double OutputCurrentRate() {
  DXGI_OUTPUT_DESC desc;
  if (!pDxgiOutput || FAILED(pDxgiOutput->GetDesc(&desc))) return 0.0;
  return DeviceCurrentRate(desc.DeviceName);
}

// The output's mode closest to the desktop size at hz: a rate the display
// lacks would make the follow-up's ResizeTarget fail on every frame. The
// mode's own rate (143.98 for 144, say) when one is found, else hz.
double ClosestModeRate(double hz) {
  DXGI_OUTPUT_DESC output;
  if (!pDxgiOutput || FAILED(pDxgiOutput->GetDesc(&output))) return hz;
  DXGI_MODE_DESC want;
  memset(&want, 0, sizeof(want));
  want.Width = static_cast<UINT>(output.DesktopCoordinates.right - output.DesktopCoordinates.left);
  want.Height = static_cast<UINT>(output.DesktopCoordinates.bottom - output.DesktopCoordinates.top);
  want.RefreshRate.Numerator = static_cast<UINT>(hz * 1000.0 + 0.5);
  want.RefreshRate.Denominator = 1000;
  want.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  DXGI_MODE_DESC found;
  memset(&found, 0, sizeof(found));
  if (FAILED(pDxgiOutput->FindClosestMatchingMode(&want, &found, nullptr)) || found.RefreshRate.Denominator == 0 ||
      found.RefreshRate.Numerator == 0)
    return hz;
  return static_cast<double>(found.RefreshRate.Numerator) / static_cast<double>(found.RefreshRate.Denominator);
}

// The rate the display really runs at once fullscreen is set up: the
// output's current mode, or in a window the monitor the window is on.
double RealDisplayRate(double asked) {
  double hz = 0.0;
  if (m.bFullScreen) {
    hz = OutputCurrentRate();
  } else {
    MONITORINFOEXW monitor;
    memset(&monitor, 0, sizeof(monitor));
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(m.window, MONITOR_DEFAULTTONEAREST), &monitor))
      hz = DeviceCurrentRate(monitor.szDevice);
  }
  // Unknown in fullscreen: the mode the switch asked for.
  return hz > 0.0 || !m.bFullScreen ? hz : asked;
}

} // namespace

void d3d12::ReadPresenterFaults(PresenterFaults* faults) {
  memset(faults, 0, sizeof(*faults));
  char text[256];
  DWORD n = GetEnvironmentVariableA("QV_TEST_PRESENTER_FAULTS", text, sizeof(text));
  if (n == 0 || n >= sizeof(text)) return;
  for (char* token = text; *token;) {
    char* end = strchr(token, ',');
    if (end) *end = 0;
    if (strcmp(token, "followup") == 0) faults->followUpAt = 1;
    else if (strcmp(token, "removed") == 0) faults->removed = 1;
    else if (strcmp(token, "notearing") == 0) faults->noTearing = 1;
    else if (strncmp(token, "present=", 8) == 0) faults->presents = atoi(token + 8);
    else if (strncmp(token, "map=", 4) == 0) faults->maps = atoi(token + 4);
    else if (strncmp(token, "leave=", 6) == 0) faults->leaves = atoi(token + 6);
    if (!end) break;
    token = end + 1;
  }
}

int32_t d3d12::PresenterInitializeWin32(Presenter** presenter, HWND window) {
  *presenter = nullptr;
  memset(&m, 0, sizeof(m));
  ReadPresenterFaults(&m.faults);
  RaiseTimerResolution();
  StopwatchInit(&m.clock);
  FrameLimiterInit(&m.limiter, kDefaultRefreshRate, nullptr, nullptr, nullptr);
  m.base.AcquireFrameSurface = AcquireFrameSurfaceWin32;
  m.base.PresentFrame = PresentFrameWin32;
  m.window = window;
  m.refreshRate = kDefaultRefreshRate;
  m.backBufferCount = kBackBufferCount;
  m.bFullScreen = 0;
  m.bDirty = 1;
  m.presentedFrameCount = 0;
  m.sourceFormat = Unorm8BGRA;
  m.bytesPerPixel = 4;
  m.sourceWidth = kFrameWidth;
  m.sourceHeight = kFrameHeight;
  m.outputSurface.width = 0;
  m.outputSurface.height = 0;
  m.mappedIndex = -1;
  m.frameUploadIndex = -1;

  if (CreateDeviceAndSwapChain()) return 1;
  if (CreateHeapsAndAllocators()) return 1;
  // Once per back buffer on purpose: the log shows both, the second replaces the first.
  for (uint32_t i = 0; i < kBackBufferCount; i++)
    if (CreateRootSignature()) return 1;
  if (CompileShaders()) return 1;
  if (CreatePipelineState()) return 1;
  if (CreateCommandLists()) return 1;
  if (RebuildBackBuffers()) return 1;
  if (RebuildIntermediateSurface()) return 1;
  if (CreateQuadAndConstants()) return 1;
  if (CreateFenceAndWait()) return 1;
  if (CreateUploadSurfaces()) return 1;

  m.sourceWidth = kFrameWidth;
  m.sourceHeight = kFrameHeight;
  if (WaitForGpuIdle()) return 1;
  // Made again on purpose once the GPU is idle: the log shows both pairs.
  if (CreateUploadSurfaces()) return 1;
  m.bDirty = 1;

  m.refreshRate = kDefaultRefreshRate;
  m.bDirty = 1;
  // With a rate asked for, the first follow-up's ResizeTarget (in the
  // priming frames) asks the fullscreen mode for it; without, 60 Hz as always.
  int32_t rateRequested = DisplayRateRequested();
  if (rateRequested) m.refreshRate = ClosestModeRate(DisplayRateToAsk(OutputCurrentRate()));
  if (!m.bFullScreen && SUCCEEDED(s_pDxgiSwapChain->SetFullscreenState(TRUE, pDxgiOutput))) m.bFullScreen = 1;

  memset(m.slots, 0, sizeof(m.slots));
  m.currentSlot = 0;
  MapCurrentUploadBuffer();
  for (uint32_t i = 0; i < 2; i++) PrimeFrame();
  if (rateRequested) {
    double real = RealDisplayRate(m.refreshRate);
    double hz = DisplayRateChoose(real, m.bFullScreen);
    LogPrintf("Display rate: mode asked %.2f Hz, display %.2f Hz, fullscreen %d, running at %.2f Hz\n", m.refreshRate,
              real, m.bFullScreen, hz);
    m.refreshRate = hz;
    SetRunningRate(hz);
    FrameLimiterInit(&m.limiter, hz, nullptr, nullptr, nullptr);
  }
  m.initialized = 1;
  *presenter = &m.base;
  return 0;
}
