// Format library: the catalogue of 69 element formats, element conversion
// between any two of them, and surfaces (texel access and sampling).
// Per-format behaviour always comes from these tables; callers never switch
// on a format value.
#pragma once

#include <cstdint>

// ---- Catalogue -------------------------------------------------------------
enum Format : int32_t {
  Undefined = 0,
  Fp32, Fp32Vec2, Fp32Vec3, Fp32Vec4,
  Fp16, Fp16Vec2, Fp16Vec3, Fp16Vec4,
  Unorm32, Unorm32Vec2, Unorm32Vec3, Unorm32Vec4,
  Unorm16, Unorm16Vec2, Unorm16Vec3, Unorm16Vec4,
  Unorm8, Unorm8Vec2, Unorm8Vec3, Unorm8Vec4,
  Snorm32, Snorm32Vec2, Snorm32Vec3, Snorm32Vec4,
  Snorm16, Snorm16Vec2, Snorm16Vec3, Snorm16Vec4,
  Snorm8, Snorm8Vec2, Snorm8Vec3, Snorm8Vec4,
  Fp32RGB, Fp32RGBA, Fp32RGBX,
  Fp16RGB, Fp16RGBA, Fp16RGBX,
  Unorm32RGB, Unorm32RGBA, Unorm32RGBX,
  Unorm16RGB, Unorm16RGBA, Unorm16RGBX,
  Unorm8RGB, Unorm8RGBA, Unorm8RGBX,
  Snorm32RGB, Snorm32RGBA, Snorm32RGBX,
  Snorm16RGB, Snorm16RGBA, Snorm16RGBX,
  Snorm8RGB, Snorm8RGBA, Snorm8RGBX,
  Fp16BGRA,
  Unorm8BGR, Unorm8BGRA, Unorm8BGRX,
  Fp16ARGB, Unorm8ARGB,
  PackedUnormB5G6R5, PackedUnormB5G5R5A1, PackedUnormB4G4R4A4,
  PackedUnormR10G10B10A2, PackedFpR9G9B9E5, PackedFpR11G11B10,
};
constexpr int32_t kFormatCount = 69;
static_assert(PackedFpR11G11B10 == 68, "catalogue order");

typedef void (*FormatClearFn)(void* element);
typedef void (*FormatClearNFn)(void* elements, uint32_t count);
typedef void (*FormatCopyFn)(void* dst, const void* src);
typedef void (*FormatCopyNFn)(void* dst, const void* src, uint32_t count);
typedef void (*FormatSwapBytesFn)(void* element);
typedef void (*FormatSwapBytesNFn)(void* elements, uint32_t count);
typedef void (*FormatPackFn)(void* dst, const float* channels);
typedef void (*FormatPackNFn)(void* dst, const float* channels, uint32_t count);
typedef void (*FormatUnpackFn)(const void* src, float* channels);
typedef void (*FormatUnpackNFn)(const void* src, float* channels, uint32_t count);
typedef void (*FormatUnpackScaledFn)(const void* src, float w, float* channels);
typedef void (*FormatUnpackScaledAddFn)(const void* src, float w, float* channels);

// The twelve element operations, in catalogue slot order.
struct FormatOps {
  FormatClearFn clear;
  FormatClearNFn clearN;
  FormatCopyFn copy;
  FormatCopyNFn copyN;
  FormatSwapBytesFn swapBytes;
  FormatSwapBytesNFn swapBytesN;
  FormatPackFn pack;
  FormatPackNFn packN;
  FormatUnpackFn unpack;
  FormatUnpackNFn unpackN;
  FormatUnpackScaledFn unpackScaled;
  FormatUnpackScaledAddFn unpackScaledAdd;
};

struct FormatInfo {
  const char* name;
  uint32_t elementSize;
  uint32_t componentCount;
  uint32_t readChannels;
  uint32_t layoutClass;
  FormatOps ops;
};

// Values outside 0..68 answer the Undefined entry.
const FormatInfo* formatInfo(int32_t format);

// Scalar encodings shared by the catalogue, the converters and the tests.
uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t half);

// ---- Element conversion ----------------------------------------------------
struct Converter;
typedef void (*ConvertOneFn)(const Converter* converter, void* dst, const void* src);
typedef void (*ConvertManyFn)(const Converter* converter, void* dst, const void* src, uint32_t count);
typedef void (*DirectOneFn)(void* dst, const void* src);
typedef void (*DirectManyFn)(void* dst, const void* src, uint32_t count);

struct Converter {
  ConvertOneFn convertOne;
  ConvertManyFn convertMany;
  FormatPackFn dstPack;
  FormatPackNFn dstPackN;
  FormatUnpackFn srcUnpack;
  FormatUnpackNFn srcUnpackN;
  DirectOneFn directOne;
  DirectManyFn directMany;
  int32_t dstFormat;
  uint32_t dstElementSize;
  uint32_t dstComponentCount;
  int32_t srcFormat;
  uint32_t srcElementSize;
  uint32_t srcReadChannels;
};

// Destination first. Returns 0.
int32_t initConverter(Converter* converter, int32_t dstFormat, int32_t srcFormat);

// ---- Surfaces ----------------------------------------------------------------
constexpr uint32_t kMaxSurfaceLevels = 16;

struct SurfaceLevelDesc {
  void* data;
  uint64_t size;
  uint32_t rowPitch;
};

