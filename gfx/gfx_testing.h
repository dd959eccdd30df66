// Test hooks of gfx: for consumers of the command ring other than the render
// thread (the tests' capture, the printer's fuzz target).
#pragma once

#include "gfx/gfx_internal.h"

// The kinds LearnTextCommandKinds records, in this order.
enum TextCommandKind : int32_t {
  kTextBindVertexStage,
  kTextBindFragmentStage,
  kTextSetVertexConstants,
  kTextSetFragmentConstants,
  kTextSetVertexStream,
  kTextSetVertexElement,
  kTextSetIndexData,
  kTextSetTopology,
  kTextDrawIndexed,
  kTextFlush,
  kTextCommandKindCount,
};

// Sets up the ring of a context without a render thread, records one command
// of each kind the text printer uses, notes each one's execute function in
// kinds[TextCommandKind] and empties the ring again. 1 when memory runs out.
int32_t LearnTextCommandKinds(QvGfxContext* context, GfxExecuteFn kinds[kTextCommandKindCount]);
