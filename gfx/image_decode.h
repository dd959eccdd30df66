/* The platform decoders' side of LoadEmbeddedImage. Plain C so that the
   libpng decoder, whose error recovery jumps over its frames, is C only. */
#ifndef QV_GFX_IMAGE_DECODE_H
#define QV_GFX_IMAGE_DECODE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Largest decoded image: per side, and the Fp32RGBA surface it becomes. */
#define QV_IMAGE_MAX_SIDE 16384u
#define QV_IMAGE_MAX_SURFACE_BYTES (256ull * 1024ull * 1024ull)

typedef struct MemoryReader {
  const uint8_t* data;
  uint64_t size;
  uint64_t position;
} MemoryReader;

/* Decoded rows: height rows of width * channels bytes, tightly packed, in a
   block from ImageAlloc that the caller frees with ImageFree. */
typedef struct DecodedImage {
  MemoryReader reader;
  void* png;  /* decoder state while decoding */
  void* info;
  uint32_t width;
  uint32_t height;
  uint32_t channels; /* 3 RGB or 4 RGBA, 8 bits each */
  uint32_t bitDepth;
  uint64_t rowBytes;
  uint8_t* pixels;
  uint8_t** rows;
} DecodedImage;

/* 0 when the size is acceptable. */
int32_t ImageSizeAllowed(uint32_t width, uint32_t height);
/* 0 on success; 1 on any decoding error, with nothing left allocated. */
int32_t DecodeImageRows(const uint8_t* data, uint64_t size, DecodedImage* image);
/* Walks every chunk of a PNG file up to IEND before the Windows decoder
   sees it: the chunks must be complete, properly named and, when critical,
   known and intact, with the header first and only there. Returns 3 or 4
   channels by the header's colour type and a tRNS chunk, or 0 when the file
   is to be refused. */
uint32_t CheckPngChunks(const uint8_t* data, uint64_t size);
/* The global allocation routine, for the C decoder. */
void* ImageAlloc(uint64_t size);
void ImageFree(void* p);

#ifdef __cplusplus
}
#endif

#endif