// A surface's layout: kLayoutLinear is rows one after another; any other
// value is Morton order (kLayoutMorton names one).
constexpr int32_t kLayoutLinear = 1;
constexpr int32_t kLayoutMorton = 2;

struct SurfaceDesc {
  int32_t format;
  int32_t layout; // kLayoutLinear, else Morton order
  uint32_t width;
  uint32_t height;
  uint32_t levelCount;
  SurfaceLevelDesc levels[kMaxSurfaceLevels];
};

// A one-level linear surface over data: size bytes, rowPitch bytes a row.
void DescribeLinearSurface(SurfaceDesc* desc, int32_t format, uint32_t width, uint32_t height, void* data,
                           uint64_t size, uint32_t rowPitch);

struct Region {
  uint32_t x, y, width, height;
};

struct Sampler {
  uint32_t coarseFilter; // 1 point, 2 linear
  uint32_t fineFilter;
  uint32_t mipFilter;    // 1 nearest level, else two levels
  uint32_t addressU;     // 1 clamp, else wrap
  uint32_t addressV;
  uint32_t unused5;
  float unused6[3];
  int32_t minLod;        // 1/256 level
  int32_t maxLod;
  int32_t lodBias;
  uint32_t kernel;       // 0 .. 11
  uint32_t unused13;
};
static_assert(sizeof(Sampler) == 56, "sampler is 14 words");

struct Surface;
typedef void (*FillRegionFn)(Surface* surface, uint32_t level, const Region* region, const void* element);
typedef void (*LoadElementFn)(const Surface* surface, uint32_t level, uint32_t x, uint32_t y, void* dst);
typedef void (*StoreElementFn)(Surface* surface, uint32_t level, uint32_t x, uint32_t y, const void* src);
typedef void (*ReadRegionFn)(const Surface* surface, uint32_t level, const Region* region, void* buffer);
typedef void (*WriteRegionFn)(Surface* surface, uint32_t level, const Region* region, const void* buffer);
// pixel: the interpolated values of a pixel record (u, v, unused, rho).
typedef void (*SampleKernelFn)(const Surface* surface, const Sampler* sampler, const float* pixel, float* result);

struct SurfaceLevel {
  uint32_t width;
  uint32_t height;
  uint8_t* start;
  uint8_t* end;
  uint32_t pitch;
};

constexpr uint64_t kSurfaceAlignment = 64; // CreateSurface's rows start on a cache line
inline uint8_t* AlignToSurfaceLine(void* p) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + kSurfaceAlignment - 1) &
                                    ~static_cast<uintptr_t>(kSurfaceAlignment - 1));
}

struct Surface {
  int32_t format;
  uint32_t elementSize;
  int32_t layout; // kLayoutLinear, else Morton order
  int32_t ownsStorage;
  uint32_t levelCount;
  SurfaceLevel levels[kMaxSurfaceLevels];
  FormatOps ops;
  // Sampling constants, from level 0.
  float scaleX;
  int32_t offsetX;
  float scaleY;
  int32_t offsetY;
  int32_t levelMaxX[kMaxSurfaceLevels];
  int32_t levelMaxY[kMaxSurfaceLevels];
  uint32_t levelSpreadX[kMaxSurfaceLevels]; // levelMaxX with bit k moved to bit 2k
  uint32_t levelSpreadY[kMaxSurfaceLevels];
  uint32_t readChannels;
  int32_t isFp32;
  int32_t isPow2;
  int32_t lodLimit;
  uint32_t kernelRow;
  FillRegionFn FillRegion;
  LoadElementFn LoadElement;
  StoreElementFn StoreElement;
  ReadRegionFn ReadRegion;
  WriteRegionFn WriteRegion;
  void* block; // CreateSurface's allocation, which level 0 starts a little way into
};

int32_t InitSurface(Surface* surface, const SurfaceDesc* desc, int32_t ownsStorage);
int32_t BindSurfaceFormat(Surface* surface, int32_t format);
// One level, zero-filled owned storage, linear rows. Returns 1 when the
// storage cannot be had.
int32_t CreateSurface(Surface* surface, int32_t format, uint32_t width, uint32_t height);
void ReleaseSurface(Surface* surface);
void SampleSurface(const Surface* surface, const Sampler* sampler, const float* pixel, float* result);
// The kernel SampleSurface would call for this surface and sampler, or null
// when it would answer zeros; lets a caller sampling many pixels with one
// pair skip the dispatch. The kernel writes the surface's read channels only.
SampleKernelFn SelectSampleKernel(const Surface* surface, const Sampler* sampler);

// Many pixels with one surface and sampler: pixel i has coordinates u[i],
// v[i] and lod value rho[i]; out gets 4 floats per pixel, what the selected
// kernel writes and zeros in the channels it leaves (all zeros when there is
// no kernel). Same results as one kernel call per pixel, without the calls.
typedef void (*SampleBatchFn)(const Surface* surface, const Sampler* sampler, const float* u, const float* v,
                              const float* rho, uint32_t count, float* out);
SampleBatchFn SelectSampleBatch(const Surface* surface, const Sampler* sampler);
// 0 when the batch SelectSampleBatch picks never reads rho (no kernel, or
// the single-level point routines): the caller may leave it unset.
int32_t SampleBatchReadsRho(const Surface* surface, const Sampler* sampler);

// Morton code of (x, y): x bits to even, y bits to odd positions (low 16 bits each).
uint32_t MortonCode(uint32_t x, uint32_t y);
