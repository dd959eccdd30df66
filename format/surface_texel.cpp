// The five texel functions, in linear and Morton layout. ES is the element
// size in bytes, or 0 for the version that takes it from the surface (3, 6
// and 12 byte elements). Every element access goes through memcpy with a
// constant size where possible, so the compiler emits plain moves and
// storage need not be aligned.
#include <cstring>

#include "format/format.h"
#include "format/surface_internal.h"

// Morton order: x bits at even positions, y bits at odd ones.
uint32_t MortonCode(uint32_t x, uint32_t y) {
  return SpreadBits16(x) | (SpreadBits16(y) << 1);
}

namespace {

template <uint32_t ES>
inline uint32_t ElementSize(const Surface* s) {
  if constexpr (ES != 0) return ES;
  else return s->elementSize;
}

template <uint32_t ES>
inline void CopyElement(void* dst, const void* src, uint32_t es) {
  if constexpr (ES != 0) memcpy(dst, src, ES);
  else memcpy(dst, src, es);
}

// A long span of a pattern that repeats every 8 bytes goes out through the
// string store, which writes whole cache lines and runs about twice as fast
// as a loop of 16-byte stores; anything else is stored 16 bytes at a time.
inline void FillSpan(uint8_t* p, const uint8_t pattern[16], uint64_t bytes) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (bytes >= 256 && (bytes & 7) == 0 && memcmp(pattern, pattern + 8, 8) == 0) {
    uint64_t value, words = bytes / 8;
    memcpy(&value, pattern, 8);
    asm volatile("rep stosq" : "+D"(p), "+c"(words) : "a"(value) : "memory");
    return;
  }
#endif
  for (uint64_t i = 0; i < bytes; i += 16) memcpy(p + i, pattern, 16);
}

template <uint32_t ES>
inline void FillElements(uint8_t* p, const void* element, uint64_t count, uint32_t es) {
  if constexpr (ES == 1) {
    memset(p, *static_cast<const uint8_t*>(element), count);
  } else if constexpr (ES == 4 || ES == 8 || ES == 16) {
    // Clears fill whole tiles of frame memory: 16-byte stores of a
    // repeated pattern, then the elements left over. Plain stores: a
    // streaming store would need a fence after every tile's fill, and those
    // fences cost several times the fill itself.
    uint8_t pattern[16];
    for (uint32_t i = 0; i < 16; i += ES) memcpy(pattern + i, element, ES);
    const uint64_t bytes = count * ES, whole = bytes & ~uint64_t(15);
    FillSpan(p, pattern, whole);
    for (uint64_t i = whole; i < bytes; i += ES) memcpy(p + i, pattern, ES);
  } else {
    for (uint64_t i = 0; i < count; ++i) CopyElement<ES>(p + i * (ES ? ES : es), element, es);
  }
}

// ---- Linear rows ---------------------------------------------------------

template <uint32_t ES>
inline uint8_t* LinearAddress(const Surface* s, uint32_t level, uint32_t x, uint32_t y) {
  const SurfaceLevel& l = s->levels[level];
  return l.start + static_cast<uint64_t>(x) * ElementSize<ES>(s) + static_cast<uint64_t>(y) * l.pitch;
}

template <uint32_t ES>
void LinearFill(Surface* s, uint32_t level, const Region* r, const void* element) {
  uint32_t es = ElementSize<ES>(s);
  if (r->width == 0) return;
  if constexpr (ES == 4 || ES == 8 || ES == 16) {
    // The pattern is made once; a clear of a tile is sixteen short rows of
    // a few 16-byte stores each.
    uint8_t pattern[16];
    for (uint32_t i = 0; i < 16; i += ES) memcpy(pattern + i, element, ES);
    const uint64_t bytes = static_cast<uint64_t>(r->width) * ES, pitch = s->levels[level].pitch;
    uint8_t* row = LinearAddress<ES>(s, level, r->x, r->y);
    if (pitch == bytes || r->height == 1) {
      // Whole rows one after the other: one span.
      const uint64_t all = bytes * r->height, whole = all & ~uint64_t(15);
      FillSpan(row, pattern, whole);
      for (uint64_t i = whole; i < all; i += ES) memcpy(row + i, pattern, ES);
      return;
    }
    if (bytes == 64) {
      // A tile row of 4-byte elements: four stores, no loop.
      for (uint32_t j = 0; j < r->height; ++j, row += pitch) {
        memcpy(row, pattern, 16);
        memcpy(row + 16, pattern, 16);
        memcpy(row + 32, pattern, 16);
        memcpy(row + 48, pattern, 16);
      }
      return;
    }
    const uint64_t whole = bytes & ~uint64_t(15);
    for (uint32_t j = 0; j < r->height; ++j, row += pitch) {
      FillSpan(row, pattern, whole);
      for (uint64_t i = whole; i < bytes; i += ES) memcpy(row + i, pattern, ES);
    }
  } else {
    for (uint32_t j = 0; j < r->height; ++j)
      FillElements<ES>(LinearAddress<ES>(s, level, r->x, r->y + j), element, r->width, es);
  }
}

template <uint32_t ES>
void LinearLoad(const Surface* s, uint32_t level, uint32_t x, uint32_t y, void* dst) {
  CopyElement<ES>(dst, LinearAddress<ES>(s, level, x, y), ElementSize<ES>(s));
}

template <uint32_t ES>
void LinearStore(Surface* s, uint32_t level, uint32_t x, uint32_t y, const void* src) {
  CopyElement<ES>(LinearAddress<ES>(s, level, x, y), src, ElementSize<ES>(s));
}

