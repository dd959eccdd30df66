// Movement keys of the keyboard state.
#include "input/input.h"

namespace {

struct MovementKey {
  uint8_t scanCode;
  InputWord bit;
};

constexpr MovementKey kMovementKeys[] = {
    {kScanUp, kInputUp},       {kScanNumpad8, kInputUp},    {kScanW, kInputUp},
    {kScanDown, kInputDown},   {kScanNumpad2, kInputDown},  {kScanS, kInputDown},
    {kScanLeft, kInputLeft},   {kScanNumpad4, kInputLeft},  {kScanA, kInputLeft},
    {kScanRight, kInputRight}, {kScanNumpad6, kInputRight}, {kScanD, kInputRight},
};

} // namespace

InputWord KeyboardMovementBits(const uint8_t* keyboardState) {
  InputWord word = 0;
  for (const MovementKey& key : kMovementKeys) {
    if (keyboardState[key.scanCode] != 0) word |= key.bit;
  }
  return word;
}
