#include <cstdio>
#include <unistd.h>

#include "rss.h"

uint64_t ResidentBytes() {
  FILE* f = fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  int n = fscanf(f, "%lu %lu", &size, &resident);
  fclose(f);
  return n == 2 ? uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE)) : 0;
}
