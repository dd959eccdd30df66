// The loader against the embedded font images (decoded independently by the
// font tests' own reader) and against damaged or oversized files. Runs on
// every platform.
#include <gtest/gtest.h>

#include "gfx/fonts/font_images.h"
#include "gfx/image.h"
#include "gfx/image_decode.h"
#include "tests/gfx/fonts_png.h"
#include "tests/gfx/image_harness.h"

namespace {

std::vector<uint8_t> SmallFontBytes() { return std::vector<uint8_t>(s_aSmallFontPng, s_aSmallFontPng + s_aSmallFontPngSize); }

void ExpectFails(const std::vector<uint8_t>& bytes, const char* what) {
  Surface s;
  FillPattern(&s);
  EXPECT_EQ(LoadEmbeddedImage(&s, bytes.data(), bytes.size()), 1) << what;
  EXPECT_TRUE(IsPattern(&s)) << what;
}

void ExpectMatchesReference(const unsigned char* png, uint32_t size, uint32_t width, uint32_t height) {
  TestPng reference;
  ASSERT_EQ(DecodeTestPng(png, size, &reference), 0);
  Surface s;
  ASSERT_EQ(LoadEmbeddedImage(&s, png, size), 0);
  EXPECT_EQ(s.format, Fp32RGBA);
  EXPECT_EQ(s.levelCount, 1u);
  ASSERT_EQ(s.levels[0].width, width);
  ASSERT_EQ(s.levels[0].height, height);
  uint64_t mismatches = 0;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      float t[4];
      Texel(&s, x, y, t);
      const uint8_t* r = &reference.rgba[(uint64_t(y) * width + x) * 4];
      for (int c = 0; c < 4; ++c) mismatches += !SameChannel(t[c], r[c]);
    }
  }
  EXPECT_EQ(mismatches, 0u);
  ReleaseSurface(&s);
}

TEST(ImageTest, FontImagesLoadTexelForTexel) {
  ExpectMatchesReference(s_aSmallFontPng, s_aSmallFontPngSize, 128, 128);
  ExpectMatchesReference(s_aLargeFontPng, s_aLargeFontPngSize, 1024, 2048);
}

TEST(ImageTest, NotAPngLeavesTheSurfaceAlone) {
  ExpectFails({}, "empty");
  ExpectFails({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A}, "seven signature bytes");
  std::vector<uint8_t> bytes = SmallFontBytes();
  bytes[1] = 'Q';
  ExpectFails(bytes, "damaged signature");
  ExpectFails(std::vector<uint8_t>(64, 0), "zeros");
  Surface s;
  FillPattern(&s);
  EXPECT_EQ(LoadEmbeddedImage(&s, nullptr, 100), 1);
  EXPECT_TRUE(IsPattern(&s));
}

TEST(ImageTest, EveryTruncationFails) {
  std::vector<uint8_t> bytes = SmallFontBytes();
  for (size_t n = 8; n < bytes.size(); n += (n < 64 || n + 64 > bytes.size()) ? 1 : 37)
    ExpectFails(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n), "truncated");
}

TEST(ImageTest, DamagedCriticalChunksFail) {
  std::vector<uint8_t> bytes = SmallFontBytes();
  for (const ChunkSpan& c : ListChunks(bytes)) {
    if (c.type[0] & 0x20) continue; // ancillary chunks may be skipped
    std::vector<uint8_t> crc = bytes;
    crc[c.offset + 8 + c.length] ^= 0x01;
    ExpectFails(crc, c.type);
    if (c.length) {
      std::vector<uint8_t> body = bytes;
      body[c.offset + 8 + c.length / 2] ^= 0x40;
      ExpectFails(body, c.type);
    }
  }
}

TEST(ImageTest, GarbageChunksFail) {
  std::vector<uint8_t> bytes = SmallFontBytes();
  const char badName[4] = {'a', '\x01', '~', 'Z'};
  ExpectFails(InsertAfterHeader(bytes, MakeChunk(badName, {1, 2, 3})), "invalid chunk name");
  ExpectFails(InsertAfterHeader(bytes, MakeChunk("QVXX", {1, 2, 3})), "unknown critical chunk");
  std::vector<uint8_t> huge = MakeChunk("qvXx", {});
  huge[0] = 0x90; // a length past the end of the data
  ExpectFails(InsertAfterHeader(bytes, huge), "chunk longer than the file");
  // An unknown ancillary chunk is skipped.
  std::vector<uint8_t> extra = InsertAfterHeader(bytes, MakeChunk("qvXx", {1, 2, 3}));
  Surface s;
  ASSERT_EQ(LoadEmbeddedImage(&s, extra.data(), extra.size()), 0);
  ReleaseSurface(&s);
}

TEST(ImageTest, OversizedHeadersFailBeforeDecoding) {
  ExpectFails(HeaderOnlyPng(16385, 1), "16385 wide");
  ExpectFails(HeaderOnlyPng(1, 16385), "16385 high");
  ExpectFails(HeaderOnlyPng(16384, 16384), "4 GiB surface");
  ExpectFails(HeaderOnlyPng(0x7FFFFFFF, 0x7FFFFFFF), "largest legal header");
  ExpectFails(HeaderOnlyPng(0, 5), "zero wide");
  // Within the limits the header passes and the broken data stream fails.
  ExpectFails(HeaderOnlyPng(4, 4), "no image data");
}

TEST(ImageTest, SizeLimitBoundaries) {
  EXPECT_EQ(ImageSizeAllowed(16384, 1), 0);
  EXPECT_EQ(ImageSizeAllowed(1, 16384), 0);
  EXPECT_EQ(ImageSizeAllowed(16385, 1), 1);
  EXPECT_EQ(ImageSizeAllowed(4096, 4096), 0);  // exactly 256 MiB of Fp32RGBA
  EXPECT_EQ(ImageSizeAllowed(4096, 4097), 1);
  EXPECT_EQ(ImageSizeAllowed(16384, 1024), 0);
  EXPECT_EQ(ImageSizeAllowed(16384, 1025), 1);
  EXPECT_EQ(ImageSizeAllowed(0, 1), 1);
  EXPECT_EQ(ImageSizeAllowed(0xFFFFFFFFu, 0xFFFFFFFFu), 1);
}

} // namespace
