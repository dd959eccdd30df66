// Keyboard and joystick model: DirectInput scan codes, the joystick state
// record, the raw and logical joystick inputs and the per-frame input word.
// Nothing here talks to a device; the platform layer (app/platform.h) fills
// the records and the test turns them into an InputWord.
#pragma once

#include <cstdint>

// A device set-up's result when there is no usable device of its kind (none
// attached, or its configuration failed): the device is then never read.
// 0 is a usable device, as for every other call.
constexpr int32_t kDeviceAbsent = 7;

// ---- Input word ---------------------------------------------------------------
// Bit 0 up, 1 down, 2 left, 3 right, bits 4..15 joystick buttons (as the
// joystick map orders them); higher bits always 0.
typedef uint64_t InputWord;

constexpr InputWord kInputUp = 1u << 0;
constexpr InputWord kInputDown = 1u << 1;
constexpr InputWord kInputLeft = 1u << 2;
constexpr InputWord kInputRight = 1u << 3;
constexpr InputWord kInputMovementBits = kInputUp | kInputDown | kInputLeft | kInputRight;

// ---- Keyboard -------------------------------------------------------------------
// DirectInput scan codes (DIK_*), the index into the 256-byte keyboard state.
constexpr uint32_t kKeyboardStateBytes = 256;

constexpr uint8_t kScanEscape = 0x01;
constexpr uint8_t kScanDigit2 = 0x03; // main row; digit d is 0x01 + d for 2..8
constexpr uint8_t kScanDigit8 = 0x09;
constexpr uint8_t kScanQ = 0x10;
constexpr uint8_t kScanW = 0x11;
constexpr uint8_t kScanT = 0x14;
constexpr uint8_t kScanEnter = 0x1C;
constexpr uint8_t kScanA = 0x1E;
constexpr uint8_t kScanS = 0x1F;
constexpr uint8_t kScanD = 0x20;
constexpr uint8_t kScanSpace = 0x39;
constexpr uint8_t kScanNumpad8 = 0x48;
constexpr uint8_t kScanNumpad4 = 0x4B;
constexpr uint8_t kScanNumpad6 = 0x4D;
constexpr uint8_t kScanNumpad2 = 0x50;
constexpr uint8_t kScanUp = 0xC8;
constexpr uint8_t kScanLeft = 0xCB;
constexpr uint8_t kScanRight = 0xCD;
constexpr uint8_t kScanDown = 0xD0;

// Movement bits (0..3) of the keys held in a 256-byte state (non-zero = down):
// arrows, keypad 8/2/4/6 and W/S/A/D.
InputWord KeyboardMovementBits(const uint8_t* keyboardState);

// ---- Joystick state ---------------------------------------------------------------
// Same layout as DirectInput's DIJOYSTATE2 (272 bytes): absolute axes in
// -1000..1000, hats in hundredths of a degree (centred: 0xFFFFFFFF), button
// bytes non-zero when down.
struct JoystickState {
  int32_t lX, lY, lZ;
  int32_t lRx, lRy, lRz;
  int32_t rglSlider[2];
  uint32_t rgdwPOV[4];
  uint8_t rgbButtons[128];
  int32_t lVX, lVY, lVZ, lVRx, lVRy, lVRz;
  int32_t rglVSlider[2];
  int32_t lAX, lAY, lAZ, lARx, lARy, lARz;
  int32_t rglASlider[2];
  int32_t lFX, lFY, lFZ, lFRx, lFRy, lFRz;
  int32_t rglFSlider[2];
};
static_assert(sizeof(JoystickState) == 272, "DIJOYSTATE2 layout");

constexpr uint32_t kHatCentred = 0xFFFFFFFFu;

// ---- Raw inputs, map, logical inputs --------------------------------------------
constexpr uint32_t kRawJoystickInputCount = 152;
constexpr uint32_t kRawButton0 = 0;      // 0..127: buttons
constexpr uint32_t kRawYNegative = 128;  // stick up
constexpr uint32_t kRawYPositive = 129;  // stick down
constexpr uint32_t kRawXNegative = 130;  // stick left
constexpr uint32_t kRawXPositive = 131;  // stick right
constexpr uint32_t kRawZNegative = 132;
constexpr uint32_t kRawZPositive = 133;
constexpr uint32_t kRawRzNegative = 134;
constexpr uint32_t kRawRzPositive = 135;
constexpr uint32_t kRawHat0 = 136;       // hat h: 136 + 4h + (up, down, left, right)
constexpr float kAxisScale = 0.002f;     // full deflection 1000 gives 2.0
constexpr float kLogicalThreshold = 0.75f;

constexpr uint32_t kLogicalInputCount = 64;
constexpr uint32_t kJoystickMapCapacity = 64;

struct JoystickMapEntry {
  uint32_t target; // logical input index
  uint32_t source; // raw input index
};

struct JoystickMap {
  JoystickMapEntry entries[kJoystickMapCapacity];
  uint32_t count;
};

// The joystick's per-poll records; rebuilt from zero on every poll.
struct JoystickInput {
  float RawJoystickInputs[kRawJoystickInputCount];
  JoystickMap map;
  float logical[kLogicalInputCount];
  InputWord word;
};

// Hat rule: sets the four directions (up, down, left, right) for a hat value
// in hundredths of a degree. Only the eight exact compass values count.
void HatDirections(uint32_t hat, float directions[4]);
// All raw inputs from one state (zeroed first).
void BuildRawJoystickInputs(const JoystickState* state, float* raw);
// The 16-entry default map: stick Y-/Y+/X-/X+ to 0..3, then buttons
// 0, 2, 3, 1, 6, 4, 10, 7, 5, 11, 9, 8 to 4..15; the other entries zero.
void JoystickMapInit(JoystickMap* map);
// logical[target] = raw[source] for each entry, zero elsewhere.
void MapJoystickInputs(const JoystickMap* map, const float* raw, float* logical);
// Bit i set when logical[i] >= 0.75.
InputWord JoystickWordFromLogical(const float* logical);

// Set-up: default map, everything else cleared.
void JoystickInputInit(JoystickInput* input);
// One poll. state is null when the device read failed (all inputs 0).
// Returns the joystick word, which is also kept in input->word.
InputWord JoystickInputUpdate(JoystickInput* input, const JoystickState* state);
