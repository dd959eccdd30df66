// Test hooks of gfx: the execute functions of the text printer's commands.
#include "gfx/gfx_testing.h"
#include "gfx/text.h"

int32_t LearnTextCommandKinds(QvGfxContext* c, GfxExecuteFn kinds[kTextCommandKindCount]) {
  CommandStream* s = &c->stream;
  if (InitCommandRing(s) != 0) return 1;
  VertexElement e = {};
  RecordBindVertexStage(c, &FontVs);
  RecordBindFragmentStage(c, &FontFs);
  RecordSetVertexConstants(c, &e, 4, 4);
  RecordSetFragmentConstants(c, &e, 4, 4);
  RecordSetVertexStream(c, 0, &e, 4);
  RecordSetVertexElement(c, 0, &e);
  RecordSetIndexData(c, IndexFormat::Index32, &e, 4);
  RecordSetTopology(c, Topology::TriangleList);
  RecordDrawIndexed(c, 0);
  RecordFlush(c);
  GfxCommand* record = reinterpret_cast<GfxCommand*>(s->ringBase);
  for (int32_t i = 0; i < kTextCommandKindCount; ++i) {
    kinds[i] = record->execute;
    record = NextCommand(record);
  }
  ResetCommandRing(s);
  return 0;
}
