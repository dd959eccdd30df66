// The SDL keyboard, mouse and joystick layer: scan-code table, axis and hat
// conversion, and the whole joystick path through SDL's virtual joysticks
// (attach, move, press, unplug) into the shared input word.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cmath>
#include <cstring>
#include <string>

#include "input/input.h"
#include "input/input_sdl.h"
#include "runtime/runtime.h"

namespace {

SDL_Scancode Named(const char* name) {
  SDL_Scancode s = SDL_GetScancodeFromName(name);
  EXPECT_NE(s, SDL_SCANCODE_UNKNOWN) << name;
  return s;
}

// Keys whose set-1 code has no E0 prefix: the kernel's evdev numbers are the
// same set-1 codes, an independent numbering to check the table against.
struct EvdevKey {
  const char* sdlName;
  int evdev;
};
const EvdevKey kEvdevKeys[] = {
    {"Escape", KEY_ESC},       {"1", KEY_1},
    {"2", KEY_2},              {"3", KEY_3},
    {"4", KEY_4},              {"5", KEY_5},
    {"6", KEY_6},              {"7", KEY_7},
    {"8", KEY_8},              {"9", KEY_9},
    {"0", KEY_0},              {"-", KEY_MINUS},
    {"=", KEY_EQUAL},          {"Backspace", KEY_BACKSPACE},
    {"Tab", KEY_TAB},          {"Q", KEY_Q},
    {"W", KEY_W},              {"E", KEY_E},
    {"R", KEY_R},              {"T", KEY_T},
    {"Y", KEY_Y},              {"U", KEY_U},
    {"I", KEY_I},              {"O", KEY_O},
    {"P", KEY_P},              {"[", KEY_LEFTBRACE},
    {"]", KEY_RIGHTBRACE},     {"Return", KEY_ENTER},
    {"Left Ctrl", KEY_LEFTCTRL}, {"A", KEY_A},
    {"S", KEY_S},              {"D", KEY_D},
    {"F", KEY_F},              {"G", KEY_G},
    {"H", KEY_H},              {"J", KEY_J},
    {"K", KEY_K},              {"L", KEY_L},
    {";", KEY_SEMICOLON},      {"'", KEY_APOSTROPHE},
    {"`", KEY_GRAVE},          {"Left Shift", KEY_LEFTSHIFT},
    {"\\", KEY_BACKSLASH},     {"Z", KEY_Z},
    {"X", KEY_X},              {"C", KEY_C},
    {"V", KEY_V},              {"B", KEY_B},
    {"N", KEY_N},              {"M", KEY_M},
    {",", KEY_COMMA},          {".", KEY_DOT},
    {"/", KEY_SLASH},          {"Right Shift", KEY_RIGHTSHIFT},
    {"Keypad *", KEY_KPASTERISK}, {"Left Alt", KEY_LEFTALT},
    {"Space", KEY_SPACE},      {"CapsLock", KEY_CAPSLOCK},
    {"F1", KEY_F1},            {"F2", KEY_F2},
    {"F3", KEY_F3},            {"F4", KEY_F4},
    {"F5", KEY_F5},            {"F6", KEY_F6},
    {"F7", KEY_F7},            {"F8", KEY_F8},
    {"F9", KEY_F9},            {"F10", KEY_F10},
    {"Numlock", KEY_NUMLOCK},  {"ScrollLock", KEY_SCROLLLOCK},
    {"Keypad 7", KEY_KP7},     {"Keypad 8", KEY_KP8},
    {"Keypad 9", KEY_KP9},     {"Keypad -", KEY_KPMINUS},
    {"Keypad 4", KEY_KP4},     {"Keypad 5", KEY_KP5},
    {"Keypad 6", KEY_KP6},     {"Keypad +", KEY_KPPLUS},
    {"Keypad 1", KEY_KP1},     {"Keypad 2", KEY_KP2},
    {"Keypad 3", KEY_KP3},     {"Keypad 0", KEY_KP0},
    {"Keypad .", KEY_KPDOT},   {"F11", KEY_F11},
    {"F12", KEY_F12},
};

TEST(SdlKeyboardTable, PlainKeysCarryTheirSetOneCodes) {
  for (const EvdevKey& k : kEvdevKeys) {
    EXPECT_EQ(DirectInputScanFromSdl(Named(k.sdlName)), k.evdev) << k.sdlName;
  }
}

TEST(SdlKeyboardTable, ExtendedKeysAreTheirTwinWithBit7) {
  // E0-prefixed keys share the low seven bits of the key that once had their
  // place (arrows on the keypad, right modifiers on the left ones).
  const char* pairs[][2] = {
      {"Up", "Keypad 8"},       {"Down", "Keypad 2"},       {"Left", "Keypad 4"},
      {"Right", "Keypad 6"},    {"Home", "Keypad 7"},       {"End", "Keypad 1"},
      {"PageUp", "Keypad 9"},   {"PageDown", "Keypad 3"},   {"Insert", "Keypad 0"},
      {"Delete", "Keypad ."},   {"Keypad Enter", "Return"}, {"Right Ctrl", "Left Ctrl"},
      {"Right Alt", "Left Alt"}, {"Keypad /", "/"},
  };
  for (auto& p : pairs) {
    uint8_t base = DirectInputScanFromSdl(Named(p[1]));
    ASSERT_NE(base, 0) << p[1];
    EXPECT_EQ(DirectInputScanFromSdl(Named(p[0])), 0x80 | base) << p[0];
  }
}

TEST(SdlKeyboardTable, EveryKeyOfTheTestReachesItsCode) {
  struct {
    const char* name;
    uint8_t code;
  } keys[] = {
      {"Escape", kScanEscape}, {"2", kScanDigit2}, {"8", kScanDigit8},   {"Q", kScanQ},
      {"W", kScanW},           {"A", kScanA},     {"S", kScanS},         {"D", kScanD},
      {"Return", kScanEnter},  {"Space", kScanSpace}, {"Up", kScanUp},   {"Down", kScanDown},
      {"Left", kScanLeft},     {"Right", kScanRight}, {"Keypad 8", kScanNumpad8},
      {"Keypad 2", kScanNumpad2}, {"Keypad 4", kScanNumpad4}, {"Keypad 6", kScanNumpad6},
  };
  for (auto& k : keys) EXPECT_EQ(DirectInputScanFromSdl(Named(k.name)), k.code) << k.name;
  for (int d = 2; d <= 8; d++) {
    char name[2] = {char('0' + d), 0};
    EXPECT_EQ(DirectInputScanFromSdl(Named(name)), 0x01 + d) << name;
  }
  // The movement keys, read through a state built from the table.
  uint8_t state[kKeyboardStateBytes];
  const char* movement[][3] = {{"Up", "Keypad 8", "W"}, {"Down", "Keypad 2", "S"},
                               {"Left", "Keypad 4", "A"}, {"Right", "Keypad 6", "D"}};
  for (uint32_t bit = 0; bit < 4; bit++) {
    for (const char* name : movement[bit]) {
      memset(state, 0, sizeof(state));
      state[DirectInputScanFromSdl(Named(name))] = 0x80;
      EXPECT_EQ(KeyboardMovementBits(state), InputWord(1) << bit) << name;
    }
  }
}

TEST(SdlKeyboardTable, NoTwoKeysShareACode) {
  int owner[256];
  for (int& o : owner) o = -1;
  int mapped = 0;
  for (int s = 0; s < SDL_NUM_SCANCODES; s++) {
    uint8_t code = DirectInputScanFromSdl(SDL_Scancode(s));
    if (!code) continue;
    mapped++;
    EXPECT_EQ(owner[code], -1) << "code " << int(code) << " from " << owner[code] << " and " << s;
    owner[code] = s;
  }
  EXPECT_GE(mapped, 104); // a full-size keyboard
  EXPECT_EQ(DirectInputScanFromSdl(SDL_Scancode(-1)), 0);
  EXPECT_EQ(DirectInputScanFromSdl(SDL_Scancode(SDL_NUM_SCANCODES)), 0);
}

// Without the focus: every key up, no mouse motion, the pointer not taken.
TEST(SdlFocus, WithoutItNoKeyNoMotionNoCapture) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_Window* window = SDL_CreateWindow("", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
  ASSERT_NE(window, nullptr);
  uint8_t state[kKeyboardStateBytes];
  memset(state, 0xAB, sizeof(state));
  EXPECT_EQ(SdlKeyboardRead(window, state), 1); // a hidden dummy window never has the focus
  for (uint8_t b : state) ASSERT_EQ(b, 0);
  memset(state, 0xAB, sizeof(state));
  EXPECT_EQ(SdlKeyboardRead(nullptr, state), 1);
  for (uint8_t b : state) ASSERT_EQ(b, 0);
  int32_t dx = 99, dy = 99;
  EXPECT_EQ(SdlMouseRead(window, &dx, &dy), 1);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  SdlMouseCapture(window, 1); // a step runs, but the window is in the background
  EXPECT_EQ(SDL_GetRelativeMouseMode(), SDL_FALSE);
  SdlMouseCapture(window, 0);
  SDL_DestroyWindow(window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

TEST(SdlJoystickConversion, AxisCoversTheRangeLinearly) {
  int32_t previous = -1001;
  for (int32_t v = -32768; v <= 32767; v++) {
    int32_t r = DirectInputAxisFromSdl(int16_t(v));
    ASSERT_GE(r, previous) << v; // monotonic
    ASSERT_GE(r, -1000);
    ASSERT_LE(r, 1000);
    double exact = (double(v) + 32768.0) * 2000.0 / 65535.0 - 1000.0;
    ASSERT_LE(std::fabs(double(r) - exact), 0.5 + 1e-9) << v;
    previous = r;
  }
  EXPECT_EQ(DirectInputAxisFromSdl(-32768), -1000);
  EXPECT_EQ(DirectInputAxisFromSdl(0), 0);
  EXPECT_EQ(DirectInputAxisFromSdl(32767), 1000);
}

TEST(SdlJoystickConversion, HatGivesExactlyItsDirections) {
  // SDL bits: up 1, right 2, down 4, left 8. The shared hat rule must turn
  // the converted value back into the same directions (up, down, left, right).
  for (int mask = 0; mask < 256; mask++) {
    bool up = mask & SDL_HAT_UP, right = mask & SDL_HAT_RIGHT, down = mask & SDL_HAT_DOWN,
         left = mask & SDL_HAT_LEFT;
    int count = up + right + down + left;
    bool valid = mask < 16 && count >= 1 && count <= 2 && !(up && down) && !(left && right);
    float directions[4] = {0, 0, 0, 0};
    uint32_t pov = DirectInputHatFromSdl(uint8_t(mask));
    HatDirections(pov, directions);
    if (!valid) {
      EXPECT_EQ(pov, kHatCentred) << mask;
      continue;
    }
    EXPECT_LT(pov, 36000u) << mask;
    EXPECT_EQ(directions[0], up ? 1.0f : 0.0f) << mask;
    EXPECT_EQ(directions[1], down ? 1.0f : 0.0f) << mask;
    EXPECT_EQ(directions[2], left ? 1.0f : 0.0f) << mask;
    EXPECT_EQ(directions[3], right ? 1.0f : 0.0f) << mask;
  }
}

std::string g_log;
int64_t CaptureLog(const char* message) {
  g_log += message;
  return 0;
}

class SdlJoystickPath : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    previousSink = LogExchangeSinkForTest(CaptureLog);
    g_log.clear();
  }
  void TearDown() override {
    SdlJoystickRelease();
    while (SDL_NumJoysticks() > 0 && SDL_JoystickIsVirtual(0)) SDL_JoystickDetachVirtual(0);
    LogExchangeSinkForTest(previousSink);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  // A virtual pad: X, Y, Z, Rx, Ry, Rz, 16 buttons, one hat.
  SDL_Joystick* Attach() {
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 16, 1);
    EXPECT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* handle = SDL_JoystickOpen(index); // our own handle, to move it
    EXPECT_NE(handle, nullptr);
    return handle;
  }
  LogSink previousSink = nullptr;
};

TEST_F(SdlJoystickPath, NoneAttachedIsSevenAndSilent) {
  ASSERT_EQ(SDL_NumJoysticks(), 0);
  EXPECT_EQ(SdlJoystickSetup(), kDeviceAbsent);
  EXPECT_EQ(g_log, "");
  JoystickState state;
  EXPECT_EQ(SdlJoystickRead(&state), 1);
}

TEST_F(SdlJoystickPath, StickButtonsAndHatReachTheWord) {
  SDL_Joystick* pad = Attach();
  ASSERT_EQ(SdlJoystickSetup(), 0);
  EXPECT_EQ(g_log, "SDL_JoystickOpen (0) ... OK.\n");
  JoystickInput input;
  JoystickInputInit(&input);
  JoystickState state;

  ASSERT_EQ(SdlJoystickRead(&state), 0);
  EXPECT_EQ(state.lX, 0);
  EXPECT_EQ(state.rgdwPOV[0], kHatCentred);
  EXPECT_EQ(state.rgdwPOV[1], kHatCentred); // hats the pad does not have
  EXPECT_EQ(JoystickInputUpdate(&input, &state), 0u);

  // Full right and up, buttons 1 and 2, hat and Z axes to the limit.
  SDL_JoystickSetVirtualAxis(pad, 0, 32767);
  SDL_JoystickSetVirtualAxis(pad, 1, -32768);
  SDL_JoystickSetVirtualAxis(pad, 2, 32767);
  SDL_JoystickSetVirtualAxis(pad, 5, -32768);
  SDL_JoystickSetVirtualButton(pad, 1, 1);
  SDL_JoystickSetVirtualButton(pad, 2, 1);
  SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_LEFTDOWN);
  ASSERT_EQ(SdlJoystickRead(&state), 0);
  EXPECT_EQ(state.lX, 1000);
  EXPECT_EQ(state.lY, -1000);
  EXPECT_EQ(state.lZ, 1000);
  EXPECT_EQ(state.lRz, -1000);
  EXPECT_EQ(state.rgbButtons[0], 0);
  EXPECT_NE(state.rgbButtons[1], 0);
  EXPECT_NE(state.rgbButtons[2], 0);
  EXPECT_EQ(state.rgdwPOV[0], 22500u);
  // right = bit 3, up = bit 0, button 1 = bit 7, button 2 = bit 5; Z and hat nothing.
  EXPECT_EQ(JoystickInputUpdate(&input, &state), (1u << 0) | (1u << 3) | (1u << 5) | (1u << 7));

