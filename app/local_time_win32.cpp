// Local wall-clock seconds through the Windows file time.
#include <windows.h>

#include "app/app.h"

uint32_t LocalTimeSeconds() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  FILETIME file;
  if (!SystemTimeToFileTime(&local, &file)) return 0;
  uint64_t ticks = (uint64_t(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  return uint32_t((ticks - 116444736000000000ull) / 10000000ull);
}
