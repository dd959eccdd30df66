// The graphics module's fixed sizes, each with the reason for it. The
// rasterizer's own (tiles, targets, the arena) are in raster/raster_limits.h.
#pragma once

#include <cstdint>

// ---- Command ring ------------------------------------------------------------
// 1 MiB holds several frames of debug text, so the main thread rarely waits
// for the render thread while it records.
constexpr uint64_t kCommandRingBytes = 1048576;
// Kept free before the end of the ring after every allocation so that a Wrap
// record always fits.
constexpr uint64_t kCommandReserve = 32;
// Inline data of copying commands starts this far into the record.
constexpr uint64_t kCommandInlineOffset = 40;
// Largest inline payload a copying command can carry.
constexpr uint64_t kMaxInlineBytes = kCommandRingBytes - kCommandReserve - kCommandInlineOffset;

// ---- Upload area -------------------------------------------------------------
// Each half holds what one flush's draws copy; the halves swap every flush.
constexpr uint64_t kUploadHalfBytes = 1048576;

// ---- Debug text --------------------------------------------------------------
constexpr uint32_t kTextBufferBytes = 16384; // PrintText keeps at most 16383 characters
// Quads recorded per batch: one vertex and index record of a few KiB each.
constexpr uint32_t kTextBatchQuads = 64;
