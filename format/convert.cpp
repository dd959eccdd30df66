// Converter set-up and the three strategies: plain copy for equal layouts,
// a direct routine from the pair table, or the generic path through floats.
#include <cstring>

#include "format/format.h"
#include "format/format_testing.h"

namespace {

constexpr uint32_t kBatch = 16;

template <uint32_t N>
void CopyOne(const Converter*, void* dst, const void* src) {
  std::memcpy(dst, src, N);
}

void CopyOneAny(const Converter* converter, void* dst, const void* src) {
  std::memcpy(dst, src, converter->dstElementSize);
}

void CopyMany(const Converter* converter, void* dst, const void* src, uint32_t count) {
  if (count == 0) {
    return; // the pointers may be null then
  }
  std::memmove(dst, src, (size_t)converter->dstElementSize * count);
}

void DirectOne(const Converter* converter, void* dst, const void* src) { converter->directOne(dst, src); }

void DirectMany(const Converter* converter, void* dst, const void* src, uint32_t count) {
  converter->directMany(dst, src, count);
}

void GenericOne(const Converter* converter, void* dst, const void* src) {
  float channels[4];
  converter->srcUnpack(src, channels);
  converter->dstPack(dst, channels);
}

void GenericMany(const Converter* converter, void* dst, const void* src, uint32_t count) {
  float channels[kBatch * 4];
  uint8_t* d = (uint8_t*)dst;
  const uint8_t* s = (const uint8_t*)src;
  uint32_t dstStep = converter->dstElementSize * kBatch;
  uint32_t srcStep = converter->srcElementSize * kBatch;
  for (uint32_t left = count; left >= kBatch; left -= kBatch) {
    converter->srcUnpackN(s, channels, kBatch);
    converter->dstPackN(d, channels, kBatch);
    d += dstStep;
    s += srcStep;
  }
  uint32_t tail = count & (kBatch - 1);
  if (tail != 0) {
    converter->srcUnpackN(s, channels, tail);
    converter->dstPackN(d, channels, tail);
  }
}

// Channel counts differ: missing channels (alpha included) become 0.0,
// extra source channels are ignored.
void MixedOne(const Converter* converter, void* dst, const void* src) {
  float channels[4];
  converter->srcUnpack(src, channels);
  for (uint32_t c = converter->srcReadChannels; c < converter->dstComponentCount; ++c) {
    channels[c] = 0.0f;
  }
  converter->dstPack(dst, channels);
}

void MixedMany(const Converter* converter, void* dst, const void* src, uint32_t count) {
  uint8_t* d = (uint8_t*)dst;
  const uint8_t* s = (const uint8_t*)src;
  for (uint32_t i = 0; i < count; ++i) {
    MixedOne(converter, d, s);
    d += converter->dstElementSize;
    s += converter->srcElementSize;
  }
}

void NothingOne(const Converter*, void*, const void*) {}
void NothingMany(const Converter*, void*, const void*, uint32_t) {}

// Fills the record with the format descriptions; 1 when either side has no
// operations (Undefined or outside the catalogue), leaving routines that
// write nothing.
int32_t InitDescriptions(Converter* converter, int32_t dstFormat, int32_t srcFormat) {
  std::memset(converter, 0, sizeof *converter);
  const FormatInfo* dst = formatInfo(dstFormat);
  const FormatInfo* src = formatInfo(srcFormat);
  converter->convertOne = NothingOne;
  converter->convertMany = NothingMany;
  if (dst->ops.pack == nullptr || src->ops.unpack == nullptr) {
    return 1;
  }
  converter->dstFormat = dstFormat;
  converter->dstElementSize = dst->elementSize;
  converter->dstComponentCount = dst->componentCount;
  converter->srcFormat = srcFormat;
  converter->srcElementSize = src->elementSize;
  converter->srcReadChannels = src->readChannels;
  return 0;
}

void SetGeneric(Converter* converter) {
  const FormatInfo* dst = formatInfo(converter->dstFormat);
  const FormatInfo* src = formatInfo(converter->srcFormat);
  converter->dstPack = dst->ops.pack;
  converter->dstPackN = dst->ops.packN;
  converter->srcUnpack = src->ops.unpack;
  converter->srcUnpackN = src->ops.unpackN;
  if (converter->srcReadChannels == converter->dstComponentCount) {
    converter->convertOne = GenericOne;
    converter->convertMany = GenericMany;
  } else {
    converter->convertOne = MixedOne;
    converter->convertMany = MixedMany;
  }
}

// Binary search over the 76 live entries; the terminator is never a match.
const DirectPair* FindDirectPair(uint32_t key) {
  uint32_t count = 0;
  const DirectPair* table = DirectPairTable(&count);
  uint32_t low = 0;
  uint32_t high = count;
  while (low < high) {
    uint32_t middle = (low + high) / 2;
    if (table[middle].key == key) {
      return &table[middle];
    }
    if (table[middle].key < key) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return nullptr;
}

constexpr ConvertOneFn kCopyOneBySize[17] = {
    CopyOneAny, CopyOne<1>, CopyOne<2>, CopyOne<3>,  CopyOne<4>,  CopyOneAny, CopyOne<6>, CopyOneAny, CopyOne<8>,
    CopyOneAny, CopyOneAny, CopyOneAny, CopyOne<12>, CopyOneAny, CopyOneAny, CopyOneAny, CopyOne<16>,
};

} // namespace

int32_t initConverter(Converter* converter, int32_t dstFormat, int32_t srcFormat) {
  if (InitDescriptions(converter, dstFormat, srcFormat) != 0) {
    return 1;
  }
  const FormatInfo* dst = formatInfo(dstFormat);
  const FormatInfo* src = formatInfo(srcFormat);
  if (dst->layoutClass == src->layoutClass) {
    converter->convertOne = dst->elementSize <= 16 ? kCopyOneBySize[dst->elementSize] : CopyOneAny;
    converter->convertMany = CopyMany;
    return 0;
  }
  const DirectPair* pair = FindDirectPair((uint32_t)dstFormat * kFormatCount + (uint32_t)srcFormat);
  if (pair != nullptr) {
    converter->directOne = pair->directOne;
    converter->directMany = pair->directMany;
    converter->convertOne = DirectOne;
    converter->convertMany = DirectMany;
    return 0;
  }
  SetGeneric(converter);
  return 0;
}

int32_t initConverterGeneric(Converter* converter, int32_t dstFormat, int32_t srcFormat) {
  if (InitDescriptions(converter, dstFormat, srcFormat) != 0) {
    return 1;
  }
  SetGeneric(converter);
  return 0;
}
