// Test hooks of the format module: the generic converter beside the fast
// ones, the tables behind them and the wide-sampling switch, so a test can
// compare each shortcut with the path it stands in for. The module's own
// files use the tables too; nothing outside format/ but tests includes this.
#pragma once

#include <cstdint>

#include "format/format.h"

// Fills the converter for the generic path even when a copy or a direct
// routine exists, so both can be compared.
int32_t initConverterGeneric(Converter* converter, int32_t dstFormat, int32_t srcFormat);
// The direct pair table (keys d * 69 + s), 76 entries + terminator.
struct DirectPair {
  uint32_t key;
  DirectOneFn directOne;
  DirectManyFn directMany;
};
const DirectPair* DirectPairTable(uint32_t* count); // count = 76

// 0 keeps SelectSampleBatch to the four-lane routines.
void SetWideSamplingForTest(int32_t enabled);

constexpr uint32_t kSampleKernelCount = 576;
// The kernel table (empty entries are null).
const SampleKernelFn* SampleKernelTable();
