// The application's process-wide records, the platform table and the clock
// they go by (the hooks' setters are in app_testing.cpp).
#include "app/app.h"
#include "app/app_testing.h"
#include "app/app_internal.h"

AppState g_app;
AppRuntime g_appRuntime;
AppHooks g_appHooks;

uint64_t AppElapsedMicroseconds() {
  if (g_appHooks.clock != nullptr) return g_appHooks.clock(g_appHooks.clockUser);
  return StopwatchElapsed(&g_appRuntime.clock);
}

uint32_t AppLocalSeconds() { return g_appHooks.localTime != nullptr ? g_appHooks.localTime() : LocalTimeSeconds(); }

void AppSetPlatform(const Platform* platform) { g_appRuntime.platform = platform; }
const Platform* AppGetPlatform() { return g_appRuntime.platform; }