  // The threshold, in SDL units: a deflection of 375 of 1000 counts, 374 not.
  int16_t below = 0, at = 0;
  for (int32_t v = 0; v <= 32767; v++) {
    int32_t r = DirectInputAxisFromSdl(int16_t(v));
    if (r == 374) below = int16_t(v);
    if (r == 375) {
      at = int16_t(v);
      break;
    }
  }
  SDL_JoystickSetVirtualAxis(pad, 1, 0);
  SDL_JoystickSetVirtualButton(pad, 1, 0);
  SDL_JoystickSetVirtualButton(pad, 2, 0);
  SDL_JoystickSetVirtualAxis(pad, 0, below);
  ASSERT_EQ(SdlJoystickRead(&state), 0);
  EXPECT_EQ(JoystickInputUpdate(&input, &state), 0u);
  SDL_JoystickSetVirtualAxis(pad, 0, at);
  ASSERT_EQ(SdlJoystickRead(&state), 0);
  EXPECT_EQ(JoystickInputUpdate(&input, &state), 1u << 3);
  SDL_JoystickClose(pad);
}

TEST_F(SdlJoystickPath, UnpluggedGivesZeroFromThenOn) {
  SDL_Joystick* pad = Attach();
  ASSERT_EQ(SdlJoystickSetup(), 0);
  SDL_JoystickSetVirtualAxis(pad, 0, -32768);
  SDL_JoystickSetVirtualButton(pad, 0, 1);
  JoystickInput input;
  JoystickInputInit(&input);
  JoystickState state;
  ASSERT_EQ(SdlJoystickRead(&state), 0);
  EXPECT_EQ(JoystickInputUpdate(&input, &state), (1u << 2) | (1u << 4));

  SDL_JoystickClose(pad);
  ASSERT_EQ(SDL_JoystickDetachVirtual(0), 0);
  for (int frame = 0; frame < 3; frame++) {
    memset(&state, 0x5A, sizeof(state));
    EXPECT_EQ(SdlJoystickRead(&state), 1);
    EXPECT_EQ(state.lX, 0);
    EXPECT_EQ(state.rgbButtons[0], 0);
    EXPECT_EQ(state.rgdwPOV[0], kHatCentred);
    EXPECT_EQ(JoystickInputUpdate(&input, nullptr), 0u);
  }
  // A pad plugged in later is a new device: the run stays on the keyboard.
  SDL_Joystick* second = Attach();
  EXPECT_EQ(SdlJoystickRead(&state), 1);
  SDL_JoystickClose(second);
}

} // namespace
