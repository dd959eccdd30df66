// The rasterizer's fixed sizes and capacities, each with the reason for it.
// Everything in raster/ that means one of these names it rather than
// repeating the number.
#pragma once

#include <cstdint>

// ---- Tiles and the screen ----------------------------------------------------
// A tile is 16x16 pixels: its 256 PixelRecords (200 KiB) fit a job thread's
// 1 MiB stack, and a tile row's coverage fits a 16-bit mask.
constexpr int32_t kTileSide = 16;
constexpr uint32_t kTileSideBits = 4; // log2(kTileSide)
constexpr uint32_t kTilePixels = 256; // kTileSide * kTileSide
// Morton code bits inside a tile: the tile number is a code >> kTileCodeBits.
constexpr uint32_t kTileCodeBits = 8;
constexpr uint32_t kTileCodeMask = kTilePixels - 1;
// Morton codes have 11 bits per axis: a viewport must lie inside this square.
constexpr int32_t kScreenSide = 2048;
constexpr uint32_t kScreenTilesPerRow = 128; // kScreenSide / kTileSide
constexpr uint32_t kTileCount = 16384;       // kScreenTilesPerRow squared
static_assert(kTileSide == 1 << kTileSideBits && kTilePixels == kTileSide * kTileSide, "tile shape");
static_assert(kTilePixels == 1u << kTileCodeBits, "a tile is a whole Morton block");
static_assert(kScreenTilesPerRow * kTileSide == kScreenSide && kTileCount == kScreenTilesPerRow * kScreenTilesPerRow,
              "screen of whole tiles");

// ---- Per-triangle and per-pixel capacities --------------------------------------
// Edge numbers are 4-bit nibbles of an EdgeList (0 ends it): at most 15.
constexpr uint32_t kMaxEdges = 15;
// Floats in each of a PixelRecord's three areas (interpolated, outputs,
// target): 256 bytes, what a stage layout can address.
constexpr uint32_t kRecordFloats = 64;
constexpr uint32_t kMaxAttributePlanes = kRecordFloats;
constexpr uint32_t kMaxLayoutEntries = 16;
constexpr uint32_t kMaxVertexStreams = 16;
constexpr uint32_t kMaxColorTargets = 16;
// Bytes of the largest element of any format (four floats): a clear value
// holds one.
constexpr uint32_t kMaxElementBytes = 16;

// ---- RasterArena ---------------------------------------------------------------
// One 256 MiB block, made once, carved into fixed regions by bump cursors.
// The arena itself is only 4-byte aligned: align region starts up to 8
// before placing records that hold pointers or 64-bit values.
constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kRasterArenaBytes = 256 * kMiB;
constexpr uint64_t kSnapshotRegionOffset = 0;
constexpr uint64_t kSnapshotRegionBytes = 64 * kMiB;
constexpr uint64_t kVertexJobOffset = 64 * kMiB;
constexpr uint32_t kVertexJobCapacity = 524288;
constexpr uint64_t kSetupJobOffset = 80 * kMiB;
constexpr uint32_t kSetupJobCapacity = 524288; // 32-byte records in 16 MiB
constexpr uint64_t kGeometryOffset = 96 * kMiB; // TriangleRecords grow up from here
constexpr uint64_t kGeometryEnd = 160 * kMiB;   // VertexSlots grow down from here
constexpr uint64_t kBinRegionOffset = 160 * kMiB;
constexpr uint64_t kBinRegionEnd = 256 * kMiB;

// Work per job: long enough that a job costs far more than its queue slot.
constexpr uint32_t kVertexRunLength = 256; // slots per VertexJob
constexpr uint32_t kSetupRunLength = 16;   // TriangleRecords per SetupJob
