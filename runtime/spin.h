// Short spin waits: one idiom for the whole program. SpinPause is a single
// processor hint for loops that poll a word a bounded number of times;
// SpinBackOff pauses a few times, then gives the processor away, so a
// spinner cannot starve the thread it waits for on a busy machine. Only the
// OS layer below it is used, so any runtime file can include it.
#pragma once

#include <cstdint>

#include "runtime/os.h"

inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

inline void SpinBackOff(uint32_t* spins) {
  if (*spins < 64) {
    ++*spins;
    SpinPause();
  } else {
    OsYield();
  }
}
