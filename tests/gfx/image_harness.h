// PNG byte surgery for the loader tests: chunk walking, splicing and CRCs,
// written from the file format's rules (no decoder involved).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "format/format.h"

inline uint32_t TestCrc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

inline void PutBigEndian32(std::vector<uint8_t>* out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(uint8_t(v >> s));
}

inline uint32_t GetBigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// A complete chunk: length, type, data, CRC over type and data.
inline std::vector<uint8_t> MakeChunk(const char type[4], const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  out.reserve(12 + data.size());
  PutBigEndian32(&out, uint32_t(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBigEndian32(&out, TestCrc32(out.data() + 4, data.size() + 4));
  return out;
}

struct ChunkSpan {
  size_t offset; // of the length field
  uint32_t length;
  char type[5];
};

inline std::vector<ChunkSpan> ListChunks(const std::vector<uint8_t>& png) {
  std::vector<ChunkSpan> chunks;
  size_t p = 8;
  while (p + 12 <= png.size()) {
    ChunkSpan c;
    c.offset = p;
    c.length = GetBigEndian32(&png[p]);
    memcpy(c.type, &png[p + 4], 4);
    c.type[4] = 0;
    chunks.push_back(c);
    p += 12 + size_t(c.length);
  }
  return chunks;
}

// The bytes of png with extra inserted right after the IHDR chunk.
inline std::vector<uint8_t> InsertAfterHeader(const std::vector<uint8_t>& png, const std::vector<uint8_t>& extra) {
  // Copied with memcpy: GCC 12 at -O3 reports false overflows in the
  // equivalent vector inserts.
  const size_t at = 8 + 12 + 13;
  std::vector<uint8_t> out(png.size() + extra.size());
  memcpy(out.data(), png.data(), at);
  if (!extra.empty()) memcpy(out.data() + at, extra.data(), extra.size());
  memcpy(out.data() + at + extra.size(), png.data() + at, png.size() - at);
  return out;
}

// Signature, an IHDR of the given size (8-bit RGBA), one tiny IDAT, IEND.
inline std::vector<uint8_t> HeaderOnlyPng(uint32_t width, uint32_t height) {
  std::vector<uint8_t> png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  PutBigEndian32(&ihdr, width);
  PutBigEndian32(&ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  std::vector<uint8_t> a = MakeChunk("IHDR", ihdr);
  std::vector<uint8_t> b = MakeChunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  std::vector<uint8_t> c = MakeChunk("IEND", {});
  png.insert(png.end(), a.begin(), a.end());
  png.insert(png.end(), b.begin(), b.end());
  png.insert(png.end(), c.begin(), c.end());
  return png;
}

// A surface record filled with a byte pattern, to see that a failed load
// leaves it untouched.
inline void FillPattern(Surface* s) { memset(s, 0xA5, sizeof(*s)); }
inline bool IsPattern(const Surface* s) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
  for (size_t i = 0; i < sizeof(*s); ++i)
    if (p[i] != 0xA5) return false;
  return true;
}

inline void Texel(const Surface* s, uint32_t x, uint32_t y, float out[4]) { s->LoadElement(s, 0, x, y, out); }

// A channel loaded from an 8-bit sample: byte / 255 up to the last bit of
// the float.
inline bool SameChannel(float loaded, uint32_t byte) { return std::fabs(loaded * 255.0f - float(byte)) < 1e-3f; }
