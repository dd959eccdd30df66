// The operating-system calls the runtime needs, one implementation per
// platform (os_win32.cpp: critical sections, condition variables,
// _beginthreadex, QueryPerformanceCounter, WinMM; os_posix.cpp: pthreads,
// CLOCK_MONOTONIC). Nothing else in the program includes a system header for
// these.
#pragma once

#include <cstdint>

// Opaque storage large enough for CRITICAL_SECTION / pthread_mutex_t and
// CONDITION_VARIABLE / pthread_cond_t; each platform file checks the size.
struct OsCriticalSection {
  alignas(8) unsigned char storage[64];
};
struct OsConditionVariable {
  alignas(8) unsigned char storage[64];
};
typedef void* OsThreadHandle;

void OsInitCriticalSection(OsCriticalSection* cs);
void OsEnterCriticalSection(OsCriticalSection* cs);
void OsLeaveCriticalSection(OsCriticalSection* cs);
void OsDeleteCriticalSection(OsCriticalSection* cs);

void OsInitConditionVariable(OsConditionVariable* cv);
void OsSleepConditionVariable(OsConditionVariable* cv, OsCriticalSection* cs); // no time-out
// The same, returning after at most about milliseconds.
void OsSleepConditionVariableFor(OsConditionVariable* cv, OsCriticalSection* cs, uint32_t milliseconds);
void OsWakeAllConditionVariable(OsConditionVariable* cv);
void OsDestroyConditionVariable(OsConditionVariable* cv); // no-op on Windows

// Starts routine(argument) on a new thread with the given stack size.
// Returns null on failure.
OsThreadHandle OsStartThread(uint32_t (*routine)(void*), void* argument, uint32_t stackBytes);
void OsJoinThread(OsThreadHandle handle);            // wait, then close the handle
void OsSetThreadPriorityNormal(OsThreadHandle handle);
void OsSetThreadName(OsThreadHandle handle, const char* name); // never fails visibly
void OsYield();
uint32_t OsProcessorCount();

// Performance counter: returns 0 when unavailable.
int32_t OsQueryPerformanceCounter(uint64_t* counter);
int32_t OsQueryPerformanceFrequency(uint64_t* frequency);
uint32_t OsTimeGetTime();           // milliseconds, wraps after ~49.7 days
void OsRaiseTimerResolution();      // timeGetDevCaps + timeBeginPeriod(min); no-op elsewhere
void OsSleepMilliseconds(uint32_t ms);

// Directory of the running executable, with a trailing separator.
int32_t OsExecutableDirectory(char* buffer, uint32_t size);
int32_t OsSetWorkingDirectory(const char* path);
int32_t OsDeleteFile(const char* path);
// Appends size bytes to the file (created when missing) with one write call,
// so a line is never split by another writer or half-written by a crash
// between calls. 0 when every byte was written.
int32_t OsAppendFile(const char* path, const void* data, uint32_t size);
// Forces the file's written bytes to the disk. 0 on success.
int32_t OsFlushFileToDisk(const char* path);
// Renames from to to, replacing to in one step: anyone opening to sees the
// old file or the new one, never neither. 0 on success.
int32_t OsReplaceFile(const char* from, const char* to);
// Gives existing's file the second name newPath (no copy); 1 when newPath
// exists already or the file system has no such links.
int32_t OsLinkFile(const char* existing, const char* newPath);
// 1 when something exists at path.
int32_t OsFileExists(const char* path);
