// The loader on every colour type and bit depth the decoder expands: images
// written with libpng's writer from random samples, expected texels computed
// from the samples by the expansion rules (n-bit grey scaled by 255 / (2^n - 1),
// 16-bit samples to the nearest 8-bit value, tRNS entries as alpha).
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <random>

#include "gfx/image.h"
#include "tests/gfx/image_harness.h"

namespace {

struct Writer {
  std::vector<uint8_t> bytes;
};

void WriteToVector(png_structp png, png_bytep data, size_t n) {
  Writer* w = static_cast<Writer*>(png_get_io_ptr(png));
  w->bytes.insert(w->bytes.end(), data, data + n);
}
void NoFlush(png_structp) {}

struct PngShape {
  uint32_t width, height;
  int bitDepth, colourType, interlace;
  std::vector<png_color> palette;
  std::vector<uint8_t> trnsAlpha; // palette images
  bool trnsColour;                // grey / RGB images: the first pixel's colour is transparent
};

// samples: rows of raw samples (16-bit ones as numbers), one value per
// channel; packed into PNG rows here.
std::vector<uint8_t> WritePng(const PngShape& shape, const std::vector<uint32_t>& samples, png_color_16* trns) {
  Writer w;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &w, WriteToVector, NoFlush);
  png_set_IHDR(png, info, shape.width, shape.height, shape.bitDepth, shape.colourType, shape.interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!shape.palette.empty()) png_set_PLTE(png, info, shape.palette.data(), int(shape.palette.size()));
  if (!shape.trnsAlpha.empty())
    png_set_tRNS(png, info, shape.trnsAlpha.data(), int(shape.trnsAlpha.size()), nullptr);
  if (shape.trnsColour) png_set_tRNS(png, info, nullptr, 0, trns);
  png_write_info(png, info);
  int passes = png_set_interlace_handling(png);
  uint32_t channels = png_get_channels(png, info);
  size_t rowBytes = png_get_rowbytes(png, info);
  std::vector<std::vector<uint8_t>> rows(shape.height, std::vector<uint8_t>(rowBytes, 0));
  for (uint32_t y = 0; y < shape.height; ++y) {
    uint32_t bit = 0;
    for (uint32_t i = 0; i < shape.width * channels; ++i) {
      uint32_t v = samples[y * shape.width * channels + i];
      if (shape.bitDepth == 16) {
        rows[y][2 * i] = uint8_t(v >> 8);
        rows[y][2 * i + 1] = uint8_t(v);
      } else if (shape.bitDepth == 8) {
        rows[y][i] = uint8_t(v);
      } else {
        rows[y][bit / 8] |= uint8_t(v << (8 - shape.bitDepth - bit % 8));
        bit += shape.bitDepth;
      }
    }
  }
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < shape.height; ++y) png_write_row(png, rows[y].data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return w.bytes;
}

uint32_t Channels(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1; // palette index
  }
}

// The 8-bit value a sample expands to.
uint32_t To8(uint32_t v, int bitDepth) {
  if (bitDepth == 16) return uint32_t(std::lround(double(v) * 255.0 / 65535.0));
  return v * 255 / ((1u << bitDepth) - 1);
}

// Writes, loads and compares one image; returns the loaded alpha of (0, 0).
void Check(const PngShape& shape, uint32_t seed) {
  SCOPED_TRACE(testing::Message() << "type " << shape.colourType << " depth " << shape.bitDepth << " interlace "
                                  << shape.interlace << " " << shape.width << "x" << shape.height);
  std::mt19937 random(seed);
  uint32_t channels = Channels(shape.colourType);
  uint32_t limit = shape.colourType == PNG_COLOR_TYPE_PALETTE ? uint32_t(shape.palette.size()) : (1u << shape.bitDepth);
  std::vector<uint32_t> samples(size_t(shape.width) * shape.height * channels);
  for (uint32_t& s : samples) s = random() % limit;
  png_color_16 trns = {};
  bool hasAlphaChannel = shape.colourType == PNG_COLOR_TYPE_GRAY_ALPHA || shape.colourType == PNG_COLOR_TYPE_RGB_ALPHA;
  uint32_t colourChannels = hasAlphaChannel ? channels - 1 : channels;
  if (shape.trnsColour) {
    if (shape.colourType == PNG_COLOR_TYPE_GRAY) trns.gray = png_uint_16(samples[0]);
    else trns.red = png_uint_16(samples[0]), trns.green = png_uint_16(samples[1]), trns.blue = png_uint_16(samples[2]);
  }
  std::vector<uint8_t> bytes = WritePng(shape, samples, &trns);

  Surface s;
  ASSERT_EQ(LoadEmbeddedImage(&s, bytes.data(), bytes.size()), 0);
  ASSERT_EQ(s.format, Fp32RGBA);
  ASSERT_EQ(s.levels[0].width, shape.width);
  ASSERT_EQ(s.levels[0].height, shape.height);
  uint32_t bad = 0;
  for (uint32_t y = 0; y < shape.height; ++y) {
    for (uint32_t x = 0; x < shape.width; ++x) {
      const uint32_t* p = &samples[(size_t(y) * shape.width + x) * channels];
      uint32_t rgba[4];
      if (shape.colourType == PNG_COLOR_TYPE_PALETTE) {
        const png_color& c = shape.palette[p[0]];
        rgba[0] = c.red, rgba[1] = c.green, rgba[2] = c.blue;
        rgba[3] = p[0] < shape.trnsAlpha.size() ? shape.trnsAlpha[p[0]] : 255;
      } else {
        for (int c = 0; c < 3; ++c) rgba[c] = To8(p[colourChannels == 1 ? 0 : c], shape.bitDepth);
        rgba[3] = hasAlphaChannel ? To8(p[channels - 1], shape.bitDepth) : 255;
        if (shape.trnsColour) {
          bool match = true;
          for (uint32_t c = 0; c < colourChannels; ++c) match = match && p[c] == samples[c];
          rgba[3] = match ? 0 : 255;
        }
      }
      float t[4];
      Texel(&s, x, y, t);
      for (int c = 0; c < 4; ++c)
        if (!SameChannel(t[c], rgba[c]) && bad++ < 5)
          ADD_FAILURE() << "(" << x << ", " << y << ") channel " << c << ": " << t[c] * 255.0f << " != " << rgba[c];
    }
  }
  EXPECT_EQ(bad, 0u);
  ReleaseSurface(&s);
}

