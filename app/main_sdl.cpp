// Entry routine of the Linux program: SDL2 in place of the Win32 window,
// DirectInput and Direct3D 12.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include "app/app.h"
#include "app/platform_sdl.h"
#include "runtime/runtime.h"

static int32_t AppMain() {
  MemInitialize();
  // app_log.txt goes beside the program, wherever it was started from.
  char directory[4096];
  if (OsExecutableDirectory(directory, sizeof(directory)) == 0) OsSetWorkingDirectory(directory);
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

int main(int, char**) { return AppMain(); }
