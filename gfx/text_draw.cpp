// The printer: UTF-8 decoding, quads batched per font image (at most 64 a
// batch) and the records that draw one batch.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "gfx/gfx.h"
#include "gfx/text.h"

namespace {

struct TextVertex {
  float position[4];
  float texture[4];
};
static_assert(sizeof(TextVertex) == 32, "text vertex is 32 bytes");

constexpr uint32_t kVerticesPerQuad = 4;
constexpr uint32_t kIndicesPerQuad = 6;

// Built on the stack; travels inside the command records.
struct TextBatch {
  Surface* image;
  uint32_t quads;
  TextVertex vertices[kTextBatchQuads * kVerticesPerQuad];
  uint32_t indices[kTextBatchQuads * kIndicesPerQuad];
};

void RecordBatch(QvGfxContext* context, TextBatch* batch, const Sampler* sampler, const float* colour) {
  if (batch->quads == 0) return;
  FontFsConstants constants;
  constants.texture = batch->image;
  constants.sampler = sampler;
  memcpy(constants.colour, colour, sizeof(constants.colour));
  static_assert(sizeof(constants) == 32, "font constants are 32 bytes");
  RecordSetFragmentConstants(context, &constants, sizeof(constants), 8);
  RecordSetVertexStream(context, 0, batch->vertices, sizeof(TextVertex) * kVerticesPerQuad * batch->quads);
  const VertexElement position = {0, 0, sizeof(TextVertex), AttributeType::AttrFloat32, 4};
  const VertexElement texture = {0, 16, sizeof(TextVertex), AttributeType::AttrFloat32, 4};
  RecordSetVertexElement(context, 0, &position);
  RecordSetVertexElement(context, 1, &texture);
  RecordSetIndexData(context, IndexFormat::Index32, batch->indices, sizeof(uint32_t) * kIndicesPerQuad * batch->quads);
  RecordSetTopology(context, Topology::TriangleList);
  RecordDrawIndexed(context, kIndicesPerQuad * batch->quads);
  batch->quads = 0;
}

void AppendQuad(TextBatch* batch, const Glyph* glyph, float x, float y, const float* position) {
  float left = x + glyph->offsetX, top = y + glyph->offsetY;
  float right = left + glyph->advance, bottom = top + glyph->height;
  const float corners[4][2] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
  uint32_t k = batch->quads * kVerticesPerQuad;
  for (uint32_t i = 0; i < kVerticesPerQuad; ++i) {
    TextVertex* v = &batch->vertices[k + i];
    v->position[0] = corners[i][0];
    v->position[1] = corners[i][1];
    v->position[2] = position[2];
    v->position[3] = position[3];
    memcpy(v->texture, glyph->corners[i], sizeof(v->texture));
  }
  uint32_t* index = &batch->indices[batch->quads * kIndicesPerQuad];
  index[0] = k;
  index[1] = k + 2;
  index[2] = k + 1;
  index[3] = k + 1;
  index[4] = k + 2;
  index[5] = k + 3;
  batch->quads += 1;
}

} // namespace

int32_t DrawText(QvGfxContext* context, const Font* font, const Sampler* sampler, const float* vertexConstants,
                 const float position[4], const float colour[4], const char* text) {
  RecordBindVertexStage(context, &FontVs);
  RecordBindFragmentStage(context, &FontFs);
  RecordSetVertexConstants(context, vertexConstants, 16 * sizeof(float), 4);

  float x = position[0], y = position[1];
  TextBatch batch;
  batch.image = nullptr;
  batch.quads = 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text ? text : "");
  for (;;) {
    uint32_t c = *p++;
    if (c >= 0x80) {
      uint32_t following;
      if ((c & 0xE0) == 0xC0) {
        following = 1;
        c &= 0x1F;
      } else if ((c & 0xF0) == 0xE0) {
        following = 2;
        c &= 0x0F;
      } else if ((c & 0xF8) == 0xF0) {
        following = 3;
        c &= 0x07;
      } else {
        return 1;
      }
      for (uint32_t i = 0; i < following; ++i) {
        uint32_t b = *p++;
        if (b == 0) return 1;
        c = c << 6 | (b & 0x3F);
      }
    }
    if (c == 0) {
      RecordBatch(context, &batch, sampler, colour);
      return 0;
    }
    if (c == 13) continue;
    if (c == 10) {
      y += font->lineAdvance;
      x = position[0];
      continue;
    }
    uint32_t entries = font->table ? (font->entryCount < kGlyphTableEntries ? font->entryCount : kGlyphTableEntries) : 0;
    const Glyph* glyph = c < entries ? font->table->glyphs[c] : nullptr;
    if (!glyph && kQuestionMark < entries) glyph = font->table->glyphs[kQuestionMark];
    if (!glyph) continue; // no font loaded at all
    if (batch.image && glyph->image != batch.image) RecordBatch(context, &batch, sampler, colour);
    batch.image = glyph->image;
    AppendQuad(&batch, glyph, x, y, position);
    x += glyph->advance;
    if (batch.quads == kTextBatchQuads) RecordBatch(context, &batch, sampler, colour);
  }
}

int32_t PrintText(QvGfxContext* context, const float position[4], const float colour[4], const char* format, ...) {
  char text[kTextBufferBytes];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (n < 0) text[0] = 0;
  return DrawText(context, TextFont(), TextSampler(), TextVertexConstants(), position, colour, text);
}
