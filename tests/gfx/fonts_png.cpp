#include "tests/gfx/fonts_png.h"

#include <cstring>

namespace {

struct BitReader {
  const uint8_t* p;
  uint64_t size;
  uint64_t pos;
  uint32_t bitBuf;
  uint32_t bitCount;
  bool bOverrun;
};

uint32_t Bits(BitReader* r, uint32_t n)
{
  uint32_t v = r->bitBuf;
  while (r->bitCount < n) {
    if (r->pos >= r->size) {
      r->bOverrun = true;
      return 0;
    }
    v |= uint32_t(r->p[r->pos++]) << r->bitCount;
    r->bitCount += 8;
  }
  r->bitBuf = uint32_t(uint64_t(v) >> n);
  r->bitCount -= n;
  return v & ((1u << n) - 1u);
}

// Canonical Huffman decoding table: code counts per length and symbols in
// code order.
struct Huffman {
  uint16_t count[16];
  uint16_t symbol[320];
};

// 0 when the lengths form a valid (possibly incomplete) code.
int32_t BuildHuffman(Huffman* h, const uint16_t* pLengths, uint32_t n)
{
  memset(h->count, 0, sizeof h->count);
  for (uint32_t s = 0; s < n; ++s)
    h->count[pLengths[s]]++;
  if (h->count[0] == n)
    return 0;
  int32_t left = 1;
  for (uint32_t len = 1; len < 16; ++len) {
    left <<= 1;
    left -= h->count[len];
    if (left < 0)
      return 1;
  }
  uint16_t offs[16];
  offs[1] = 0;
  for (uint32_t len = 1; len < 15; ++len)
    offs[len + 1] = uint16_t(offs[len] + h->count[len]);
  for (uint32_t s = 0; s < n; ++s)
    if (pLengths[s] != 0)
      h->symbol[offs[pLengths[s]]++] = uint16_t(s);
  return 0;
}

int32_t DecodeSymbol(BitReader* r, const Huffman* h)
{
  int32_t code = 0, first = 0, index = 0;
  for (uint32_t len = 1; len < 16; ++len) {
    code |= int32_t(Bits(r, 1));
    if (r->bOverrun)
      return -1;
    int32_t count = h->count[len];
    if (code - count < first)
      return h->symbol[index + (code - first)];
    index += count;
    first += count;
    first <<= 1;
    code <<= 1;
  }
  return -1;
}

const uint16_t kLengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint16_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                6145, 8193, 12289, 16385, 24577};
const uint16_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

int32_t InflateCodes(BitReader* r, const Huffman* lit, const Huffman* dist, std::vector<uint8_t>* pOut)
{
  for (;;) {
    int32_t sym = DecodeSymbol(r, lit);
    if (sym < 0)
      return 1;
    if (sym < 256) {
      pOut->push_back(uint8_t(sym));
      continue;
    }
    if (sym == 256)
      return 0;
    sym -= 257;
    if (sym >= 29)
      return 1;
    uint32_t len = kLengthBase[sym] + Bits(r, kLengthExtra[sym]);
    int32_t d = DecodeSymbol(r, dist);
    if (d < 0 || d >= 30)
      return 1;
    uint32_t distance = kDistBase[d] + Bits(r, kDistExtra[d]);
    if (r->bOverrun || distance > pOut->size())
      return 1;
    uint64_t from = pOut->size() - distance;
    for (uint32_t i = 0; i < len; ++i)
      pOut->push_back((*pOut)[from + i]);
  }
}

