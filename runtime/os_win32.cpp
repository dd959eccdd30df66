// Operating-system calls on Windows: kernel32 critical sections and
// condition variables, the C runtime's thread start, WinMM timers.
#include <windows.h>

#include <mmsystem.h>
#include <process.h>
#include <string.h>

#include "runtime/os.h"

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(OsCriticalSection), "critical section fits");
static_assert(alignof(CRITICAL_SECTION) <= alignof(OsCriticalSection), "critical section alignment");
static_assert(sizeof(CONDITION_VARIABLE) <= sizeof(OsConditionVariable), "condition fits");
static_assert(alignof(CONDITION_VARIABLE) <= alignof(OsConditionVariable), "condition alignment");

static CRITICAL_SECTION* AsCs(OsCriticalSection* cs) { return reinterpret_cast<CRITICAL_SECTION*>(cs->storage); }
static CONDITION_VARIABLE* AsCv(OsConditionVariable* cv) { return reinterpret_cast<CONDITION_VARIABLE*>(cv->storage); }

void OsInitCriticalSection(OsCriticalSection* cs) { InitializeCriticalSection(AsCs(cs)); }
void OsEnterCriticalSection(OsCriticalSection* cs) { EnterCriticalSection(AsCs(cs)); }
void OsLeaveCriticalSection(OsCriticalSection* cs) { LeaveCriticalSection(AsCs(cs)); }
void OsDeleteCriticalSection(OsCriticalSection* cs) { DeleteCriticalSection(AsCs(cs)); }

void OsInitConditionVariable(OsConditionVariable* cv) { InitializeConditionVariable(AsCv(cv)); }
void OsSleepConditionVariable(OsConditionVariable* cv, OsCriticalSection* cs) {
  SleepConditionVariableCS(AsCv(cv), AsCs(cs), INFINITE);
}
void OsSleepConditionVariableFor(OsConditionVariable* cv, OsCriticalSection* cs, uint32_t milliseconds) {
  SleepConditionVariableCS(AsCv(cv), AsCs(cs), milliseconds);
}
void OsWakeAllConditionVariable(OsConditionVariable* cv) { WakeAllConditionVariable(AsCv(cv)); }
void OsDestroyConditionVariable(OsConditionVariable* cv) {}

OsThreadHandle OsStartThread(uint32_t (*routine)(void*), void* argument, uint32_t stackBytes) {
  uintptr_t handle = _beginthreadex(nullptr, stackBytes, routine, argument, 0, nullptr);
  return reinterpret_cast<OsThreadHandle>(handle);
}

void OsJoinThread(OsThreadHandle handle) {
  if (!handle) return;
  WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
  CloseHandle(static_cast<HANDLE>(handle));
}

void OsSetThreadPriorityNormal(OsThreadHandle handle) {
  SetThreadPriority(static_cast<HANDLE>(handle), THREAD_PRIORITY_NORMAL);
}

// Thread names: SetThreadDescription where kernel32 has it (Windows 10 1607
// on), which debuggers and crash dumps read. The older debugger protocol, the
// 0x406D1388 exception, is raised only when a debugger is attached; GCC has
// no __try/__except, so a vectored handler swallows exactly that exception in
// case the debugger passes it back to the program.
static const DWORD kSetThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct ThreadNameInfo {
  DWORD type;       // 0x1000
  LPCSTR name;
  DWORD threadId;
  DWORD flags;
};
#pragma pack(pop)

static LONG CALLBACK SwallowThreadNameException(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == kSetThreadNameException) return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

typedef HRESULT(WINAPI* SetThreadDescriptionFunction)(HANDLE, PCWSTR);

void OsSetThreadName(OsThreadHandle handle, const char* name) {
  if (!handle || !name) return;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, "SetThreadDescription") : nullptr;
  if (proc) {
    SetThreadDescriptionFunction setDescription =
        reinterpret_cast<SetThreadDescriptionFunction>(reinterpret_cast<void (*)(void)>(proc));
    WCHAR wide[64];
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 64) > 0) setDescription(static_cast<HANDLE>(handle), wide);
  }
  if (IsDebuggerPresent()) {
    ThreadNameInfo info;
    info.type = 0x1000;
    info.name = name;
    info.threadId = GetThreadId(static_cast<HANDLE>(handle));
    info.flags = 0;
    PVOID guard = AddVectoredExceptionHandler(1, SwallowThreadNameException);
    RaiseException(kSetThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
    if (guard) RemoveVectoredExceptionHandler(guard);
  }
}

void OsYield() { SleepEx(0, FALSE); }

uint32_t OsProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1u;
}

int32_t OsQueryPerformanceCounter(uint64_t* counter) {
  LARGE_INTEGER value;
  if (!QueryPerformanceCounter(&value)) return 0;
  *counter = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

int32_t OsQueryPerformanceFrequency(uint64_t* frequency) {
  LARGE_INTEGER value;
  if (!QueryPerformanceFrequency(&value) || value.QuadPart <= 0) return 0;
  *frequency = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

uint32_t OsTimeGetTime() { return timeGetTime(); }

void OsRaiseTimerResolution() {
  TIMECAPS caps;
  if (timeGetDevCaps(&caps, sizeof(caps)) == TIMERR_NOERROR) timeBeginPeriod(caps.wPeriodMin);
}

void OsSleepMilliseconds(uint32_t ms) { Sleep(ms); }

int32_t OsExecutableDirectory(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 1;
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (n == 0 || n >= sizeof(path)) return 1;
  char* cut = nullptr;
  for (char* c = path; *c; ++c)
    if (*c == '\\' || *c == '/') cut = c;
  if (!cut) return 1;
  size_t length = static_cast<size_t>(cut - path) + 1;
  if (length + 1 > size) return 1;
  memcpy(buffer, path, length);
  buffer[length] = 0;
  return 0;
}

int32_t OsSetWorkingDirectory(const char* path) { return SetCurrentDirectoryA(path) ? 0 : 1; }

int32_t OsDeleteFile(const char* path) { return DeleteFileA(path) ? 0 : 1; }

int32_t OsFlushFileToDisk(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  BOOL flushed = FlushFileBuffers(file);
  BOOL closed = CloseHandle(file);
  return flushed && closed ? 0 : 1;
}

int32_t OsReplaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 1;
}

int32_t OsLinkFile(const char* existing, const char* newPath) {
  return CreateHardLinkA(newPath, existing, nullptr) ? 0 : 1;
}

int32_t OsFileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0; }

int32_t OsAppendFile(const char* path, const void* data, uint32_t size) {
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(file, data, size, &written, nullptr);
  BOOL closed = CloseHandle(file);
  return ok && closed && written == size ? 0 : 1;
}
