// Embedded images: a complete PNG file in memory becomes an Fp32RGBA surface
// (libpng elsewhere, WIC on Windows; both yield the same 8-bit RGB or RGBA
// rows, converted texel by texel through the format library).
#pragma once

#include <cstdint>

#include "format/format.h"

// 0 on success. 1 when the data is not a PNG, fails to decode, exceeds the
// size limits (gfx/image_decode.h) or the surface cannot be had; the surface
// is then left untouched and nothing stays allocated.
int32_t LoadEmbeddedImage(Surface* surface, const void* data, uint64_t size);
