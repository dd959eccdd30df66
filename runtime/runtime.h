// Runtime services: global allocation, log, clock, waiting primitives,
// threads and the job queue. Everything above this module is portable;
// the operating-system calls live in runtime/os_*.cpp behind runtime/os.h.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "runtime/os.h"

// MinGW's printf family is the C99 one (libstdc++ turns on
// __USE_MINGW_ANSI_STDIO), so format checking must follow GNU rules there.
#if defined(_WIN32)
#define QV_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define QV_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// ---- Global allocation routine -------------------------------------------
// Every heap block of the program goes through here, under one process-wide
// lock. n bytes take n + 12 from the C heap; the returned address is
// (raw + 11) rounded down to 4 and the raw pointer sits in the 8 bytes before.
void MemInitialize();          // creates the lock; first thing in AppMain
void MemFinalize();            // deletes it; last thing
void* MemAlloc(uint64_t size); // null when the heap refuses
void MemFree(void* p);         // null is ignored

// ---- Log and console -------------------------------------------------------
typedef int64_t (*LogSink)(const char* message);

int64_t LogPrintf(const char* format, ...) QV_PRINTF(1, 2);
int64_t LogPrintfV(const char* format, va_list args);
int64_t ConsoleSink(const char* message);
int64_t FileSink(const char* message);
// Formats at most size - 1 characters, always terminates, returns the length.
int32_t FormatBounded(char* buffer, uint64_t size, const char* format, ...) QV_PRINTF(3, 4);
// Start-up step: push the log directory, delete the old file, chain FileSink.
void LogInstallFileSink();
// Composes base + directory + name into path (512 bytes); empty when too long.
void LogComposePath(char* path);
// The same for another file beside the log file (the results record).
void LogComposeSiblingPath(char* path, const char* name);

// Test hooks: the base directory the log file goes to (with its trailing
// separator), a way back to the console-only state a fresh process has, and
// a swap of the current sink (returns the old one).
void LogSetDirectoryForTest(const char* directory);
void LogResetForTest();
LogSink LogExchangeSinkForTest(LogSink sink);

// ---- Clock and stopwatch ---------------------------------------------------
struct Stopwatch {
  int32_t useCounter; // non-zero selects the performance counter
  uint64_t start;     // microseconds
};

uint64_t NowMicroseconds(int32_t useCounter);
void RaiseTimerResolution();
void StopwatchInit(Stopwatch* stopwatch);
uint64_t StopwatchElapsed(const Stopwatch* stopwatch);

// ---- Synchronisation primitives -------------------------------------------
// Values live in atomic words changed lock-free on the fast path; the lock
// and condition variable are used only to sleep and to wake a registered
// waiter.
struct SyncHead {
  Stopwatch stopwatch;
  OsCriticalSection lock;
  OsConditionVariable condition;
#ifndef NDEBUG
  std::atomic<int32_t> waking; // releasers and wakers inside their call (checked by Destroy)
#endif
};

struct Semaphore32 {
  SyncHead head;
  std::atomic<int32_t> waiters;
  std::atomic<uint32_t> count;
};

struct Semaphore64 {
  SyncHead head;
  std::atomic<int32_t> waiters;
  std::atomic<uint64_t> count;
};

struct WaitCell {
  SyncHead head;
  std::atomic<int32_t> value;
  std::atomic<int32_t> waiters;
};

void Semaphore32Init(Semaphore32* s, uint32_t initial);
void Semaphore32Acquire(Semaphore32* s, uint32_t n);
// 0 when n were taken at once, 1 (taking nothing) when fewer are there.
int32_t Semaphore32TryAcquire(Semaphore32* s, uint32_t n);
void Semaphore32Release(Semaphore32* s, uint32_t n);
void Semaphore32Destroy(Semaphore32* s);

void Semaphore64Init(Semaphore64* s, uint64_t initial);
void Semaphore64Acquire(Semaphore64* s, uint64_t n);
void Semaphore64Release(Semaphore64* s, uint64_t n);
void Semaphore64Destroy(Semaphore64* s);

