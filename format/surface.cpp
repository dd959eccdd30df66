// Surface set-up, format binding, creation over owned storage and release.
#include <cstring>

#include "format/format.h"
#include "format/surface_internal.h"
#include "runtime/runtime.h"

int32_t BindSurfaceFormat(Surface* surface, int32_t format) {
  const FormatInfo* info = formatInfo(format);
  const FormatOps& ops = info->ops;
  if (!ops.clear || !ops.clearN || !ops.copy || !ops.copyN || !ops.swapBytes || !ops.swapBytesN ||
      !ops.pack || !ops.packN || !ops.unpack || !ops.unpackN || !ops.unpackScaled ||
      !ops.unpackScaledAdd)
    return 1;
  surface->format = format;
  surface->ops = ops;
  return 0;
}

static uint32_t BitLength(uint32_t n) {
  uint32_t bits = 0;
  while (n) {
    ++bits;
    n >>= 1;
  }
  return bits;
}

static int32_t IsPlainFloat32Class(uint32_t layoutClass) {
  return layoutClass == 1 || layoutClass == 19 || layoutClass == 45 || layoutClass == 77;
}

static uint32_t SizeBlock(uint32_t elementSize) {
  switch (elementSize) {
    case 1: return 0;
    case 2: return 96;
    case 4: return 192;
    case 8: return 288;
    case 16: return 384;
    default: return 480;
  }
}

int32_t InitSurface(Surface* surface, const SurfaceDesc* desc, int32_t ownsStorage) {
  // Start from a clean record so a description with an unusable format never
  // leaves stale operations or levels behind.
  memset(surface, 0, sizeof(*surface));
  BindSurfaceFormat(surface, desc->format);
  const FormatInfo* info = formatInfo(desc->format);

  surface->elementSize = info->elementSize;
  surface->layout = desc->layout;
  surface->ownsStorage = ownsStorage;

  uint32_t count = desc->levelCount;
  uint32_t bitsW = BitLength(desc->width), bitsH = BitLength(desc->height);
  if (count > bitsW) count = bitsW;
  if (count > bitsH) count = bitsH;
  if (count > kMaxSurfaceLevels) count = kMaxSurfaceLevels;
  surface->levelCount = count;

  for (uint32_t i = 0; i < count; ++i) {
    SurfaceLevel& level = surface->levels[i];
    uint32_t w = desc->width >> i, h = desc->height >> i;
    level.width = w ? w : 1;
    level.height = h ? h : 1;
    level.start = static_cast<uint8_t*>(desc->levels[i].data);
    level.end = level.start + desc->levels[i].size;
    level.pitch = desc->levels[i].rowPitch;
    surface->levelMaxX[i] = static_cast<int32_t>(level.width - 1);
    surface->levelMaxY[i] = static_cast<int32_t>(level.height - 1);
    surface->levelSpreadX[i] = SpreadBits16(level.width - 1);
    surface->levelSpreadY[i] = SpreadBits16(level.height - 1);
  }

  // Fixed point with 8 fractional bits: u = -1 .. +1 maps onto 0 .. 256 * width,
  // minus half a texel so that truncation lands on texel centres.
  surface->scaleX = static_cast<float>(desc->width) * 128.0f;
  surface->offsetX = static_cast<int32_t>(desc->width * 128u - 128u);
  surface->scaleY = static_cast<float>(desc->height) * -128.0f;
  surface->offsetY = static_cast<int32_t>(desc->height * 128u - 128u);

  surface->readChannels = info->readChannels;
  surface->isFp32 = IsPlainFloat32Class(info->layoutClass);
  surface->isPow2 = (desc->width & (desc->width - 1)) == 0 && (desc->height & (desc->height - 1)) == 0;
  surface->lodLimit = (static_cast<int32_t>(count) - 1) * 256;

  uint32_t kind = (surface->isPow2 ? 0u : 1u) + 2u * (surface->isFp32 ? 0u : 1u);
  surface->kernelRow = SizeBlock(info->elementSize) + 24u * kind + (desc->layout == kLayoutLinear ? 0u : 12u);

  SelectTexelFunctions(surface);
  return 0;
}

void DescribeLinearSurface(SurfaceDesc* desc, int32_t format, uint32_t width, uint32_t height, void* data,
                           uint64_t size, uint32_t rowPitch) {
  memset(desc, 0, sizeof(*desc));
  desc->format = format;
  desc->layout = kLayoutLinear;
  desc->width = width;
  desc->height = height;
  desc->levelCount = 1;
  desc->levels[0].data = data;
  desc->levels[0].size = size;
  desc->levels[0].rowPitch = rowPitch;
}

int32_t CreateSurface(Surface* surface, int32_t format, uint32_t width, uint32_t height) {
  uint64_t elementSize = formatInfo(format)->elementSize;
  uint64_t pitch = width * elementSize;
  if (pitch > 0xFFFFFFFFu) return 1; // the row pitch would not fit its field
  uint64_t size = pitch * height;
  // Rows start on a cache line: tiles side by side are drawn by different
  // threads, and a line shared between two tiles would bounce between them.
  if (size > UINT64_MAX - kSurfaceAlignment) return 1;
  void* block = MemAlloc(size + kSurfaceAlignment);
  if (!block) return 1;
  void* storage = AlignToSurfaceLine(block);
  HintLargePages(storage, size);
  memset(storage, 0, size);

  SurfaceDesc desc;
  DescribeLinearSurface(&desc, format, width, height, storage, size, static_cast<uint32_t>(pitch));
  InitSurface(surface, &desc, 1);
  surface->block = block;
  if (surface->levelCount == 0) {
    // A zero-sized side describes no level, so nothing would ever free it.
    surface->ownsStorage = 0;
    surface->block = nullptr;
    MemFree(block);
  }
  return 0;
}

void ReleaseSurface(Surface* surface) {
  if (surface->ownsStorage != 1) return;
  // CreateSurface's one level lies inside the block it allocated.
  MemFree(surface->block);
  for (uint32_t i = surface->levelCount; i-- > 0;) {
    if (!surface->block) MemFree(surface->levels[i].start);
    surface->levels[i].start = nullptr;
    surface->levels[i].end = nullptr;
  }
  // A second release must not free the storage again.
  surface->block = nullptr;
  surface->ownsStorage = 0;
}
