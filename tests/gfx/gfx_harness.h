// Context set-up shared by the graphics tests.
#pragma once

#include <cstdlib>
#include <cstring>

#include "gfx/gfx.h"

// A created context, optionally with its command stream and render thread.
inline QvGfxContext* NewTestContext(uint32_t processors, bool withStream) {
  QvGfxContext* c = static_cast<QvGfxContext*>(calloc(1, sizeof(QvGfxContext)));
  if (!c) return nullptr;
  if (CreateContext(c, processors) != 0) {
    free(c);
    return nullptr;
  }
  if (withStream && CreateCommandStream(c) != 0) {
    DestroyContext(c);
    free(c);
    return nullptr;
  }
  return c;
}

inline void DeleteTestContext(QvGfxContext* c) {
  if (!c) return;
  if (c->stream.renderThread) {
    Finish(c);
    Quit(c);
  }
  DestroyCommandStream(c);
  DestroyContext(c);
  free(c);
}
