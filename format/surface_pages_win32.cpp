// Large pages on Windows need a privilege the program does not ask for:
// surface storage stays on normal pages.
#include <cstdint>

#include "format/surface_internal.h"

void HintLargePages(void* block, uint64_t size) {
  (void)block;
  (void)size;
}
