// LoadEmbeddedImage: checks the signature, has the platform decoder produce
// 8-bit RGB or RGBA rows, then converts them texel by texel into a new
// Fp32RGBA surface. The surface is made only once decoding has succeeded.
#include <cstring>

#include "gfx/image.h"
#include "gfx/image_decode.h"
#include "runtime/runtime.h"

extern "C" void* ImageAlloc(uint64_t size) { return MemAlloc(size); }
extern "C" void ImageFree(void* p) { MemFree(p); }

extern "C" int32_t ImageSizeAllowed(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > QV_IMAGE_MAX_SIDE || height > QV_IMAGE_MAX_SIDE) return 1;
  uint64_t bytes = uint64_t(width) * height * formatInfo(Fp32RGBA)->elementSize;
  return bytes > QV_IMAGE_MAX_SURFACE_BYTES ? 1 : 0;
}

int32_t LoadEmbeddedImage(Surface* surface, const void* data, uint64_t size) {
  static const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || size < 8 || memcmp(data, kSignature, 8) != 0) return 1;

  DecodedImage image;
  if (DecodeImageRows(static_cast<const uint8_t*>(data), size, &image) != 0) return 1;

  int32_t sourceFormat = image.channels == 4 ? Unorm8RGBA : Unorm8RGB;
  Surface made;
  if (CreateSurface(&made, Fp32RGBA, image.width, image.height) != 0 || made.levelCount == 0) {
    MemFree(image.pixels);
    return 1;
  }
  Converter converter;
  initConverter(&converter, Fp32RGBA, sourceFormat);
  uint32_t elementSize = formatInfo(sourceFormat)->elementSize;
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels + uint64_t(elementSize) * image.width * y;
    for (uint32_t x = 0; x < image.width; ++x) {
      alignas(16) uint8_t element[16];
      converter.convertOne(&converter, element, row + uint64_t(elementSize) * x);
      made.StoreElement(&made, 0, x, y, element);
    }
  }
  MemFree(image.pixels);
  *surface = made;
  return 0;
}
