// A small, strict PNG reader for the font tests: checks every chunk's CRC
// and the zlib checksum, inflates and unfilters 8-bit RGBA images. It shares
// no code with the program's own loader, so it can judge the embedded bytes.
#pragma once

#include <cstdint>
#include <vector>

struct TestPng {
  uint32_t width;
  uint32_t height;
  uint8_t bitDepth;
  uint8_t colourType;
  uint8_t interlace;
  std::vector<uint8_t> rgba;  // width * height * 4, rows top to bottom
};

// 0 on success; 1 for anything malformed or not 8-bit RGBA non-interlaced.
int32_t DecodeTestPng(const uint8_t* pData, uint64_t size, TestPng* pOut);

// Raw zlib stream to bytes; 0 on success, 1 on a malformed stream.
int32_t InflateZlib(const uint8_t* pData, uint64_t size, std::vector<uint8_t>* pOut);
