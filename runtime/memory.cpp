// The global allocation routine: every heap block under one lock.
#include <cstdlib>
#include <cstring>

#include "runtime/runtime.h"
#include "runtime/spin.h"

namespace {
enum : uint32_t { kLockAbsent = 0, kLockCreating = 1, kLockReady = 2 };

struct MemoryState {
  std::atomic<uint32_t> lockState;
  OsCriticalSection lock;
};
constinit MemoryState s_memory{}; // ready before any constructor runs
} // namespace

// Creates the lock on first use as well, so blocks taken before AppMain's
// MemInitialize (static initialisers, tests) are safe.
static void EnsureMemoryLock() {
  if (s_memory.lockState.load() == kLockReady) return;
  uint32_t expected = kLockAbsent;
  if (s_memory.lockState.compare_exchange_strong(expected, kLockCreating)) {
    OsInitCriticalSection(&s_memory.lock);
    s_memory.lockState.store(kLockReady);
    return;
  }
  uint32_t spins = 0;
  while (s_memory.lockState.load() != kLockReady) SpinBackOff(&spins);
}

void MemInitialize() { EnsureMemoryLock(); }

void MemFinalize() {
  uint32_t expected = kLockReady;
  if (s_memory.lockState.compare_exchange_strong(expected, kLockCreating)) {
    OsDeleteCriticalSection(&s_memory.lock);
    s_memory.lockState.store(kLockAbsent);
  }
}

void* MemAlloc(uint64_t size) {
  // n + 12 must not wrap around into a small block.
  if (size > static_cast<uint64_t>(SIZE_MAX) - 12) return nullptr;
  EnsureMemoryLock();
  OsEnterCriticalSection(&s_memory.lock);
  unsigned char* raw = static_cast<unsigned char*>(malloc(static_cast<size_t>(size) + 12));
  OsLeaveCriticalSection(&s_memory.lock);
  if (!raw) return nullptr;
  uintptr_t address = (reinterpret_cast<uintptr_t>(raw) + 11) & ~static_cast<uintptr_t>(3);
  unsigned char* block = reinterpret_cast<unsigned char*>(address);
  memcpy(block - 8, &raw, sizeof(raw));
  return block;
}

void MemFree(void* p) {
  if (!p) return;
  unsigned char* raw;
  memcpy(&raw, static_cast<unsigned char*>(p) - 8, sizeof(raw));
  EnsureMemoryLock();
  OsEnterCriticalSection(&s_memory.lock);
  free(raw);
  OsLeaveCriticalSection(&s_memory.lock);
}
