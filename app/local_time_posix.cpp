// Local wall-clock seconds: the local broken-down time read back as if it
// were UTC, which is what converting local time to a file time gives.
#include <ctime>

#include "app/app.h"

uint32_t LocalTimeSeconds() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return uint32_t(now);
  return uint32_t(int64_t(timegm(&local)));
}
