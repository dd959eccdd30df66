// DirectInput device table, desktop composition step and the keyboard and
// joystick set-up, driven through stand-in COM objects whose methods record
// their calls and return scripted results.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "input/devices_win32.h"
#include "runtime/runtime.h"

namespace {

// ---- Captured log ------------------------------------------------------------------
std::string g_log;
int64_t CaptureSink(const char* message) {
  g_log += message;
  return 0;
}

struct LogCapture {
  LogSink previous;
  LogCapture() {
    g_log.clear();
    previous = LogExchangeSinkForTest(CaptureSink);
  }
  ~LogCapture() { LogExchangeSinkForTest(previous); }
};

// ---- Stand-in device ---------------------------------------------------------------
// IDirectInputDevice8A method slots.
enum : int {
  kRelease = 2,
  kEnumObjects = 4,
  kSetProperty = 6,
  kAcquire = 7,
  kUnacquire = 8,
  kGetDeviceState = 9,
  kSetDataFormat = 11,
  kSetCooperativeLevel = 13,
  kPoll = 25,
  kDeviceSlots = 32,
};

struct PropertyCall {
  uintptr_t property;
  DWORD how, object;
  LONG minimum, maximum;
  DWORD value;
};

struct FakeDevice {
  void** vtable;
  int calls[kDeviceSlots];
  HRESULT results[kDeviceSlots];
  std::vector<PropertyCall> properties;
  std::vector<int> order; // slots in call order (Release excluded)
  HRESULT rangeResults[4];
  DWORD axisTypes[4];
  int axisCount;
  DWORD cooperativeFlags;
  HWND cooperativeWindow;
  const DIDATAFORMAT* dataFormat;
  DWORD enumFlags;
  JoystickState state;
};

template <int N> HRESULT WINAPI Slot(FakeDevice* self) {
  self->calls[N]++;
  if (N != kRelease) self->order.push_back(N);
  return self->results[N];
}

HRESULT WINAPI FakeSetProperty(FakeDevice* self, const GUID* property, const DIPROPHEADER* header) {
  self->calls[kSetProperty]++;
  self->order.push_back(kSetProperty);
  PropertyCall c = {reinterpret_cast<uintptr_t>(property), header->dwHow, header->dwObj, 0, 0, 0};
  if (c.property == reinterpret_cast<uintptr_t>(&DIPROP_RANGE)) {
    const auto* range = reinterpret_cast<const DIPROPRANGE*>(header);
    c.minimum = range->lMin;
    c.maximum = range->lMax;
    int axis = 0;
    for (const PropertyCall& p : self->properties)
      if (p.property == c.property) axis++;
    self->properties.push_back(c);
    return self->rangeResults[axis];
  }
  c.value = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
  self->properties.push_back(c);
  return self->results[kSetProperty];
}

HRESULT WINAPI FakeEnumObjects(FakeDevice* self, LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* context, DWORD flags) {
  self->calls[kEnumObjects]++;
  self->order.push_back(kEnumObjects);
  self->enumFlags = flags;
  for (int i = 0; i < self->axisCount; i++) {
    DIDEVICEOBJECTINSTANCEA object;
    memset(&object, 0, sizeof(object));
    object.dwSize = sizeof(object);
    object.dwType = self->axisTypes[i];
    if (callback(&object, context) == DIENUM_STOP) break;
  }
  return self->results[kEnumObjects];
}

HRESULT WINAPI FakeSetCooperativeLevel(FakeDevice* self, HWND window, DWORD flags) {
  self->cooperativeWindow = window;
  self->cooperativeFlags = flags;
  return Slot<kSetCooperativeLevel>(self);
}

HRESULT WINAPI FakeSetDataFormat(FakeDevice* self, const DIDATAFORMAT* format) {
  self->dataFormat = format;
  return Slot<kSetDataFormat>(self);
}

HRESULT WINAPI FakeGetDeviceState(FakeDevice* self, DWORD size, void* data) {
  HRESULT hr = Slot<kGetDeviceState>(self);
  if (SUCCEEDED(hr)) memcpy(data, &self->state, size < sizeof(self->state) ? size : sizeof(self->state));
  return hr;
}

template <int... I> void FillSlots(void** table, std::integer_sequence<int, I...>) {
  ((table[I] = reinterpret_cast<void*>(&Slot<I>)), ...);
}

void** DeviceVtable() {
  static void* table[kDeviceSlots];
  static bool made = false;
  if (!made) {
    FillSlots(table, std::make_integer_sequence<int, kDeviceSlots>());
    table[kSetProperty] = reinterpret_cast<void*>(&FakeSetProperty);
    table[kEnumObjects] = reinterpret_cast<void*>(&FakeEnumObjects);
    table[kSetCooperativeLevel] = reinterpret_cast<void*>(&FakeSetCooperativeLevel);
    table[kSetDataFormat] = reinterpret_cast<void*>(&FakeSetDataFormat);
    table[kGetDeviceState] = reinterpret_cast<void*>(&FakeGetDeviceState);
    made = true;
  }
  return table;
}

void InitDevice(FakeDevice* d) {
  d->vtable = DeviceVtable();
  memset(d->calls, 0, sizeof(d->calls));
  memset(d->results, 0, sizeof(d->results));
  memset(d->rangeResults, 0, sizeof(d->rangeResults));
  d->properties.clear();
  d->order.clear();
  d->axisCount = 0;
  d->cooperativeFlags = 0;
  d->cooperativeWindow = nullptr;
  d->dataFormat = nullptr;
  d->enumFlags = 0;
  memset(&d->state, 0, sizeof(d->state));
}

IDirectInputDevice8A* AsDevice(FakeDevice* d) { return reinterpret_cast<IDirectInputDevice8A*>(d); }

// ---- Stand-in DirectInput object ---------------------------------------------------------
struct FakeInput {
  void** vtable;
  // Devices reported per enumeration class (4, 2, 3 = game controllers,
  // pointers, keyboards) and which creations fail (by report number).
  int reported[3];
  std::vector<int> failingCreations;
  std::vector<DWORD> enumClasses;
  std::vector<DWORD> enumFlags;
  int creations;
  int callbacksAfterStop;
  std::vector<GUID> created;      // the GUID of each creation
  HRESULT madeResults[kDeviceSlots]; // scripted results of every device made
  FakeDevice devices[64];
};

int ClassIndex(DWORD deviceClass) { return deviceClass == DI8DEVCLASS_GAMECTRL ? 0 : deviceClass == DI8DEVCLASS_POINTER ? 1 : 2; }

HRESULT WINAPI FakeCreateDevice(FakeInput* self, const GUID* guid, IDirectInputDevice8A** out, IUnknown*) {
  int n = self->creations++;
  self->created.push_back(*guid);
  for (int f : self->failingCreations) {
    if (f == n) {
      *out = nullptr;
      return E_FAIL;
    }
  }
  InitDevice(&self->devices[n]);
  memcpy(self->devices[n].results, self->madeResults, sizeof(self->madeResults));
  *out = AsDevice(&self->devices[n]);
  return DI_OK;
}

HRESULT WINAPI FakeEnumDevices(FakeInput* self, DWORD deviceClass, LPDIENUMDEVICESCALLBACKA callback, void* ref,
                               DWORD flags) {
  self->enumClasses.push_back(deviceClass);
  self->enumFlags.push_back(flags);
  bool stopped = false;
  for (int i = 0; i < self->reported[ClassIndex(deviceClass)]; i++) {
    DIDEVICEINSTANCEA instance;
    memset(&instance, 0, sizeof(instance));
    instance.dwSize = sizeof(instance);
    if (stopped) {
      self->callbacksAfterStop++;
      continue;
    }
    if (callback(&instance, ref) == DIENUM_STOP) stopped = true;
  }
  return DI_OK;
}

void** InputVtable() {
  static void* table[11] = {};
  table[3] = reinterpret_cast<void*>(&FakeCreateDevice);
  table[4] = reinterpret_cast<void*>(&FakeEnumDevices);
  return table;
}

class DevicesTest : public ::testing::Test {
protected:
  void SetUp() override {
    memset(&g_devices, 0, sizeof(g_devices));
    input.vtable = InputVtable();
    input.creations = 0;
    input.callbacksAfterStop = 0;
    memset(input.madeResults, 0, sizeof(input.madeResults));
    g_devices.pDirectInputObject = reinterpret_cast<IDirectInput8A*>(&input);
    g_devices.window = reinterpret_cast<HWND>(0x1234);
  }
  void TearDown() override { memset(&g_devices, 0, sizeof(g_devices)); }
  FakeInput input;
};

TEST_F(DevicesTest, EnumerationFillsSixteenPerClassInClassOrder) {
  input.reported[0] = 2; // the first game controller cannot be created
  input.reported[1] = 1;
  input.reported[2] = 17;
  input.failingCreations = {0};
  LogCapture capture;
  EnumerateDevices();

  ASSERT_EQ(input.enumClasses, (std::vector<DWORD>{4, 2, 3}));
  for (DWORD f : input.enumFlags) EXPECT_EQ(f, static_cast<DWORD>(DIEDFL_ATTACHEDONLY));
  EXPECT_EQ(g_devices.deviceCounts[kClassGameController], 1u);
  EXPECT_EQ(g_devices.deviceCounts[kClassPointer], 1u);
  EXPECT_EQ(g_devices.deviceCounts[kClassKeyboard], 16u);
  // 2 + 1 + 16 creations: the seventeenth keyboard is never created.
  EXPECT_EQ(input.creations, 19);
  EXPECT_EQ(input.callbacksAfterStop, 1);
  EXPECT_EQ(reinterpret_cast<FakeDevice*>(g_devices.devices[0][0]), &input.devices[1]);
  EXPECT_EQ(reinterpret_cast<FakeDevice*>(g_devices.devices[2][15]), &input.devices[18]);

  std::string expected = "pDirectInputObject->EnumDevices [DIDEVTYPE 4]\n"
                         "pDirectInputObject->CreateDevice ... failed. result=0x80004005 []\n"
                         "pDirectInputObject->CreateDevice ... OK.\n"
                         "pDirectInputObject->EnumDevices [DIDEVTYPE 2]\n"
                         "pDirectInputObject->CreateDevice ... OK.\n"
                         "pDirectInputObject->EnumDevices [DIDEVTYPE 3]\n";
  for (int i = 0; i < 16; i++) expected += "pDirectInputObject->CreateDevice ... OK.\n";
  EXPECT_EQ(g_log, expected);

  // Release: every stored device exactly once, counts back to zero.
  ReleaseAllDevices();
  for (int n = 1; n < 19; n++) EXPECT_EQ(input.devices[n].calls[kRelease], 1) << n;
  for (uint32_t c = 0; c < kDeviceClassCount; c++) EXPECT_EQ(g_devices.deviceCounts[c], 0u);
  // A second enumeration starts from an empty table.
  input.reported[0] = 0;
  input.reported[2] = 1;
  input.failingCreations.clear();
  EnumerateDevices();
  EXPECT_EQ(g_devices.deviceCounts[kClassKeyboard], 1u);
  EXPECT_EQ(g_devices.deviceCounts[kClassGameController], 0u);
}

// ---- Desktop composition --------------------------------------------------------------------
BOOL s_compositionOn;
HRESULT s_isEnabledResult, s_enableResult;
int s_enableCalls;
UINT s_enableAction;
HRESULT WINAPI FakeIsEnabled(BOOL* enabled) {
  *enabled = s_compositionOn;
  return s_isEnabledResult;
}
HRESULT WINAPI FakeEnable(UINT action) {
  s_enableCalls++;
  s_enableAction = action;
  return s_enableResult;
}

TEST(CompositionTest, SwitchedOffOnlyWhenOn) {
  struct Case {
    BOOL on;
    HRESULT isEnabled, enable;
    const char* log;
    int enableCalls;
  } cases[] = {
      {TRUE, S_OK, S_OK, "OK.\nDisable Aero ... OK.\n", 1},
      {FALSE, S_OK, S_OK, "OK.\nAero is already disabled.\n", 0},
      {TRUE, S_OK, E_ACCESSDENIED, "OK.\nDisable Aero ... failed. result=0x80070005\n", 1},
      {TRUE, E_FAIL, S_OK, "OK.\n", 0},
  };
  for (const Case& c : cases) {
    s_compositionOn = c.on;
    s_isEnabledResult = c.isEnabled;
    s_enableResult = c.enable;
    s_enableCalls = 0;
    s_enableAction = 99;
    LogCapture capture;
    SwitchOffComposition(FakeIsEnabled, FakeEnable);
    EXPECT_EQ(g_log, c.log);
    EXPECT_EQ(s_enableCalls, c.enableCalls);
    if (c.enableCalls) {
      EXPECT_EQ(s_enableAction, 0u);
    }
  }
  LogCapture capture;
  SwitchOffComposition(FakeIsEnabled, nullptr);
  SwitchOffComposition(nullptr, FakeEnable);
  EXPECT_EQ(g_log, "failed.\nfailed.\n");
}

// ---- Keyboard --------------------------------------------------------------------------------
class DeviceSetupTest : public DevicesTest {
protected:
  void SetUp() override {
    DevicesTest::SetUp();
    InitDevice(&device);
  }
  void Attach(uint32_t deviceClass) {
    g_devices.devices[deviceClass][0] = AsDevice(&device);
    g_devices.deviceCounts[deviceClass] = 1;
  }
  FakeDevice device;
};

TEST_F(DeviceSetupTest, KeyboardSetupStepsAndFlags) {
  LogCapture capture;
  EXPECT_EQ(KeyboardSetupWin32(), kDeviceAbsent); // no keyboard: nothing logged
  EXPECT_EQ(g_log, "");

  Attach(kClassKeyboard);
  device.results[kSetProperty] = E_INVALIDARG; // logged, set-up goes on
  EXPECT_EQ(KeyboardSetupWin32(), 0);
  EXPECT_EQ(g_log, "m.pDirectInputKeyboard->SetDataFormat ... OK.\n"
                   "m.pDirectInputKeyboard->SetCooperativeLevel ... OK.\n"
                   "m.pDirectInputKeyboard->SetProperty ... failed. result=0x80070057 []\n"
                   "m.pDirectInputKeyboard->Acquire ... OK.\n");
  EXPECT_EQ(device.dataFormat, &c_dfDIKeyboard);
  EXPECT_EQ(device.cooperativeFlags, 0x16u);
  EXPECT_EQ(device.cooperativeWindow, g_devices.window);
  ASSERT_EQ(device.properties.size(), 1u);
  EXPECT_EQ(device.properties[0].property, reinterpret_cast<uintptr_t>(&DIPROP_BUFFERSIZE));
  EXPECT_EQ(device.properties[0].how, static_cast<DWORD>(DIPH_DEVICE));
  EXPECT_EQ(device.properties[0].value, 100u);

  // A failing data format ends the set-up there; the keyboard still counts.
  InitDevice(&device);
  device.results[kSetDataFormat] = DIERR_ACQUIRED;
  g_log.clear();
  EXPECT_EQ(KeyboardSetupWin32(), 0);
  EXPECT_EQ(g_log, "m.pDirectInputKeyboard->SetDataFormat ... failed. result=0x800700AA []\n");
  EXPECT_EQ(device.order, (std::vector<int>{kSetDataFormat}));
}

TEST_F(DeviceSetupTest, KeyboardReadReacquiresOnFailure) {
  Attach(kClassKeyboard);
  LogCapture capture;
  ASSERT_EQ(KeyboardSetupWin32(), 0);
  device.order.clear();
  uint8_t keys[256];
  device.state.lX = 0x01020304; // first bytes of the state become the keys
  EXPECT_EQ(KeyboardReadWin32(keys), 0);
  EXPECT_EQ(keys[0], 0x04);
  EXPECT_EQ(device.order, (std::vector<int>{kPoll, kGetDeviceState}));
  device.results[kGetDeviceState] = DIERR_INPUTLOST;
  device.order.clear();
  EXPECT_EQ(KeyboardReadWin32(keys), 1);
  EXPECT_EQ(device.order, (std::vector<int>{kPoll, kGetDeviceState, kAcquire}));
}

// ---- Joystick --------------------------------------------------------------------------------
TEST_F(DeviceSetupTest, JoystickSetupRangesStopAtFirstRefusal) {
  LogCapture capture;
  EXPECT_EQ(JoystickSetupWin32(), kDeviceAbsent);
  EXPECT_EQ(g_log, "");

  Attach(kClassGameController);
  device.axisCount = 3;
  device.axisTypes[0] = 0x00000102;
  device.axisTypes[1] = 0x00000202;
  device.axisTypes[2] = 0x00000302;
  device.rangeResults[1] = E_FAIL; // the third axis is never asked
  device.results[kAcquire] = DIERR_OTHERAPPHASPRIO; // still usable
  EXPECT_EQ(JoystickSetupWin32(), 0);
  EXPECT_EQ(g_log, "m.pDirectInputJoystick->SetDataFormat ... OK.\n"
                   "m.pDirectInputJoystick->SetCooperativeLevel ... OK.\n"
                   "m.pDirectInputJoystick->EnumObjects\n"
                   "m.pDirectInputJoystick->SetProperty ... OK.\n"
                   "m.pDirectInputJoystick->SetProperty ... OK.\n"
                   "m.pDirectInputJoystick->Acquire ... failed. result=0x80070005 []\n");
  EXPECT_EQ(device.dataFormat, &c_dfDIJoystick2);
  EXPECT_EQ(device.cooperativeFlags, 5u);
  EXPECT_EQ(device.enumFlags, static_cast<DWORD>(DIDFT_AXIS));
  ASSERT_EQ(device.properties.size(), 4u);
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(device.properties[i].property, reinterpret_cast<uintptr_t>(&DIPROP_RANGE));
    EXPECT_EQ(device.properties[i].how, static_cast<DWORD>(DIPH_BYID));
    EXPECT_EQ(device.properties[i].object, device.axisTypes[i]);
    EXPECT_EQ(device.properties[i].minimum, -1000);
    EXPECT_EQ(device.properties[i].maximum, 1000);
  }
  EXPECT_EQ(device.properties[2].property, reinterpret_cast<uintptr_t>(&DIPROP_AXISMODE));
  EXPECT_EQ(device.properties[2].value, static_cast<DWORD>(DIPROPAXISMODE_ABS));
  EXPECT_EQ(device.properties[3].property, reinterpret_cast<uintptr_t>(&DIPROP_BUFFERSIZE));
  EXPECT_EQ(device.properties[3].value, 100u);
  EXPECT_EQ(g_devices.pDirectInputJoystick, AsDevice(&device));

