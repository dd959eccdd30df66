// Performance-counter ticks to microseconds, shared with the tests.
#pragma once

#include <cstdint>

// counter × 10^6 / frequency in double precision, truncated; values from
// 2^63 on go through the signed conversion shifted down by 2^63.
inline uint64_t CounterToMicroseconds(uint64_t counter, uint64_t frequency) {
  const double kTwo63 = 9223372036854775808.0;
  double us = static_cast<double>(counter) * 1000000.0 / static_cast<double>(frequency);
  if (!(us >= 0.0)) return 0;
  if (us < kTwo63) return static_cast<uint64_t>(static_cast<int64_t>(us));
  if (us >= 2.0 * kTwo63) return UINT64_MAX;
  return static_cast<uint64_t>(static_cast<int64_t>(us - kTwo63)) + (1ull << 63);
}