TEST(ImageFormatsTest, RgbaGoldenPair) {
  PngShape shape = {2, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, {}, {}, false};
  png_color_16 none = {};
  std::vector<uint8_t> bytes = WritePng(shape, {255, 0, 0, 255, 0, 0, 0, 0}, &none);
  Surface s;
  ASSERT_EQ(LoadEmbeddedImage(&s, bytes.data(), bytes.size()), 0);
  float a[4], b[4];
  Texel(&s, 0, 0, a);
  Texel(&s, 1, 0, b);
  EXPECT_EQ(a[0], 1.0f);
  EXPECT_EQ(a[1], 0.0f);
  EXPECT_EQ(a[2], 0.0f);
  EXPECT_EQ(a[3], 1.0f);
  for (float v : b) EXPECT_EQ(v, 0.0f);
  ReleaseSurface(&s);
}

TEST(ImageFormatsTest, EveryColourTypeAndDepth) {
  const int greyDepths[] = {1, 2, 4, 8, 16};
  uint32_t seed = 1;
  for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7}) {
    for (int depth : greyDepths) {
      Check({13, 11, depth, PNG_COLOR_TYPE_GRAY, interlace, {}, {}, false}, seed++);
      Check({13, 11, depth, PNG_COLOR_TYPE_GRAY, interlace, {}, {}, true}, seed++);
    }
    for (int depth : {8, 16}) {
      Check({17, 9, depth, PNG_COLOR_TYPE_RGB, interlace, {}, {}, false}, seed++);
      Check({17, 9, depth, PNG_COLOR_TYPE_RGB, interlace, {}, {}, true}, seed++);
      Check({17, 9, depth, PNG_COLOR_TYPE_RGB_ALPHA, interlace, {}, {}, false}, seed++);
      Check({7, 19, depth, PNG_COLOR_TYPE_GRAY_ALPHA, interlace, {}, {}, false}, seed++);
    }
  }
}

TEST(ImageFormatsTest, PalettesWithAndWithoutTransparency) {
  std::mt19937 random(7);
  for (int depth : {1, 2, 4, 8}) {
    for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7}) {
      PngShape shape = {10, 12, depth, PNG_COLOR_TYPE_PALETTE, interlace, {}, {}, false};
      shape.palette.resize(1u << depth);
      for (png_color& c : shape.palette) c = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
      Check(shape, 100 + depth);
      // tRNS shorter than the palette: the remaining entries are opaque.
      shape.trnsAlpha.resize((shape.palette.size() + 1) / 2);
      for (uint8_t& a : shape.trnsAlpha) a = uint8_t(random());
      Check(shape, 200 + depth);
    }
  }
}

TEST(ImageFormatsTest, SixteenBitScalingAtEveryValue) {
  // A 256 x 256 grey image holding all 65536 sample values once.
  PngShape shape = {256, 256, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, {}, {}, false};
  std::vector<uint32_t> samples(65536);
  for (uint32_t i = 0; i < 65536; ++i) samples[i] = i;
  png_color_16 none = {};
  std::vector<uint8_t> bytes = WritePng(shape, samples, &none);
  Surface s;
  ASSERT_EQ(LoadEmbeddedImage(&s, bytes.data(), bytes.size()), 0);
  uint32_t bad = 0;
  for (uint32_t i = 0; i < 65536; ++i) {
    float t[4];
    Texel(&s, i % 256, i / 256, t);
    bad += !SameChannel(t[0], To8(i, 16));
  }
  EXPECT_EQ(bad, 0u);
  ReleaseSurface(&s);
}

TEST(ImageFormatsTest, WidestAllowedImageLoads) {
  PngShape shape = {16384, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, {}, {}, false};
  std::vector<uint32_t> samples(16384 * 3);
  for (uint32_t i = 0; i < samples.size(); ++i) samples[i] = i * 7 % 256;
  png_color_16 none = {};
  std::vector<uint8_t> bytes = WritePng(shape, samples, &none);
  Surface s;
  ASSERT_EQ(LoadEmbeddedImage(&s, bytes.data(), bytes.size()), 0);
  float t[4];
  Texel(&s, 16383, 0, t);
  EXPECT_TRUE(SameChannel(t[0], 16383 * 3 * 7 % 256));
  EXPECT_EQ(t[3], 1.0f);
  ReleaseSurface(&s);

  shape.width = 16385;
  samples.resize(16385 * 3, 0);
  bytes = WritePng(shape, samples, &none);
  FillPattern(&s);
  EXPECT_EQ(LoadEmbeddedImage(&s, bytes.data(), bytes.size()), 1);
  EXPECT_TRUE(IsPattern(&s));
}

} // namespace
