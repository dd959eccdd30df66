// Program entry on Windows: console, DPI awareness, working directory, the
// main window, the platform devices, and the application's frame loop.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/app.h"
#include "app/platform_win32.h"
#include "present/d3d12_win32.h"
#include "runtime/runtime.h"
#include "version.h"

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
  MSG message;
  while (!g_win32App.bQuitSeen) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        g_win32App.bQuitSeen = 1;
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

char* CopyCommandLine(const char* commandLine) {
  uint64_t length = commandLine ? strlen(commandLine) : 0;
  char* copy = static_cast<char*>(MemAlloc(length + 1));
  if (copy) {
    if (length) memcpy(copy, commandLine, length);
    copy[length] = 0;
  }
  return copy;
}

// "--version" alone on the command line (blanks around it allowed).
bool AsksForVersion(const char* commandLine) {
  if (!commandLine) return false;
  while (*commandLine == ' ' || *commandLine == '\t') ++commandLine;
  const char kOption[] = "--version";
  if (strncmp(commandLine, kOption, sizeof(kOption) - 1) != 0) return false;
  for (const char* c = commandLine + sizeof(kOption) - 1; *c; ++c)
    if (*c != ' ' && *c != '\t') return false;
  return true;
}

// A GUI program has no console of its own: the text goes to the standard
// output it was given (a pipe, a file, Wine's terminal) or else to the
// console of the shell that started it.
void PrintVersion() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
      FILE* stream = freopen("conout$", "w", stdout);
      (void)stream;
    }
  }
  printf("qvdelay %s\n", QV_VERSION_STRING);
  fflush(stdout);
}

} // namespace

int32_t AppMain(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand) {
  if (AsksForVersion(commandLine)) {
    PrintVersion();
    return 0;
  }
  g_win32App.instance = instance;
  SetDpiAwareness();
  OpenConsole();
  MemInitialize();
  char* commandLineCopy = CopyCommandLine(commandLine); // kept only; there are no options
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

  MemFree(commandLineCopy);
  MemFinalize();
  return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  return AppMain(instance, previous, commandLine, showCommand);
}
