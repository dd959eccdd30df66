// End of a frame and of the stream: the commands that hand work back to the
// main thread (Present, Flush, the Finish fence, Quit), their recording and
// the waits on them (EndFrame, Finish, Quit). They use the ring only through
// AllocCommand and SubmitCommand (gfx/stream.cpp).
#include "gfx/gfx_internal.h"

namespace {

struct PresentCommand {
  GfxCommand header;
  Presenter* presenter;
  uint32_t mode;
  uint32_t pad;
};
static_assert(sizeof(PresentCommand) == 32);

GfxCommand* ExecutePresent(QvGfxContext* c, GfxCommand* command) {
  PresentCommand* k = reinterpret_cast<PresentCommand*>(command);
  OpenBinsForPendingClears(c);
  FlushDraws(c);
  if (k->presenter) {
    k->presenter->PresentFrame(k->presenter, k->mode);
    // The frame surface is gone; nothing may draw into it any more.
    for (uint32_t i = 0; i < kMaxColorTargets; i++) {
      if (c->targetPresenter[i] == k->presenter) {
        c->render.colorTargets[i] = nullptr;
        c->render.colorClearState[i] = kClearNone;
        c->targetPresenter[i] = nullptr;
      }
    }
  }
  CountFrameDone(c);
  return NextCommand(command);
}

GfxCommand* ExecuteFlush(QvGfxContext* c, GfxCommand* command) {
  OpenBinsForPendingClears(c);
  FlushDraws(c);
  return NextCommand(command);
}

GfxCommand* ExecuteSignalIdle(QvGfxContext* context, GfxCommand* command) {
  WaitCell* idle = &context->stream.idle;
  idle->value.store(0);
  WaitCellWake(idle);
  return NextCommand(command);
}

GfxCommand* ExecuteQuit(QvGfxContext*, GfxCommand*) { return nullptr; }

// A record that is only its header.
int32_t RecordBare(QvGfxContext* context, GfxExecuteFn execute) {
  GfxCommand* c = static_cast<GfxCommand*>(AllocCommand(context, sizeof(GfxCommand)));
  if (!c) return 1;
  c->size = sizeof(GfxCommand);
  c->execute = execute;
  SubmitCommand(context, sizeof(GfxCommand));
  return 0;
}

} // namespace

int32_t RecordPresent(QvGfxContext* c, Presenter* presenter, uint32_t mode) {
  PresentCommand* k = static_cast<PresentCommand*>(AllocCommand(c, sizeof(PresentCommand)));
  if (!k) return 1;
  k->header.size = CommandRecordSize(sizeof(PresentCommand));
  k->header.execute = ExecutePresent;
  k->presenter = presenter;
  k->mode = mode;
  k->pad = 0;
  SubmitCommand(c, sizeof(PresentCommand));
  return 0;
}

int32_t RecordFlush(QvGfxContext* c) { return RecordBare(c, ExecuteFlush); }

void Finish(QvGfxContext* context) {
  WaitCell* idle = &context->stream.idle;
  idle->value.exchange(1);
  RecordFlush(context);
  RecordBare(context, ExecuteSignalIdle);
  if (idle->value.load() != 0) WaitCellWaitZero(idle);
}

void EndFrame(QvGfxContext* context, Presenter* presenter, uint32_t mode) {
  CommandStream* s = &context->stream;
  RecordPresent(context, presenter, mode);
  s->framesSubmitted += 1;
  if (s->frameDone.value.load() != int32_t(s->framesSubmitted))
    WaitCellWaitEqualsPumping(&s->frameDone, int32_t(s->framesSubmitted), s->framePump);
}

void SetFramePump(QvGfxContext* context, void (*pump)(void)) { context->stream.framePump = pump; }

void CountFrameDone(QvGfxContext* context) {
  WaitCell* done = &context->stream.frameDone;
  done->value.fetch_add(1);
  WaitCellWake(done);
}

void Quit(QvGfxContext* context) {
  CommandStream* s = &context->stream;
  if (!s->renderThread) return;
  RecordBare(context, ExecuteQuit);
  JoinThread(s->renderThread);
  s->renderThread = nullptr;
}
