// The PNG chunk walk in front of the Windows decoder; portable so that it
// can be fuzzed anywhere.
#include <cstring>

#include "gfx/image_decode.h"

namespace {

uint32_t ReadBigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint32_t ChunkCrc(const uint32_t* table, const uint8_t* p, uint64_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint64_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

int32_t IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

// Each chunk is read only once it is known to lie within the file: its length
// and type need the 12 bytes of a chunk's frame, its body and CRC need the
// length it states. The header must be the first chunk and at least 13 bytes
// long before its colour type (byte 9) is read; a header anywhere else
// refuses the file, as libpng does.
extern "C" uint32_t CheckPngChunks(const uint8_t* data, uint64_t size) {
  uint32_t table[256];
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    table[n] = c;
  }
  uint64_t position = 8;
  uint32_t channels = 0;
  while (position <= size && size - position >= 12) {
    uint64_t length = ReadBigEndian32(data + position);
    const uint8_t* type = data + position + 4;
    const uint8_t* body = type + 4;
    if (length > 0x7FFFFFFFu || length > size - position - 12) return 0;
    if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3])) return 0;
    int32_t critical = (type[0] & 0x20) == 0;
    if (critical && ChunkCrc(table, type, length + 4) != ReadBigEndian32(body + length)) return 0;
    int32_t header = memcmp(type, "IHDR", 4) == 0;
    if (header != (position == 8)) return 0; // the header first, and only there
    if (header) {
      if (length < 13) return 0;
      uint8_t colourType = body[9];
      channels = (colourType == 4 || colourType == 6) ? 4 : 3;
    } else if (memcmp(type, "tRNS", 4) == 0) {
      channels = 4;
    } else if (memcmp(type, "IEND", 4) == 0) {
      return channels;
    } else if (critical && memcmp(type, "PLTE", 4) != 0 && memcmp(type, "IDAT", 4) != 0) {
      return 0;
    }
    position += 12 + length;
  }
  return 0;
}
