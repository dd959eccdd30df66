// Joystick state to raw inputs, the map to logical inputs, and the word.
#include <cstring>

#include "input/input.h"

void HatDirections(uint32_t hat, float directions[4]) {
  directions[0] = (hat == 31500 || hat == 0 || hat == 4500) ? 1.0f : 0.0f;      // up
  directions[1] = (hat == 13500 || hat == 18000 || hat == 22500) ? 1.0f : 0.0f; // down
  directions[2] = (hat == 22500 || hat == 27000 || hat == 31500) ? 1.0f : 0.0f; // left
  directions[3] = (hat == 4500 || hat == 9000 || hat == 13500) ? 1.0f : 0.0f;   // right
}

namespace {

// One axis into its negative / positive raw pair; the other side stays 0.
void SplitAxis(int32_t value, float* raw, uint32_t negativeIndex) {
  if (value < 0) {
    raw[negativeIndex] = float(-int64_t(value)) * kAxisScale;
  } else if (value > 0) {
    raw[negativeIndex + 1] = float(value) * kAxisScale;
  }
}

} // namespace

void BuildRawJoystickInputs(const JoystickState* state, float* raw) {
  for (uint32_t i = 0; i < kRawJoystickInputCount; ++i) raw[i] = 0.0f;
  for (uint32_t b = 0; b < 128; ++b) raw[kRawButton0 + b] = state->rgbButtons[b] != 0 ? 1.0f : 0.0f;
  SplitAxis(state->lY, raw, kRawYNegative);
  SplitAxis(state->lX, raw, kRawXNegative);
  SplitAxis(state->lZ, raw, kRawZNegative);
  SplitAxis(state->lRz, raw, kRawRzNegative);
  for (uint32_t h = 0; h < 4; ++h) HatDirections(state->rgdwPOV[h], raw + kRawHat0 + 4 * h);
}

void JoystickMapInit(JoystickMap* map) {
  // Not in button order: the first four buttons land on bits 4, 7, 5, 6.
  static const JoystickMapEntry kDefaultMap[16] = {
      {0, kRawYNegative}, {1, kRawYPositive}, {2, kRawXNegative}, {3, kRawXPositive},
      {4, 0},             {5, 2},             {6, 3},             {7, 1},
      {8, 6},             {9, 4},             {10, 10},           {11, 7},
      {12, 5},            {13, 11},           {14, 9},            {15, 8},
  };
  memset(map, 0, sizeof(*map));
  memcpy(map->entries, kDefaultMap, sizeof(kDefaultMap));
  map->count = 16;
}

void MapJoystickInputs(const JoystickMap* map, const float* raw, float* logical) {
  for (uint32_t i = 0; i < kLogicalInputCount; ++i) logical[i] = 0.0f;
  uint32_t count = map->count < kJoystickMapCapacity ? map->count : kJoystickMapCapacity;
  for (uint32_t i = 0; i < count; ++i) {
    const JoystickMapEntry& e = map->entries[i];
    // A map entry outside either table would read or write past it.
    if (e.target < kLogicalInputCount && e.source < kRawJoystickInputCount) {
      logical[e.target] = raw[e.source];
    }
  }
}

InputWord JoystickWordFromLogical(const float* logical) {
  InputWord word = 0;
  for (uint32_t i = 0; i < kLogicalInputCount; ++i) {
    if (logical[i] >= kLogicalThreshold) word |= InputWord(1) << i;
  }
  return word;
}

void JoystickInputInit(JoystickInput* input) {
  memset(input, 0, sizeof(*input));
  JoystickMapInit(&input->map);
}

InputWord JoystickInputUpdate(JoystickInput* input, const JoystickState* state) {
  if (state != nullptr) {
    BuildRawJoystickInputs(state, input->RawJoystickInputs);
  } else {
    for (uint32_t i = 0; i < kRawJoystickInputCount; ++i) input->RawJoystickInputs[i] = 0.0f;
  }
  MapJoystickInputs(&input->map, input->RawJoystickInputs, input->logical);
  input->word = JoystickWordFromLogical(input->logical);
  return input->word;
}
