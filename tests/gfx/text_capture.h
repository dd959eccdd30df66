// A command stream whose consumer only writes the records down: the text
// tests see exactly what the printer recorded, field by field, decoded from
// the record layouts (header, naturally aligned payload, inline data at 40).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "gfx/gfx.h"
#include "gfx/gfx_testing.h"

// Records are told apart by their execute function, in TextCommandKind order.

struct Captured {
  int32_t kind;
  const void* pointer; // stage descriptor
  uint64_t alignment;  // constants
  uint32_t word;       // stream slot, element index, topology, index count
  int32_t indexFormat;
  VertexElement element;
  std::vector<uint8_t> data; // inline data
};

struct CaptureState {
  GfxExecuteFn kinds[kTextCommandKindCount];
  std::vector<Captured> log;
};
inline CaptureState g_capture;

template <typename T>
T FieldAt(const GfxCommand* c, uint32_t offset) {
  T v;
  memcpy(&v, reinterpret_cast<const uint8_t*>(c) + offset, sizeof(T));
  return v;
}

inline void CaptureOne(GfxCommand* c, int32_t kind) {
  Captured k = {};
  k.kind = kind;
  const uint8_t* base = reinterpret_cast<const uint8_t*>(c);
  switch (kind) {
    case kTextBindVertexStage:
    case kTextBindFragmentStage: k.pointer = FieldAt<const void*>(c, 16); break;
    case kTextSetVertexConstants:
    case kTextSetFragmentConstants: {
      const uint8_t* source = FieldAt<const uint8_t*>(c, 16);
      uint64_t size = FieldAt<uint64_t>(c, 24);
      k.alignment = FieldAt<uint64_t>(c, 32);
      EXPECT_EQ(source, base + 40);
      k.data.assign(source, source + size);
      break;
    }
    case kTextSetVertexStream:
    case kTextSetIndexData: {
      if (kind == kTextSetVertexStream) k.word = FieldAt<uint32_t>(c, 16);
      else k.indexFormat = FieldAt<int32_t>(c, 16);
      const uint8_t* source = FieldAt<const uint8_t*>(c, 24);
      uint64_t size = FieldAt<uint64_t>(c, 32);
      EXPECT_EQ(source, base + 40);
      k.data.assign(source, source + size);
      break;
    }
    case kTextSetVertexElement:
      k.word = FieldAt<uint32_t>(c, 16);
      k.element = FieldAt<VertexElement>(c, 20);
      break;
    case kTextSetTopology:
    case kTextDrawIndexed: k.word = FieldAt<uint32_t>(c, 16); break;
    default: break;
  }
  g_capture.log.push_back(k);
}

inline int64_t CaptureMain(void* argument) {
  QvGfxContext* context = static_cast<QvGfxContext*>(argument);
  CommandStream* s = &context->stream;
  GfxCommand* record = reinterpret_cast<GfxCommand*>(s->ringBase);
  for (;;) {
    Semaphore64Acquire(&s->readable, sizeof(GfxCommand));
    uint64_t size = record->size;
    Semaphore64Acquire(&s->readable, size - sizeof(GfxCommand));
    int32_t kind = kTextCommandKindCount;
    for (int32_t i = 0; i < kTextCommandKindCount; ++i)
      if (record->execute == g_capture.kinds[i]) kind = i;
    GfxCommand* next;
    if (kind < kTextCommandKindCount) {
      CaptureOne(record, kind);
      next = NextCommand(record);
    } else {
      next = record->execute(context, record); // wrap, idle signal, quit
    }
    if (!next) return 0;
    Semaphore64Release(&s->writable, size);
    record = next;
  }
}

// A context that holds only a command stream with the capturing consumer.
inline QvGfxContext* NewCaptureContext() {
  QvGfxContext* c = static_cast<QvGfxContext*>(calloc(1, sizeof(QvGfxContext)));
  CommandStream* s = &c->stream;
  EXPECT_EQ(LearnTextCommandKinds(c, g_capture.kinds), 0);
  g_capture.log.clear();
  StartThread(&s->renderThread, CaptureMain, c, "capture");
  return c;
}

// Everything recorded so far, without the flushes Finish adds.
inline std::vector<Captured> TakeCaptured(QvGfxContext* c) {
  Finish(c);
  std::vector<Captured> out;
  for (Captured& k : g_capture.log)
    if (k.kind != kTextFlush) out.push_back(std::move(k));
  g_capture.log.clear();
  return out;
}

inline void DeleteCaptureContext(QvGfxContext* c) {
  Quit(c);
  DestroyCommandStream(c);
  free(c);
}