template <uint32_t ES>
void LinearRead(const Surface* s, uint32_t level, const Region* r, void* buffer) {
  uint64_t rowBytes = static_cast<uint64_t>(r->width) * ElementSize<ES>(s);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (rowBytes == 0) return;
  for (uint32_t j = 0; j < r->height; ++j, out += rowBytes)
    memcpy(out, LinearAddress<ES>(s, level, r->x, r->y + j), rowBytes);
}

template <uint32_t ES>
void LinearWrite(Surface* s, uint32_t level, const Region* r, const void* buffer) {
  uint64_t rowBytes = static_cast<uint64_t>(r->width) * ElementSize<ES>(s);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  if (rowBytes == 0) return;
  for (uint32_t j = 0; j < r->height; ++j, in += rowBytes)
    memcpy(LinearAddress<ES>(s, level, r->x, r->y + j), in, rowBytes);
}

// ---- Morton order ----------------------------------------------------------

template <uint32_t ES>
inline uint8_t* MortonAddress(const Surface* s, uint32_t level, uint32_t xCode, uint32_t yCode) {
  return s->levels[level].start + static_cast<uint64_t>(xCode | yCode) * ElementSize<ES>(s);
}

template <uint32_t ES>
void MortonFill(Surface* s, uint32_t level, const Region* r, const void* element) {
  uint32_t es = ElementSize<ES>(s);
  if (r->width == 0 || r->height == 0) return;
  const SurfaceLevel& l = s->levels[level];
  uint64_t levelBytes = static_cast<uint64_t>(l.end - l.start);
  if (r->x == 0 && r->y == 0 &&
      (static_cast<uint64_t>(MortonCode(r->width - 1, r->height - 1)) + 1) * es >= levelBytes) {
    // The region covers every code up to the level's end: one linear fill.
    if (es) FillElements<ES>(l.start, element, levelBytes / es, es);
    return;
  }
  uint32_t x0 = SpreadBits16(r->x);
  uint32_t yCode = SpreadBits16(r->y) << 1;
  for (uint32_t j = 0; j < r->height; ++j, yCode = MortonStepY(yCode)) {
    uint32_t xCode = x0;
    for (uint32_t i = 0; i < r->width; ++i, xCode = MortonStepX(xCode))
      CopyElement<ES>(MortonAddress<ES>(s, level, xCode, yCode), element, es);
  }
}

template <uint32_t ES>
void MortonLoad(const Surface* s, uint32_t level, uint32_t x, uint32_t y, void* dst) {
  CopyElement<ES>(dst, MortonAddress<ES>(s, level, SpreadBits16(x), SpreadBits16(y) << 1), ElementSize<ES>(s));
}

template <uint32_t ES>
void MortonStore(Surface* s, uint32_t level, uint32_t x, uint32_t y, const void* src) {
  CopyElement<ES>(MortonAddress<ES>(s, level, SpreadBits16(x), SpreadBits16(y) << 1), src, ElementSize<ES>(s));
}

template <uint32_t ES>
void MortonRead(const Surface* s, uint32_t level, const Region* r, void* buffer) {
  uint32_t es = ElementSize<ES>(s);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t x0 = SpreadBits16(r->x);
  uint32_t yCode = SpreadBits16(r->y) << 1;
  for (uint32_t j = 0; j < r->height; ++j, yCode = MortonStepY(yCode)) {
    uint32_t xCode = x0;
    for (uint32_t i = 0; i < r->width; ++i, xCode = MortonStepX(xCode), out += es)
      CopyElement<ES>(out, MortonAddress<ES>(s, level, xCode, yCode), es);
  }
}

template <uint32_t ES>
void MortonWrite(Surface* s, uint32_t level, const Region* r, const void* buffer) {
  uint32_t es = ElementSize<ES>(s);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint32_t x0 = SpreadBits16(r->x);
  uint32_t yCode = SpreadBits16(r->y) << 1;
  for (uint32_t j = 0; j < r->height; ++j, yCode = MortonStepY(yCode)) {
    uint32_t xCode = x0;
    for (uint32_t i = 0; i < r->width; ++i, xCode = MortonStepX(xCode), in += es)
      CopyElement<ES>(MortonAddress<ES>(s, level, xCode, yCode), in, es);
  }
}

struct TexelFunctions {
  FillRegionFn fill;
  LoadElementFn load;
  StoreElementFn store;
  ReadRegionFn read;
  WriteRegionFn write;
};

template <uint32_t ES>
constexpr TexelFunctions kLinear = {LinearFill<ES>, LinearLoad<ES>, LinearStore<ES>, LinearRead<ES>, LinearWrite<ES>};
template <uint32_t ES>
constexpr TexelFunctions kMorton = {MortonFill<ES>, MortonLoad<ES>, MortonStore<ES>, MortonRead<ES>, MortonWrite<ES>};

// Rows: 1, 2, 4, 8, 16 byte elements, then every other size.
const TexelFunctions kTexelFunctions[2][6] = {
    {kLinear<1>, kLinear<2>, kLinear<4>, kLinear<8>, kLinear<16>, kLinear<0>},
    {kMorton<1>, kMorton<2>, kMorton<4>, kMorton<8>, kMorton<16>, kMorton<0>},
};

} // namespace

void SelectTexelFunctions(Surface* surface) {
  uint32_t column;
  switch (surface->elementSize) {
    case 1: column = 0; break;
    case 2: column = 1; break;
    case 4: column = 2; break;
    case 8: column = 3; break;
    case 16: column = 4; break;
    default: column = 5; break;
  }
  const TexelFunctions& f = kTexelFunctions[surface->layout == kLayoutLinear ? 0 : 1][column];
  surface->FillRegion = f.fill;
  surface->LoadElement = f.load;
  surface->StoreElement = f.store;
  surface->ReadRegion = f.read;
  surface->WriteRegion = f.write;
}
