// Back-off for the runtime's short spin waits.
#pragma once

#include <cstdint>

#include "runtime/runtime.h"

// A few pause instructions first; after that give the processor away, so a
// spinner cannot starve the thread it waits for on a busy machine.
inline void SpinBackOff(uint32_t* spins) {
  if (*spins < 64) {
    ++*spins;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  } else {
    YieldThread();
  }
}
