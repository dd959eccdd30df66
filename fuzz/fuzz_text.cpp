// The printer on arbitrary bytes. A consumer thread takes the records off the
// ring without running the draws; the indices drawn must match a second,
// plain reading of the UTF-8 rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gfx/gfx.h"
#include "gfx/gfx_testing.h"
#include "gfx/text.h"

namespace {

constexpr size_t kMaxInput = 2048; // keeps one call's records well inside the ring

QvGfxContext s_context;
GfxExecuteFn s_drawExecute;
GfxExecuteFn s_skipped[kTextCommandKindCount];
uint64_t s_indicesDrawn; // consumer thread; read after Finish

int64_t ConsumeMain(void* argument) {
  QvGfxContext* c = static_cast<QvGfxContext*>(argument);
  CommandStream* s = &c->stream;
  GfxCommand* record = reinterpret_cast<GfxCommand*>(s->ringBase);
  for (;;) {
    Semaphore64Acquire(&s->readable, sizeof(GfxCommand));
    uint64_t size = record->size;
    Semaphore64Acquire(&s->readable, size - sizeof(GfxCommand));
    bool skip = false;
    for (GfxExecuteFn f : s_skipped) skip = skip || record->execute == f;
    GfxCommand* next;
    if (skip) {
      if (record->execute == s_drawExecute) {
        uint32_t count;
        memcpy(&count, reinterpret_cast<uint8_t*>(record) + 16, 4);
        if (count == 0 || count > 6 * kTextBatchQuads || count % 6) abort();
        s_indicesDrawn += count;
      }
      next = NextCommand(record);
    } else {
      next = record->execute(c, record); // wrap and idle signal
    }
    if (!next) return 0;
    Semaphore64Release(&s->writable, size);
    record = next;
  }
}

// Glyph quads the text draws, or -1 when it is not valid UTF-8.
int64_t CountGlyphs(const uint8_t* p) {
  int64_t glyphs = 0;
  for (;;) {
    uint32_t c = *p++;
    int extra = c < 0x80 ? 0 : c >= 0xC0 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF8 ? 3 : -1;
    if (extra < 0) return -1;
    c = extra == 0 ? c : extra == 1 ? c - 0xC0 : extra == 2 ? c - 0xE0 : c - 0xF0;
    for (int i = 0; i < extra; ++i) {
      if (*p == 0) return -1;
      c = c * 64 + (*p++ % 64);
    }
    if (c == 0) return glyphs;
    if (c != 10 && c != 13) glyphs++;
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeText(nullptr);
  CommandStream* s = &s_context.stream;
  // Learn the execute functions of the kinds the printer records.
  if (LearnTextCommandKinds(&s_context, s_skipped) != 0) abort();
  s_drawExecute = s_skipped[kTextDrawIndexed];
  if (StartThread(&s->renderThread, ConsumeMain, &s_context, "consumer") != 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char text[kMaxInput + 1];
  if (size > kMaxInput) size = kMaxInput;
  memcpy(text, data, size);
  text[size] = 0;
  s_indicesDrawn = 0;
  const float position[4] = {3.0f, 5.0f, 0.0f, 1.0f}, colour[4] = {1, 1, 1, 1};
  int32_t result = PrintText(&s_context, position, colour, "%s", text);
  Finish(&s_context);
  int64_t glyphs = CountGlyphs(reinterpret_cast<const uint8_t*>(text));
  if (result != (glyphs < 0 ? 1 : 0)) abort();
  if (glyphs >= 0 && s_indicesDrawn != uint64_t(glyphs) * 6) abort();
  return 0;
}