// A WaitCell has no operations of its own: users change the value atomically,
// then call WaitCellWake; waiters use one of the three predicates.
//
// Destroying (Semaphore32Destroy, Semaphore64Destroy, WaitCellDestroy): only
// once no thread can still be in a Release or WaitCellWake on the object,
// and none sleeps on it. A waiter that saw its value (or count) while
// polling knows the change is made, not that the thread which made it has
// returned from the wake that follows it: that thread must be known to be
// done first (joined, or past a later hand-off), as every caller does today.
// Builds without NDEBUG check it.
void WaitCellInit(WaitCell* c, int32_t value);
void WaitCellWake(WaitCell* c);
void WaitCellWaitEquals(WaitCell* c, int32_t value);
void WaitCellWaitZero(WaitCell* c);
void WaitCellWaitNonZero(WaitCell* c);
// WaitCellWaitEquals that calls pump (if not null) about every millisecond
// while it waits: a thread that owns a window must keep answering messages
// sent to it by the thread it waits for.
void WaitCellWaitEqualsPumping(WaitCell* c, int32_t value, void (*pump)(void));
void WaitCellDestroy(WaitCell* c);

// ---- Threads and job queue -------------------------------------------------
typedef int64_t (*ThreadEntry)(void* argument);

struct Thread {
  OsThreadHandle handle;
  ThreadEntry entry;
  void* argument;
  uint64_t result;
  WaitCell startGate;
};

// Stack size given to every thread: tile jobs keep 256 pixel records on it.
constexpr uint32_t kThreadStackBytes = 1u << 20;

int32_t StartThread(Thread** out, ThreadEntry entry, void* argument, const char* name);
void JoinThread(Thread* thread);
uint32_t ProcessorCount();
void YieldThread(); // SleepEx(0) on Windows, sched_yield elsewhere

typedef void (*JobFunction)(void* user, uint32_t index, uint32_t count);

struct Job {
  JobFunction function;
  void* user;
  uint32_t index;
  uint32_t count;
};
static_assert(sizeof(Job) == 24, "job slot is 24 bytes");

struct JobQueue;

struct JobWorker {
  Thread* thread;
  JobQueue* queue;
  char name[16];
};
static_assert(sizeof(JobWorker) == 32, "worker record is 32 bytes");

struct JobQueue {
  OsCriticalSection waitLock;
  std::atomic<uint32_t> submitLock;
  Semaphore32 jobsAvailable;
  Semaphore32 freeSlots;
  JobWorker* workers;
  uint32_t workerCount;
  Job* ring;
  uint32_t capacity;
  uint32_t quarter;
  std::atomic<uint32_t> readTicket;
  std::atomic<uint32_t> readsDone;
  std::atomic<uint32_t> completed;
  std::atomic<uint32_t> writeIndex;
  std::atomic<uint32_t> submitted;
  uint32_t lastWaited;
  uint32_t mask;
  // A linked queue whose jobs this queue's idle workers also take while they
  // poll (LinkJobQueues), and how many of them are looking at it right now.
  std::atomic<JobQueue*> partner;
  std::atomic<uint32_t> visiting;
};

void CreateJobQueue(JobQueue* queue, uint32_t capacityHint, uint32_t threadCount);
void SubmitJobs(JobQueue* queue, uint32_t count, JobFunction function, void* user);
void WaitJobs(JobQueue* queue);
void DestroyJobQueue(JobQueue* queue);
int64_t JobConsumerMain(void* workerRecord);
// Lets each queue's idle workers run the other's jobs: two queues whose
// bursts follow each other then keep one set of threads busy, not two sets
// taking turns at the processors. Unlink both before destroying either.
void LinkJobQueues(JobQueue* a, JobQueue* b);
void UnlinkJobQueues(JobQueue* a, JobQueue* b);
