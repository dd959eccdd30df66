// Large-page hint for big surface storage (transparent huge pages).
#include <sys/mman.h>

#include <cstdint>

#include "format/surface_internal.h"

void HintLargePages(void* block, uint64_t size) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kLarge = uintptr_t(1) << 21;
  uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kLarge - 1) & ~(kLarge - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kLarge - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}
