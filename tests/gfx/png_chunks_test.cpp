// The PNG chunk walker in front of the Windows decoder, on files built here
// with a bitwise CRC-32: the header's colour type decides the channels, and
// only the first chunk may be a header. The buffers sit against a guard
// page, so a read past their end faults.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/image_decode.h"
#include "tests/format/guarded_memory.h"

namespace {

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

void Chunk(std::vector<uint8_t>* out, const char* type, std::vector<uint8_t> body) {
  Put32(out, uint32_t(body.size()));
  size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), body.begin(), body.end());
  Put32(out, Crc32(out->data() + start, out->size() - start));
}

// Signature and a 1x1 8-bit header of the given colour type.
std::vector<uint8_t> Start(uint8_t colourType) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Chunk(&png, "IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, colourType, 0, 0, 0});
  return png;
}

uint32_t Walk(const std::vector<uint8_t>& png) {
  GuardedBlock block;
  if (GuardedAlloc(&block, png.size(), 1) != 0) return 0xDEAD;
  memcpy(block.data, png.data(), png.size());
  uint32_t channels = CheckPngChunks(block.data, png.size());
  GuardedFree(&block);
  return channels;
}

TEST(PngChunks, OnlyTheFirstChunkMayBeAHeader) {
  std::vector<uint8_t> rgb = Start(2);
  Chunk(&rgb, "IEND", {});
  EXPECT_EQ(Walk(rgb), 3u);
  std::vector<uint8_t> rgba = Start(6);
  Chunk(&rgba, "IEND", {});
  EXPECT_EQ(Walk(rgba), 4u);

  // A second, complete header must not replace the first's colour type.
  std::vector<uint8_t> twice = Start(2);
  Chunk(&twice, "IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 6, 0, 0, 0});
  Chunk(&twice, "IEND", {});
  EXPECT_EQ(Walk(twice), 0u);

  // A second, empty header as the last bytes of the file: its colour type
  // would lie past the end.
  std::vector<uint8_t> shortLast = Start(2);
  Chunk(&shortLast, "IHDR", {});
  EXPECT_EQ(Walk(shortLast), 0u);
}

} // namespace