  JoystickState state;
  device.state.lY = -1000;
  device.state.rgdwPOV[0] = kHatCentred;
  EXPECT_EQ(JoystickReadWin32(&state), 0);
  EXPECT_EQ(state.lY, -1000);
  EXPECT_EQ(state.rgdwPOV[0], kHatCentred);
}

TEST_F(DeviceSetupTest, JoystickFailingStepMeansNoJoystick) {
  Attach(kClassGameController);
  device.results[kSetCooperativeLevel] = E_HANDLE;
  LogCapture capture;
  EXPECT_EQ(JoystickSetupWin32(), kDeviceAbsent);
  EXPECT_EQ(g_log, "m.pDirectInputJoystick->SetDataFormat ... OK.\n"
                   "m.pDirectInputJoystick->SetCooperativeLevel ... failed. result=0x80070006 []\n");
  EXPECT_EQ(device.order, (std::vector<int>{kSetDataFormat, kSetCooperativeLevel}));
  EXPECT_EQ(g_devices.pDirectInputJoystick, nullptr);
  JoystickState state;
  EXPECT_EQ(JoystickReadWin32(&state), 1); // never read
}

// ---- Mouse -----------------------------------------------------------------------------------
TEST_F(DeviceSetupTest, MouseIsTheSystemMouseReadAsRelativeCounts) {
  LogCapture capture;
  int32_t dx = 9, dy = 9;
  EXPECT_EQ(MouseSetupWin32(), kDeviceAbsent); // no pointer enumerated: nothing made or logged
  EXPECT_EQ(g_log, "");
  EXPECT_EQ(input.creations, 0);
  EXPECT_EQ(MouseReadWin32(&dx, &dy), 1);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);

  Attach(kClassPointer);
  input.madeResults[kAcquire] = DIERR_OTHERAPPHASPRIO; // in the background: still usable
  EXPECT_EQ(MouseSetupWin32(), 0);
  EXPECT_EQ(g_log, "pDirectInputObject->CreateDevice (GUID_SysMouse) ... OK.\n"
                   "m.pDirectInputMouse->SetDataFormat ... OK.\n"
                   "m.pDirectInputMouse->SetCooperativeLevel ... OK.\n"
                   "m.pDirectInputMouse->Acquire ... failed. result=0x80070005 []\n");
  ASSERT_EQ(input.created.size(), 1u);
  EXPECT_TRUE(IsEqualGUID(input.created[0], GUID_SysMouse));
  FakeDevice& mouse = input.devices[0];
  EXPECT_EQ(mouse.dataFormat, &c_dfDIMouse2);
  EXPECT_EQ(mouse.cooperativeFlags, static_cast<DWORD>(DISCL_NONEXCLUSIVE | DISCL_FOREGROUND));
  EXPECT_EQ(mouse.cooperativeWindow, g_devices.window);

  mouse.order.clear();
  mouse.state.lX = 12;
  mouse.state.lY = -7;
  EXPECT_EQ(MouseReadWin32(&dx, &dy), 0);
  EXPECT_EQ(dx, 12);
  EXPECT_EQ(dy, -7);
  EXPECT_EQ(mouse.order, (std::vector<int>{kPoll, kGetDeviceState}));
  mouse.results[kGetDeviceState] = DIERR_NOTACQUIRED;
  mouse.order.clear();
  EXPECT_EQ(MouseReadWin32(&dx, &dy), 1);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  EXPECT_EQ(mouse.order, (std::vector<int>{kPoll, kGetDeviceState, kAcquire}));

  // Released with the table, exactly once; the enumerated pointer too.
  ReleaseAllDevices();
  EXPECT_EQ(mouse.calls[kUnacquire], 1);
  EXPECT_EQ(mouse.calls[kRelease], 1);
  EXPECT_EQ(device.calls[kRelease], 1);
  EXPECT_EQ(g_devices.pDirectInputMouse, nullptr);
  EXPECT_EQ(MouseReadWin32(&dx, &dy), 1);
}

