#include <windows.h>
#include <psapi.h>

#include "rss.h"

uint64_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.WorkingSetSize;
}
