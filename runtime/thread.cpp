// Threads with a start gate, so the new thread runs only once its creator
// has stored the handle.
#include "runtime/runtime.h"

static uint32_t ThreadTrampoline(void* argument) {
  Thread* thread = static_cast<Thread*>(argument);
  WaitCellWaitNonZero(&thread->startGate);
  thread->result = static_cast<uint64_t>(thread->entry(thread->argument));
  return 0;
}

int32_t StartThread(Thread** out, ThreadEntry entry, void* argument, const char* name) {
  *out = nullptr;
  Thread* thread = static_cast<Thread*>(MemAlloc(sizeof(Thread)));
  if (!thread) return 1;
  thread->handle = nullptr;
  thread->entry = entry;
  thread->argument = argument;
  thread->result = 0;
  WaitCellInit(&thread->startGate, 0);
  thread->handle = OsStartThread(ThreadTrampoline, thread, kThreadStackBytes);
  if (!thread->handle) {
    WaitCellDestroy(&thread->startGate);
    MemFree(thread);
    return 1;
  }
  thread->startGate.value.exchange(1);
  WaitCellWake(&thread->startGate);
  *out = thread;
  OsSetThreadPriorityNormal(thread->handle);
  if (name) OsSetThreadName(thread->handle, name);
  return 0;
}

void JoinThread(Thread* thread) {
  if (!thread) return;
  OsJoinThread(thread->handle);
  WaitCellDestroy(&thread->startGate);
  MemFree(thread);
}

uint32_t ProcessorCount() { return OsProcessorCount(); }

void YieldThread() { OsYield(); }
