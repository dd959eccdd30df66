#include "runtime/avx2.h"

int32_t CpuHasAvx2() {
#if QV_HAVE_AVX2_CODE
  static const int32_t has = __builtin_cpu_supports("avx2") ? 1 : 0;
  return has;
#else
  return 0;
#endif
}
