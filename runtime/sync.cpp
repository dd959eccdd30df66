// Semaphores and wait cells: lock-free fast paths, a critical section and a
// condition variable only for sleeping and for waking registered sleepers.
// Every word is a seq_cst atomic: a releaser's add-then-read-waiters and a
// sleeper's register-then-read-count cannot both miss each other.
#include <cassert>

#include "runtime/runtime.h"
#include "runtime/spin.h"

static void SyncHeadInit(SyncHead* head) {
  StopwatchInit(&head->stopwatch);
  OsInitCriticalSection(&head->lock);
  OsInitConditionVariable(&head->condition);
#ifndef NDEBUG
  head->waking.store(0);
#endif
}

// The destroy contract (runtime.h) in builds without NDEBUG: no releaser or
// waker may be inside its call, and no sleeper registered.
#ifndef NDEBUG
struct WakeScope {
  SyncHead* head;
  explicit WakeScope(SyncHead* h) : head(h) { head->waking.fetch_add(1); }
  ~WakeScope() { head->waking.fetch_sub(1); }
};
#define QV_WAKE_SCOPE(head) WakeScope wakeScope(head)
#else
#define QV_WAKE_SCOPE(head) ((void)0)
#endif

static void SyncHeadDestroy(SyncHead* head, int32_t waiters) {
  assert(waiters == 0 && "destroyed with a sleeper");
  assert(head->waking.load() == 0 && "destroyed while a Release or WaitCellWake runs on it");
  (void)waiters;
  // Anyone still leaving the critical section is out once we get in.
  OsEnterCriticalSection(&head->lock);
  OsLeaveCriticalSection(&head->lock);
  OsDeleteCriticalSection(&head->lock);
  OsDestroyConditionVariable(&head->condition);
}

template <typename Semaphore, typename Count>
static int32_t SemaphoreTryAcquire(Semaphore* s, Count n) {
  Count c = s->count.load();
  while (c >= n) {
    if (s->count.compare_exchange_weak(c, c - n)) return 0;
  }
  return 1;
}

// A wait that ends within a few microseconds (the next command of a frame,
// the end of a short frame) is cheaper to poll for than to sleep through:
// waking a sleeper costs tens of microseconds on both sides.
static constexpr uint32_t kPollsBeforeSleep = 300;

template <typename Semaphore, typename Count>
static void SemaphoreAcquire(Semaphore* s, Count n) {
  // Backing off yields to any thread that wants the processor, so a poller
  // never holds up the work it waits for on a busy machine.
  for (uint32_t i = 0, spins = 0; i < kPollsBeforeSleep; i++) {
    if (SemaphoreTryAcquire(s, n) == 0) return;
    SpinBackOff(&spins);
  }
  OsEnterCriticalSection(&s->head.lock);
  s->waiters.fetch_add(1);
  Count c = s->count.load();
  for (;;) {
    while (c < n) {
      OsSleepConditionVariable(&s->head.condition, &s->head.lock);
      c = s->count.load();
    }
    if (s->count.compare_exchange_strong(c, c - n)) break;
  }
  s->waiters.fetch_sub(1);
  OsLeaveCriticalSection(&s->head.lock);
}

template <typename Semaphore, typename Count>
static void SemaphoreRelease(Semaphore* s, Count n) {
  QV_WAKE_SCOPE(&s->head);
  s->count.fetch_add(n);
  if (s->waiters.load() != 0) {
    OsEnterCriticalSection(&s->head.lock);
    OsWakeAllConditionVariable(&s->head.condition);
    OsLeaveCriticalSection(&s->head.lock);
  }
}

void Semaphore32Init(Semaphore32* s, uint32_t initial) {
  SyncHeadInit(&s->head);
  s->waiters.exchange(0);
  s->count.exchange(initial);
}
void Semaphore32Acquire(Semaphore32* s, uint32_t n) { SemaphoreAcquire(s, n); }
int32_t Semaphore32TryAcquire(Semaphore32* s, uint32_t n) { return SemaphoreTryAcquire(s, n); }
void Semaphore32Release(Semaphore32* s, uint32_t n) { SemaphoreRelease(s, n); }
void Semaphore32Destroy(Semaphore32* s) { SyncHeadDestroy(&s->head, s->waiters.load()); }

void Semaphore64Init(Semaphore64* s, uint64_t initial) {
  SyncHeadInit(&s->head);
  s->waiters.exchange(0);
  s->count.exchange(initial);
}
void Semaphore64Acquire(Semaphore64* s, uint64_t n) { SemaphoreAcquire(s, n); }
void Semaphore64Release(Semaphore64* s, uint64_t n) { SemaphoreRelease(s, n); }
void Semaphore64Destroy(Semaphore64* s) { SyncHeadDestroy(&s->head, s->waiters.load()); }

void WaitCellInit(WaitCell* c, int32_t value) {
  SyncHeadInit(&c->head);
  c->waiters.exchange(0);
  c->value.exchange(value);
}

void WaitCellWake(WaitCell* c) {
  QV_WAKE_SCOPE(&c->head);
  if (c->waiters.load() != 0) {
    OsEnterCriticalSection(&c->head.lock);
    OsWakeAllConditionVariable(&c->head.condition);
    OsLeaveCriticalSection(&c->head.lock);
  }
}

typedef bool (*CellPredicate)(int32_t value, int32_t operand);

static bool CellEquals(int32_t value, int32_t operand) { return value == operand; }
static bool CellZero(int32_t value, int32_t) { return value == 0; }
static bool CellNonZero(int32_t value, int32_t) { return value != 0; }

static void WaitCellWait(WaitCell* c, CellPredicate holds, int32_t operand) {
  for (uint32_t i = 0, spins = 0; i < kPollsBeforeSleep; i++) {
    if (holds(c->value.load(), operand)) return;
    SpinBackOff(&spins);
  }
  OsEnterCriticalSection(&c->head.lock);
  c->waiters.fetch_add(1);
  while (!holds(c->value.load(), operand)) OsSleepConditionVariable(&c->head.condition, &c->head.lock);
  c->waiters.fetch_sub(1);
  OsLeaveCriticalSection(&c->head.lock);
}

void WaitCellWaitEquals(WaitCell* c, int32_t value) { WaitCellWait(c, CellEquals, value); }

void WaitCellWaitEqualsPumping(WaitCell* c, int32_t value, void (*pump)(void)) {
  if (pump == nullptr) {
    WaitCellWait(c, CellEquals, value);
    return;
  }
  while (c->value.load() != value) {
    OsEnterCriticalSection(&c->head.lock);
    c->waiters.fetch_add(1);
    if (c->value.load() != value) OsSleepConditionVariableFor(&c->head.condition, &c->head.lock, 1);
    c->waiters.fetch_sub(1);
    OsLeaveCriticalSection(&c->head.lock);
    if (c->value.load() != value) pump();
  }
}
void WaitCellWaitZero(WaitCell* c) { WaitCellWait(c, CellZero, 0); }
void WaitCellWaitNonZero(WaitCell* c) { WaitCellWait(c, CellNonZero, 0); }
void WaitCellDestroy(WaitCell* c) { SyncHeadDestroy(&c->head, c->waiters.load()); }
