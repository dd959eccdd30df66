// CheckPngChunks (the walk in front of the Windows decoder) on arbitrary
// bytes: reads stay within the input and the answer is 0, 3 or 4 channels.
#include <cstdint>
#include <cstdlib>

#include "gfx/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t channels = CheckPngChunks(data, size);
  if (channels != 0 && channels != 3 && channels != 4) abort();
  return 0;
}
