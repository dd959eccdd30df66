// LoadEmbeddedImage on arbitrary bytes: never crashes or leaks, and a loaded
// surface stays within the size limits.
#include <cstdint>
#include <cstdlib>

#include "gfx/image.h"
#include "gfx/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Surface surface;
  if (LoadEmbeddedImage(&surface, data, size) == 0) {
    const SurfaceLevel& level = surface.levels[0];
    if (surface.format != Fp32RGBA || surface.levelCount != 1 ||
        ImageSizeAllowed(level.width, level.height) != 0)
      abort();
    // Touch the last texel so the surface's extent is checked too.
    float texel[4];
    surface.LoadElement(&surface, 0, level.width - 1, level.height - 1, texel);
    ReleaseSurface(&surface);
  }
  return 0;
}
