// Keyboard and joystick mapping against a model written from the rules with
// integer comparisons only (no float thresholds), over exhaustive axis and
// hat ranges and random full states.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "input/input.h"

namespace {

// Bits 4..15 come from these buttons, in this order.
const int kButtonOfBit[12] = {0, 2, 3, 1, 6, 4, 10, 7, 5, 11, 9, 8};

InputWord ModelJoystickWord(const JoystickState& s) {
  InputWord w = 0;
  if (s.lY <= -375) w |= 1u << 0;
  if (s.lY >= 375) w |= 1u << 1;
  if (s.lX <= -375) w |= 1u << 2;
  if (s.lX >= 375) w |= 1u << 3;
  for (int b = 0; b < 12; ++b) {
    if (s.rgbButtons[kButtonOfBit[b]] != 0) w |= InputWord(1) << (4 + b);
  }
  return w;
}

// up, down, left, right for the compass values; anything else is centred.
void ModelHat(uint32_t v, bool out[4]) {
  out[0] = out[1] = out[2] = out[3] = false;
  switch (v) {
  case 0: out[0] = true; break;
  case 4500: out[0] = out[3] = true; break;
  case 9000: out[3] = true; break;
  case 13500: out[1] = out[3] = true; break;
  case 18000: out[1] = true; break;
  case 22500: out[1] = out[2] = true; break;
  case 27000: out[2] = true; break;
  case 31500: out[0] = out[2] = true; break;
  default: break;
  }
}

JoystickState Centred() {
  JoystickState s;
  memset(&s, 0, sizeof(s));
  for (int h = 0; h < 4; ++h) s.rgdwPOV[h] = kHatCentred;
  return s;
}

InputWord Poll(JoystickInput* input, const JoystickState& s) { return JoystickInputUpdate(input, &s); }

TEST(JoystickMapping, EveryAxisDeflectionAgainstTheIntegerThreshold) {
  JoystickInput input;
  JoystickInputInit(&input);
  for (int32_t v = -1000; v <= 1000; ++v) {
    JoystickState s = Centred();
    s.lX = v;
    ASSERT_EQ(Poll(&input, s), ModelJoystickWord(s)) << "x=" << v;
    s = Centred();
    s.lY = v;
    ASSERT_EQ(Poll(&input, s), ModelJoystickWord(s)) << "y=" << v;
    // Diagonals: both axes at once set two bits.
    s.lX = -v;
    ASSERT_EQ(Poll(&input, s), ModelJoystickWord(s)) << "diag=" << v;
    // Z and Z rotation never feed a bit, whatever their deflection.
    s = Centred();
    s.lZ = v;
    s.lRz = -v;
    ASSERT_EQ(Poll(&input, s), 0u) << "z=" << v;
  }
  // Out-of-range readings still map sensibly (no overflow at the extremes).
  JoystickState s = Centred();
  s.lX = INT32_MIN;
  s.lY = INT32_MAX;
  EXPECT_EQ(Poll(&input, s), kInputLeft | kInputDown);
}

TEST(JoystickMapping, ThresholdEdgeAndDiagonal) {
  JoystickInput input;
  JoystickInputInit(&input);
  JoystickState s = Centred();
  s.lX = 374;
  EXPECT_EQ(Poll(&input, s), 0u);
  s.lX = 375;
  EXPECT_EQ(Poll(&input, s), kInputRight);
  s.lX = -375;
  s.lY = -375;
  EXPECT_EQ(Poll(&input, s), kInputLeft | kInputUp);
  s.lX = -374;
  EXPECT_EQ(Poll(&input, s), kInputUp);
}

TEST(JoystickMapping, ButtonsLandOnTheirMappedBits) {
  JoystickInput input;
  JoystickInputInit(&input);
  for (int b = 0; b < 128; ++b) {
    JoystickState s = Centred();
    s.rgbButtons[b] = 0x80;
    ASSERT_EQ(Poll(&input, s), ModelJoystickWord(s)) << "button " << b;
  }
  JoystickState s = Centred();
  s.rgbButtons[1] = 0x80;
  EXPECT_EQ(Poll(&input, s), InputWord(1) << 7);
  s = Centred();
  s.rgbButtons[2] = 1;
  EXPECT_EQ(Poll(&input, s), InputWord(1) << 5);
  s = Centred();
  s.rgbButtons[12] = 0x80; // above 11: no bit
  EXPECT_EQ(Poll(&input, s), 0u);
}

TEST(JoystickMapping, HatRuleOverTheWholeRangeAndNeverABit) {
  JoystickInput input;
  JoystickInputInit(&input);
  float directions[4];
  bool expected[4];
  for (uint32_t v = 0; v <= 40000; ++v) {
    HatDirections(v, directions);
    ModelHat(v, expected);
    for (int d = 0; d < 4; ++d) ASSERT_EQ(directions[d], expected[d] ? 1.0f : 0.0f) << v << " dir " << d;
  }
  for (uint32_t v : {kHatCentred, 0x80000000u, 0xFFFFu, 36000u}) {
    HatDirections(v, directions);
    for (int d = 0; d < 4; ++d) EXPECT_EQ(directions[d], 0.0f) << v;
  }
  // Each hat lands on its own four raw inputs and sets no bit.
  for (int h = 0; h < 4; ++h) {
    JoystickState s = Centred();
    s.rgdwPOV[h] = 4500;
    EXPECT_EQ(Poll(&input, s), 0u);
    for (uint32_t i = 0; i < kRawJoystickInputCount; ++i) {
      float want = (i == kRawHat0 + 4 * h + 0 || i == kRawHat0 + 4 * h + 3) ? 1.0f : 0.0f;
      ASSERT_EQ(input.RawJoystickInputs[i], want) << "hat " << h << " raw " << i;
    }
  }
}

TEST(JoystickMapping, RawAxisSidesAndScale) {
  JoystickState s = Centred();
  s.lY = -1000;
  s.lX = 500;
  s.lZ = -250;
  s.lRz = 1000;
  float raw[kRawJoystickInputCount];
  BuildRawJoystickInputs(&s, raw);
  EXPECT_FLOAT_EQ(raw[kRawYNegative], 2.0f);
  EXPECT_EQ(raw[kRawYPositive], 0.0f);
  EXPECT_EQ(raw[kRawXNegative], 0.0f);
  EXPECT_FLOAT_EQ(raw[kRawXPositive], 1.0f);
  EXPECT_FLOAT_EQ(raw[kRawZNegative], 0.5f);
  EXPECT_EQ(raw[kRawZPositive], 0.0f);
  EXPECT_EQ(raw[kRawRzNegative], 0.0f);
  EXPECT_FLOAT_EQ(raw[kRawRzPositive], 2.0f);
}

TEST(JoystickMapping, RandomFullStatesAndLostDevice) {
  std::mt19937 rng(12345);
  JoystickInput input;
  JoystickInputInit(&input);
  for (int i = 0; i < 200000; ++i) {
    JoystickState s = Centred();
    s.lX = int32_t(rng() % 2001) - 1000;
    s.lY = int32_t(rng() % 2001) - 1000;
    s.lZ = int32_t(rng() % 2001) - 1000;
    s.lRz = int32_t(rng() % 2001) - 1000;
    for (int h = 0; h < 4; ++h) s.rgdwPOV[h] = rng() % 3 == 0 ? kHatCentred : (rng() % 8) * 4500;
    for (int b = 0; b < 128; ++b) s.rgbButtons[b] = rng() % 4 == 0 ? uint8_t(rng() | 1) : 0;
    ASSERT_EQ(Poll(&input, s), ModelJoystickWord(s)) << "case " << i;
    ASSERT_EQ(input.word, ModelJoystickWord(s));
    if (i % 1000 == 0) {
      // A failed read yields 0 and rebuilds everything from zero.
      EXPECT_EQ(JoystickInputUpdate(&input, nullptr), 0u);
      for (uint32_t r = 0; r < kRawJoystickInputCount; ++r) ASSERT_EQ(input.RawJoystickInputs[r], 0.0f);
      for (uint32_t l = 0; l < kLogicalInputCount; ++l) ASSERT_EQ(input.logical[l], 0.0f);
    }
  }
}

TEST(JoystickMapping, MapEntriesOutsideTheTablesAreIgnored) {
  JoystickMap map;
  JoystickMapInit(&map);
  map.entries[16] = {200, 0}; // target past the logical inputs
  map.entries[17] = {20, 9999}; // source past the raw inputs
  map.entries[18] = {40, 5};
  map.count = 19;
  float raw[kRawJoystickInputCount] = {};
  raw[0] = 1.0f;
  raw[5] = 1.0f;
  float logical[kLogicalInputCount];
  MapJoystickInputs(&map, raw, logical);
  EXPECT_EQ(JoystickWordFromLogical(logical), (InputWord(1) << 4) | (InputWord(1) << 12) | (InputWord(1) << 40));
  map.count = 1000; // clamped to the capacity: the zero entries past 18 map raw 0 to logical 0
  MapJoystickInputs(&map, raw, logical);
  EXPECT_EQ(JoystickWordFromLogical(logical),
            1u | (InputWord(1) << 4) | (InputWord(1) << 12) | (InputWord(1) << 40));
}

TEST(KeyboardMapping, EverySingleKeyAndEveryMovementCombination) {
  struct Key {
    uint8_t code;
    InputWord bit;
  };
  const Key movement[12] = {{0xC8, kInputUp},    {0x48, kInputUp},    {0x11, kInputUp},    {0xD0, kInputDown},
                            {0x50, kInputDown},  {0x1F, kInputDown},  {0xCB, kInputLeft},  {0x4B, kInputLeft},
                            {0x1E, kInputLeft},  {0xCD, kInputRight}, {0x4D, kInputRight}, {0x20, kInputRight}};
  uint8_t keys[256];
  for (int code = 0; code < 256; ++code) {
    memset(keys, 0, sizeof(keys));
    keys[code] = 0x80;
    InputWord want = 0;
    for (const Key& k : movement) {
      if (k.code == code) want = k.bit;
    }
    ASSERT_EQ(KeyboardMovementBits(keys), want) << "scan code " << code;
  }
  for (uint32_t mask = 0; mask < 4096; ++mask) {
    memset(keys, 0, sizeof(keys));
    InputWord want = 0;
    for (int k = 0; k < 12; ++k) {
      if (mask & (1u << k)) {
        keys[movement[k].code] = 1;
        want |= movement[k].bit;
      }
    }
    // Unrelated keys held at the same time change nothing.
    keys[0x39] = keys[0x1C] = keys[0x01] = 0x80;
    ASSERT_EQ(KeyboardMovementBits(keys), want) << "mask " << mask;
  }
}

} // namespace
