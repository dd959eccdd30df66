// Shared by the context and the command execute functions.
#pragma once

#include "gfx/gfx.h"

// The command ring and its counters without a consumer: the first half of
// CreateCommandStream. 1 (nothing allocated) when memory runs out.
int32_t InitCommandRing(CommandStream* s);
// Forgets records nobody consumed: the write position back at the ring's
// base, the counters as new. Only while no consumer runs.
void ResetCommandRing(CommandStream* s);

// Opens the bins when a deferred clear waits, so that the next flush runs a
// tile pass even without triangles.
void OpenBinsForPendingClears(QvGfxContext* context);
// Copies size bytes into the current upload half (flushing once when the
// half is full) and binds them.
void UploadCopy(QvGfxContext* context, Binding* binding, const void* source, uint64_t size, uint64_t alignment);
