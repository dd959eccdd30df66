#include "runtime/data_directory.h"

#include <cstdio>
#include <cstring>

namespace {
// base + (a '/' when base lacks one) + tail into out; 1 when it does not fit.
int32_t Join(const char* base, const char* tail, char* out, uint32_t size) {
  size_t length = strlen(base);
  const char* separator = length > 0 && base[length - 1] == '/' ? "" : "/";
  int n = snprintf(out, size, "%s%s%s", base, separator, tail);
  if (n < 0 || uint32_t(n) >= size) {
    if (size > 0) out[0] = 0;
    return 1;
  }
  return 0;
}
} // namespace

int32_t DataDirectoryChoose(const char* executableDirectory, int32_t executableDirectoryWritable,
                            const char* xdgStateHome, const char* home, char* out, uint32_t size) {
  if (!out || size == 0) return 1;
  out[0] = 0;
  if (executableDirectoryWritable && executableDirectory && executableDirectory[0]) {
    if (strlen(executableDirectory) + 1 > size) return 1;
    memcpy(out, executableDirectory, strlen(executableDirectory) + 1);
    return 0;
  }
  // A relative XDG_STATE_HOME is invalid and ignored.
  if (xdgStateHome && xdgStateHome[0] == '/') return Join(xdgStateHome, "qvdelay/", out, size);
  if (home && home[0]) return Join(home, ".local/state/qvdelay/", out, size);
  return 1;
}
