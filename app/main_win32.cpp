// Program entry on Windows: options, console, DPI awareness, working directory, the
// main window, the platform devices, and the application's frame loop.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/app.h"
#include "app/options.h"
#include "app/platform_win32.h"
#include "present/d3d12_win32.h"
#include "runtime/runtime.h"

namespace {

constexpr SHORT kConsoleColumns = 80;
constexpr SHORT kConsoleRows = 4095;

void OpenConsole() {
  AllocConsole();
  COORD size = {kConsoleColumns, kConsoleRows};
  SetConsoleScreenBufferSize(GetStdHandle(STD_OUTPUT_HANDLE), size);
  FILE* stream = nullptr;
  stream = freopen("conin$", "r", stdin);
  stream = freopen("conout$", "w", stdout);
  stream = freopen("conout$", "w", stderr);
  (void)stream;
}

// Wide calls: a folder name outside the system code page has no ANSI form,
// and the log and the results record would land in the starting folder.
void EnterExecutableDirectory() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return;
  wchar_t* cut = wcsrchr(path, L'\\');
  if (!cut) return;
  *cut = 0;
  SetCurrentDirectoryW(path);
}

void SetDpiAwareness() {
  // Looked up at run time: the call is missing before Windows 10 1703.
  typedef BOOL(WINAPI * SetContextFn)(HANDLE);
  HMODULE user32 = GetModuleHandleA("user32.dll");
  auto set = user32 ? reinterpret_cast<SetContextFn>(
                          reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                    : nullptr;
  if (set) set(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4)));
}

HICON LoadModuleIcon(HINSTANCE instance, const char* name) {
  HICON icon = LoadIconA(instance, name);
  return icon ? icon : LoadIconA(nullptr, IDI_APPLICATION);
}

void DrainUntilQuit() {
  while (!PumpMessagesWin32()) {
  }
}

// A GUI program has no console of its own: the text goes to the standard
// stream it was given (a pipe, a file, Wine's terminal), else to the console
// of the shell that started it, else (started from Explorer) to a console
// opened for it. 1 when one was opened.
int32_t ReachConsole(DWORD which, FILE* stream) {
  HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) return 0;
  int32_t opened = 0;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (!AllocConsole()) return 0;
    opened = 1;
  }
  FILE* reopened = freopen("conout$", "w", stream);
  (void)reopened;
  return opened;
}

// A console opened for the text closes with the process: it stays until a
// key is pressed, at most kHoldMillis, so the text can be read.
constexpr DWORD kHoldMillis = 30000;

void HoldOpenedConsole(FILE* stream) {
  fprintf(stream, "\n(press a key to close this window)\n");
  fflush(stream);
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  FlushConsoleInputBuffer(input);
  DWORD start = GetTickCount();
  for (;;) {
    DWORD spent = GetTickCount() - start;
    if (spent >= kHoldMillis || WaitForSingleObject(input, kHoldMillis - spent) != WAIT_OBJECT_0) break;
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputA(input, &record, 1, &read)) break;
    if (read == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
  }
  CloseHandle(input);
}

// --help, --version and a bad command line end here, before the window, the
// console for the log or any log line. 0 when the program goes on.
int32_t HandleCommandLine(int argc, char** argv, AppOptions* options, int32_t* exitCode) {
  const char* usage = "usage: qvdelay [options]";
  char error[320];
  int first = 1;
  CommandLineVerdict verdict = kCommandLineRun;
  if (argv == nullptr) AppOptionsDefault(options); // no narrow arguments: the defaults
  else verdict = JudgeCommandLine(argc, argv, "qvdelay", usage, 0, 0, options, &first, error, sizeof(error));
  if (verdict == kCommandLineRun) return 0;
  FILE* stream = verdict == kCommandLineBad ? stderr : stdout;
  int32_t opened = ReachConsole(verdict == kCommandLineBad ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, stream);
  *exitCode = AnswerCommandLine(verdict, usage, error, stream, stream);
  fflush(stream);
  if (opened) HoldOpenedConsole(stream);
  return 1;
}

} // namespace

int32_t AppMain(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand) {
  // The options come from the C runtime's argv (quoting rules of Windows).
  AppOptions options;
  int32_t exitCode = 0;
  if (HandleCommandLine(__argc, __argv, &options, &exitCode)) return exitCode;
  AppSetOptions(&options);
  g_win32App.instance = instance;
  SetDpiAwareness();
  OpenConsole();
  MemInitialize();
  EnterExecutableDirectory();

  WNDCLASSEXA wc;
  memset(&wc, 0, sizeof(wc));
  wc.cbSize = sizeof(WNDCLASSEXA);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadModuleIcon(instance, "IDI_ICON");
  wc.hIconSm = LoadModuleIcon(instance, "IDI_SMALL_ICON");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = "MAIN WINDOW";
  LogPrintf("RegisterClassEx() ... ");
  if (!RegisterClassExA(&wc)) {
    LogPrintf("failed.\n");
    g_win32App.mainWindow = nullptr;
    return 1;
  }
  LogPrintf("OK.\n");

  LogPrintf("CreateWindow() ... ");
  HWND window = CreateWindowExA(0, "MAIN WINDOW", "", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                                240, nullptr, nullptr, instance, nullptr);
  if (!window) {
    LogPrintf("failed.\n");
    g_win32App.mainWindow = nullptr;
    return 1;
  }
  LogPrintf("OK.\n");
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  g_win32App.mainWindow = window;

  AppSetPlatform(&g_win32Platform);
  g_win32Platform.DevicesSetup();
  int32_t result = 1;
  if (AppInitialize() == 0) result = AppRunFrameLoop();
  // A removed device closed the window: a normal shut-down, but a failure.
  if (d3d12::PresenterDeviceLost()) result = 1;

  DestroyWindow(window);
  DrainUntilQuit();
  g_win32Platform.DevicesRelease();

  MemFinalize();
  return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  return AppMain(instance, previous, commandLine, showCommand);
}
