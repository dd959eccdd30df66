// Entry routine of the Linux program: SDL2 in place of the Win32 window,
// DirectInput and Direct3D 12.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "app/platform_sdl.h"
#include "runtime/data_directory.h"
#include "runtime/runtime.h"

// mkdir -p for a path with a trailing '/'; new folders are the user's alone.
static void CreateDirectories(const char* path) {
  char partial[4096];
  size_t length = strlen(path);
  if (length >= sizeof(partial)) return;
  memcpy(partial, path, length + 1);
  for (size_t i = 1; i < length; ++i) {
    if (partial[i] != '/') continue;
    partial[i] = 0;
    mkdir(partial, 0700);
    partial[i] = '/';
  }
}

// app_log.txt and qvdelay_results.csv go beside the program, wherever it was
// started from; an installed program (in a folder the user cannot write)
// uses the user's state folder instead (runtime/data_directory.h).
static void EnterDataDirectory() {
  char directory[4096];
  if (OsExecutableDirectory(directory, sizeof(directory)) != 0) return;
  char chosen[4096];
  int32_t writable = access(directory, W_OK) == 0;
  if (DataDirectoryChoose(directory, writable, getenv("XDG_STATE_HOME"), getenv("HOME"), chosen, sizeof(chosen)) == 0) {
    if (!writable) CreateDirectories(chosen);
    if (OsSetWorkingDirectory(chosen) == 0) return;
  }
  OsSetWorkingDirectory(directory);
}

static int32_t AppMain() {
  MemInitialize();
  EnterDataDirectory();
  SDL_SetMainReady();
  const Platform* platform = SdlPlatform();
  AppSetPlatform(platform);
  platform->DevicesSetup();
  int32_t result = 1;
  if (AppInitialize() == 0) result = AppRunFrameLoop();
  SdlDestroyWindow();
  platform->DevicesRelease();
  LogPrintf("SDL_Quit();\n");
  SDL_Quit();
  MemFinalize();
  return result;
}

// Options first: --help, --version and a bad command line end here, before
// any window or log exists.
int main(int argc, char** argv) {
  AppOptions options;
  int first = 1;
  int32_t exitCode =
      TakeCommandLine(argc, argv, "qvdelay", "usage: qvdelay [options]", 0, 0, &options, &first, stdout, stderr);
  if (exitCode != kOptionsGoOn) return exitCode;
  AppSetOptions(&options);
  return AppMain();
}
