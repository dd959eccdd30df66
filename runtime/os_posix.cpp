// Operating-system calls on POSIX systems: pthreads and CLOCK_MONOTONIC.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "runtime/os.h"
#include "runtime/runtime.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(OsCriticalSection), "mutex fits");
static_assert(alignof(pthread_mutex_t) <= alignof(OsCriticalSection), "mutex alignment");
static_assert(sizeof(pthread_cond_t) <= sizeof(OsConditionVariable), "condition fits");
static_assert(alignof(pthread_cond_t) <= alignof(OsConditionVariable), "condition alignment");

static pthread_mutex_t* AsMutex(OsCriticalSection* cs) {
  return reinterpret_cast<pthread_mutex_t*>(cs->storage);
}
static pthread_cond_t* AsCondition(OsConditionVariable* cv) {
  return reinterpret_cast<pthread_cond_t*>(cv->storage);
}

// Recursive like a Windows critical section, so both builds behave alike.
void OsInitCriticalSection(OsCriticalSection* cs) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(AsMutex(cs), &attributes);
  pthread_mutexattr_destroy(&attributes);
}
void OsEnterCriticalSection(OsCriticalSection* cs) { pthread_mutex_lock(AsMutex(cs)); }
void OsLeaveCriticalSection(OsCriticalSection* cs) { pthread_mutex_unlock(AsMutex(cs)); }
void OsDeleteCriticalSection(OsCriticalSection* cs) { pthread_mutex_destroy(AsMutex(cs)); }

void OsInitConditionVariable(OsConditionVariable* cv) { pthread_cond_init(AsCondition(cv), nullptr); }
void OsSleepConditionVariable(OsConditionVariable* cv, OsCriticalSection* cs) {
  pthread_cond_wait(AsCondition(cv), AsMutex(cs));
}
void OsSleepConditionVariableFor(OsConditionVariable* cv, OsCriticalSection* cs, uint32_t milliseconds) {
  struct timespec until;
  clock_gettime(CLOCK_REALTIME, &until);
  uint64_t ns = uint64_t(until.tv_nsec) + uint64_t(milliseconds) * 1000000u;
  until.tv_sec += time_t(ns / 1000000000u);
  until.tv_nsec = long(ns % 1000000000u);
  pthread_cond_timedwait(AsCondition(cv), AsMutex(cs), &until);
}
void OsWakeAllConditionVariable(OsConditionVariable* cv) { pthread_cond_broadcast(AsCondition(cv)); }
void OsDestroyConditionVariable(OsConditionVariable* cv) { pthread_cond_destroy(AsCondition(cv)); }

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
static constexpr size_t kSanitizerStackHeadroom = 4u << 20;
#endif

// The handle is this record: pthread_create wants a different routine type.
struct PosixThread {
  pthread_t thread;
  uint32_t (*routine)(void*);
  void* argument;
};

static void* PosixThreadMain(void* record) {
  PosixThread* t = static_cast<PosixThread*>(record);
  t->routine(t->argument);
  return nullptr;
}

OsThreadHandle OsStartThread(uint32_t (*routine)(void*), void* argument, uint32_t stackBytes) {
  // The OS layer sits below the allocation routine (whose lock it provides):
  // a thread's record comes from the C library.
  PosixThread* t = static_cast<PosixThread*>(calloc(1, sizeof(PosixThread)));
  if (!t) return nullptr;
  t->routine = routine;
  t->argument = argument;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  size_t stack = stackBytes;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // glibc carves static TLS out of the thread's stack, and ThreadSanitizer's
  // per-thread state alone takes about 770 KiB of it.
  stack += kSanitizerStackHeadroom;
#endif
  if (stack < static_cast<size_t>(PTHREAD_STACK_MIN)) stack = PTHREAD_STACK_MIN;
  pthread_attr_setstacksize(&attributes, stack);
  int error = pthread_create(&t->thread, &attributes, PosixThreadMain, t);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    free(t);
    return nullptr;
  }
  return t;
}

void OsJoinThread(OsThreadHandle handle) {
  PosixThread* t = static_cast<PosixThread*>(handle);
  if (!t) return;
  pthread_join(t->thread, nullptr);
  free(t);
}

void OsSetThreadPriorityNormal(OsThreadHandle handle) {}

void OsSetThreadName(OsThreadHandle handle, const char* name) {
  PosixThread* t = static_cast<PosixThread*>(handle);
  if (!t || !name) return;
  char shortName[16]; // the kernel keeps 15 characters
  strncpy(shortName, name, sizeof(shortName) - 1);
  shortName[sizeof(shortName) - 1] = 0;
  pthread_setname_np(t->thread, shortName);
}

void OsYield() { sched_yield(); }

uint32_t OsProcessorCount() {
  // The affinity mask respects container and taskset limits.
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<uint32_t>(n);
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1u;
}

int32_t OsQueryPerformanceCounter(uint64_t* counter) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  *counter = static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
  return 1;
}

int32_t OsQueryPerformanceFrequency(uint64_t* frequency) {
  *frequency = 1000000000ull;
  return 1;
}

uint32_t OsTimeGetTime() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000ull + static_cast<uint64_t>(now.tv_nsec) / 1000000ull;
  return static_cast<uint32_t>(ms);
}

void OsRaiseTimerResolution() {}

void OsSleepMilliseconds(uint32_t ms) {
  struct timespec request;
  request.tv_sec = ms / 1000;
  request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

int32_t OsExecutableDirectory(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 1;
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return 1;
  path[n] = 0;
  char* slash = strrchr(path, '/');
  if (!slash) return 1;
  size_t length = static_cast<size_t>(slash - path) + 1;
  if (length + 1 > size) return 1;
  memcpy(buffer, path, length);
  buffer[length] = 0;
  return 0;
}

int32_t OsSetWorkingDirectory(const char* path) { return chdir(path) == 0 ? 0 : 1; }

int32_t OsDeleteFile(const char* path) { return unlink(path) == 0 ? 0 : 1; }

int32_t OsFlushFileToDisk(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  int synced = fsync(fd);
  int closed = close(fd);
  return synced == 0 && closed == 0 ? 0 : 1;
}

int32_t OsReplaceFile(const char* from, const char* to) {
  if (rename(from, to) != 0) return 1;
  // The rename itself reaches the disk with the folder's entry.
  char folder[PATH_MAX];
  const char* slash = strrchr(to, '/');
  if (slash == nullptr) {
    folder[0] = '.';
    folder[1] = 0;
  } else {
    size_t n = size_t(slash - to);
    if (n == 0) n = 1;
    if (n >= sizeof(folder)) return 0;
    memcpy(folder, to, n);
    folder[n] = 0;
  }
  int fd = open(folder, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return 0;
}

int32_t OsLinkFile(const char* existing, const char* newPath) { return link(existing, newPath) == 0 ? 0 : 1; }

int32_t OsFileExists(const char* path) { return access(path, F_OK) == 0 ? 1 : 0; }

int32_t OsAppendFile(const char* path, const void* data, uint32_t size) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  ssize_t written = write(fd, data, size);
  int closed = close(fd);
  return written == ssize_t(size) && closed == 0 ? 0 : 1;
}
