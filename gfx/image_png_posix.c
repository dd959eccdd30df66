/* PNG decoding through libpng. Errors (libpng's own, "Read Error" and
   "Out of memory") land on the recovery point set here; only C frames lie
   between it and the error, so nothing is skipped but what this function
   frees itself. */
#include <png.h>
#include <setjmp.h>
#include <string.h>

#include "gfx/image_decode.h"

static void ReadFromMemory(png_structp png, png_bytep out, size_t n)
{
  MemoryReader* reader = (MemoryReader*)png_get_io_ptr(png);
  if (n > reader->size - reader->position)
    png_error(png, "Read Error");
  memcpy(out, reader->data + reader->position, n);
  reader->position += n;
}

static void FreeDecode(DecodedImage* image)
{
  png_structp png = (png_structp)image->png;
  png_infop info = (png_infop)image->info;
  ImageFree(image->rows);
  image->rows = NULL;
  ImageFree(image->pixels);
  image->pixels = NULL;
  if (png)
    png_destroy_read_struct(&png, info ? &info : NULL, NULL);
  image->png = NULL;
  image->info = NULL;
}

int32_t DecodeImageRows(const uint8_t* data, uint64_t size, DecodedImage* image)
{
  memset(image, 0, sizeof(*image));
  image->reader.data = data;
  image->reader.size = size;
  image->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  if (!image->png)
    return 1;
  png_structp png = (png_structp)image->png;
  image->info = png_create_info_struct(png);
  if (!image->info) {
    FreeDecode(image);
    return 1;
  }
  if (setjmp(png_jmpbuf(png))) {
    FreeDecode(image);
    return 1;
  }
  png_infop info = (png_infop)image->info;
  png_set_read_fn(png, &image->reader, ReadFromMemory);
  png_read_info(png, info);

  png_uint_32 width, height;
  int bitDepth, colourType;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, NULL, NULL, NULL);
  if (ImageSizeAllowed(width, height) != 0)
    png_error(png, "Image too large");
  if (bitDepth == 16)
    png_set_scale_16(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE)
    png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(png);
  png_set_tRNS_to_alpha(png);
  png_read_update_info(png, info);

  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, NULL, NULL, NULL);
  image->width = width;
  image->height = height;
  image->bitDepth = (uint32_t)bitDepth;
  image->rowBytes = png_get_rowbytes(png, info);
  image->channels = png_get_channels(png, info);
  /* Colour types 0 and 2 read as RGB, 4 and 6 as RGBA; the rows must hold
     exactly that many 8-bit channels. */
  uint32_t channels = (colourType == 0 || colourType == 2) ? 3u : (colourType == 4 || colourType == 6) ? 4u : 0u;
  if (channels == 0 || image->channels != channels || bitDepth != 8 ||
      image->rowBytes != (uint64_t)width * channels)
    png_error(png, "Unsupported colour type");

  image->pixels = (uint8_t*)ImageAlloc(image->rowBytes * height);
  image->rows = (uint8_t**)ImageAlloc(sizeof(uint8_t*) * (uint64_t)height);
  if (!image->pixels || !image->rows)
    png_error(png, "Out of memory");
  for (uint32_t y = 0; y < height; ++y)
    image->rows[y] = image->pixels + image->rowBytes * y;
  png_read_image(png, image->rows);
  png_read_end(png, info);

  ImageFree(image->rows);
  image->rows = NULL;
  png_destroy_read_struct(&png, &info, NULL);
  image->png = NULL;
  image->info = NULL;
  return 0;
}