TEST_F(DeviceSetupTest, MouseFailingStepMeansNoMouse) {
  Attach(kClassPointer);
  input.madeResults[kSetCooperativeLevel] = E_HANDLE;
  LogCapture capture;
  EXPECT_EQ(MouseSetupWin32(), kDeviceAbsent);
  EXPECT_EQ(g_log, "pDirectInputObject->CreateDevice (GUID_SysMouse) ... OK.\n"
                   "m.pDirectInputMouse->SetDataFormat ... OK.\n"
                   "m.pDirectInputMouse->SetCooperativeLevel ... failed. result=0x80070006 []\n");
  EXPECT_EQ(input.devices[0].order, (std::vector<int>{kSetDataFormat, kSetCooperativeLevel}));
  EXPECT_EQ(input.devices[0].calls[kRelease], 1); // not kept for a later release
  EXPECT_EQ(g_devices.pDirectInputMouse, nullptr);

  input.failingCreations = {1};
  g_log.clear();
  EXPECT_EQ(MouseSetupWin32(), kDeviceAbsent);
  EXPECT_EQ(g_log, "pDirectInputObject->CreateDevice (GUID_SysMouse) ... failed. result=0x80004005 []\n");
  int32_t dx = 0, dy = 0;
  EXPECT_EQ(MouseReadWin32(&dx, &dy), 1);
}

} // namespace