int32_t InflateRaw(BitReader* r, std::vector<uint8_t>* pOut)
{
  uint32_t bLast;
  do {
    bLast = Bits(r, 1);
    uint32_t type = Bits(r, 2);
    if (r->bOverrun)
      return 1;
    if (type == 0) {
      r->bitBuf = 0;
      r->bitCount = 0;
      if (r->pos + 4 > r->size)
        return 1;
      uint32_t len = r->p[r->pos] | (uint32_t(r->p[r->pos + 1]) << 8);
      uint32_t nlen = r->p[r->pos + 2] | (uint32_t(r->p[r->pos + 3]) << 8);
      r->pos += 4;
      if (len != (~nlen & 0xFFFFu) || r->pos + len > r->size)
        return 1;
      pOut->insert(pOut->end(), r->p + r->pos, r->p + r->pos + len);
      r->pos += len;
    } else if (type == 1) {
      uint16_t lengths[288];
      for (uint32_t s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
      Huffman lit, dist;
      BuildHuffman(&lit, lengths, 288);
      for (uint32_t s = 0; s < 30; ++s)
        lengths[s] = 5;
      BuildHuffman(&dist, lengths, 30);
      if (InflateCodes(r, &lit, &dist, pOut))
        return 1;
    } else if (type == 2) {
      uint32_t nlen = Bits(r, 5) + 257, ndist = Bits(r, 5) + 1, ncode = Bits(r, 4) + 4;
      static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
      uint16_t lengths[320] = {};
      for (uint32_t i = 0; i < ncode; ++i)
        lengths[kOrder[i]] = uint16_t(Bits(r, 3));
      Huffman lencode, lit, dist;
      if (r->bOverrun || nlen > 286 || ndist > 30 || BuildHuffman(&lencode, lengths, 19))
        return 1;
      uint32_t index = 0;
      while (index < nlen + ndist) {
        int32_t sym = DecodeSymbol(r, &lencode);
        if (sym < 0)
          return 1;
        if (sym < 16) {
          lengths[index++] = uint16_t(sym);
          continue;
        }
        uint16_t value = 0;
        uint32_t repeat;
        if (sym == 16) {
          if (index == 0)
            return 1;
          value = lengths[index - 1];
          repeat = 3 + Bits(r, 2);
        } else if (sym == 17) {
          repeat = 3 + Bits(r, 3);
        } else {
          repeat = 11 + Bits(r, 7);
        }
        if (index + repeat > nlen + ndist)
          return 1;
        while (repeat--)
          lengths[index++] = value;
      }
      if (lengths[256] == 0 || BuildHuffman(&lit, lengths, nlen) || BuildHuffman(&dist, lengths + nlen, ndist))
        return 1;
      if (InflateCodes(r, &lit, &dist, pOut))
        return 1;
    } else {
      return 1;
    }
  } while (!bLast);
  return 0;
}

uint32_t Be32(const uint8_t* p)
{
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t Crc32(const uint8_t* p, uint64_t n)
{
  uint32_t crc = 0xFFFFFFFFu;
  for (uint64_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c)
{
  int32_t p = int32_t(a) + b - c;
  int32_t pa = p > a ? p - a : a - p;
  int32_t pb = p > b ? p - b : b - p;
  int32_t pc = p > c ? p - c : c - p;
  if (pa <= pb && pa <= pc)
    return a;
  return pb <= pc ? b : c;
}

}  // namespace

int32_t InflateZlib(const uint8_t* pData, uint64_t size, std::vector<uint8_t>* pOut)
{
  if (size < 6 || (pData[0] & 0x0F) != 8 || ((uint32_t(pData[0]) << 8) | pData[1]) % 31 != 0 || (pData[1] & 0x20))
    return 1;
  BitReader r = {pData, size - 4, 2, 0, 0, false};
  pOut->clear();
  if (InflateRaw(&r, pOut))
    return 1;
  uint32_t a = 1, b = 0;
  for (uint8_t byte : *pOut) {
    a = (a + byte) % 65521u;
    b = (b + a) % 65521u;
  }
  return ((b << 16) | a) == Be32(pData + size - 4) ? 0 : 1;
}

int32_t DecodeTestPng(const uint8_t* pData, uint64_t size, TestPng* pOut)
{
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (size < 8 || memcmp(pData, kSignature, 8) != 0)
    return 1;
  std::vector<uint8_t> idat;
  bool bHeader = false, bEnd = false;
  uint64_t pos = 8;
  while (!bEnd) {
    if (pos + 12 > size)
      return 1;
    uint32_t len = Be32(pData + pos);
    if (len > size - pos - 12)
      return 1;
    const uint8_t* pType = pData + pos + 4;
    const uint8_t* pBody = pType + 4;
    if (Crc32(pType, len + 4u) != Be32(pBody + len))
      return 1;
    if (memcmp(pType, "IHDR", 4) == 0) {
      if (bHeader || len != 13)
        return 1;
      bHeader = true;
      pOut->width = Be32(pBody);
      pOut->height = Be32(pBody + 4);
      pOut->bitDepth = pBody[8];
      pOut->colourType = pBody[9];
      pOut->interlace = pBody[12];
      if (pBody[10] != 0 || pBody[11] != 0)
        return 1;
    } else if (memcmp(pType, "IDAT", 4) == 0) {
      if (!bHeader)
        return 1;
      idat.insert(idat.end(), pBody, pBody + len);
    } else if (memcmp(pType, "IEND", 4) == 0) {
      bEnd = true;
    } else if (!(pType[0] & 0x20)) {
      return 1;  // unknown critical chunk
    }
    pos += 12u + len;
  }
  if (!bHeader || pos != size || pOut->bitDepth != 8 || pOut->colourType != 6 || pOut->interlace != 0)
    return 1;
  if (pOut->width == 0 || pOut->height == 0 || pOut->width > 16384 || pOut->height > 16384)
    return 1;
  std::vector<uint8_t> raw;
  if (InflateZlib(idat.data(), idat.size(), &raw))
    return 1;
  uint64_t stride = uint64_t(pOut->width) * 4;
  if (raw.size() != (stride + 1) * pOut->height)
    return 1;
  pOut->rgba.assign(stride * pOut->height, 0);
  for (uint32_t y = 0; y < pOut->height; ++y) {
    const uint8_t* pIn = raw.data() + y * (stride + 1);
    uint8_t* pRow = pOut->rgba.data() + y * stride;
    const uint8_t* pUp = y ? pRow - stride : nullptr;
    uint8_t filter = pIn[0];
    if (filter > 4)
      return 1;
    for (uint64_t i = 0; i < stride; ++i) {
      uint8_t a = i >= 4 ? pRow[i - 4] : 0;
      uint8_t b = pUp ? pUp[i] : 0;
      uint8_t c = pUp && i >= 4 ? pUp[i - 4] : 0;
      uint8_t pred = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? uint8_t((a + b) / 2) : Paeth(a, b, c);
      pRow[i] = uint8_t(pIn[1 + i] + pred);
    }
  }
  return 0;
}
