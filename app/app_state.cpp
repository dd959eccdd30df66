// The application's process-wide records, the platform table and test hooks.
#include <cstring>

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

void AppSetSeedForTest(int32_t enabled, uint32_t seed) {
  g_appHooks.seedOverride = enabled;
  g_appHooks.seed = seed;
}

void AppSetProcessorCountForTest(uint32_t processorCount) { g_appHooks.processorCount = processorCount; }

void AppSetClockForTest(uint64_t (*clock)(void* user), void* user) {
  g_appHooks.clock = clock;
  g_appHooks.clockUser = user;
}

void AppSetCreateContextForTest(int32_t (*createContext)(QvGfxContext*, uint32_t)) {
  g_appHooks.createContext = createContext;
}

void AppSetResultsPath(const char* path) {
  g_appHooks.resultsPathSet = path != nullptr;
  g_appHooks.resultsPath[0] = 0;
  if (path != nullptr) FormatBounded(g_appHooks.resultsPath, sizeof(g_appHooks.resultsPath), "%s", path);
}

void AppSetLocalTimeForTest(uint32_t (*localTime)()) { g_appHooks.localTime = localTime; }

void AppSetFailStartupStepForTest(int32_t step) { g_appHooks.failStartupStep = step; }

void AppSetUpgradeStopForTest(int32_t steps) { g_appHooks.upgradeStopAfter = steps; }

void AppResetForTest() {
  const Platform* platform = g_appRuntime.platform;
  memset(static_cast<void*>(&g_app), 0, sizeof(g_app));
  memset(static_cast<void*>(&g_appRuntime), 0, sizeof(g_appRuntime));
  g_appRuntime.platform = platform;
  AppOptions options;
  AppOptionsDefault(&options);
  AppSetOptions(&options);
  ResetDisplayRateForTest();
  ResultsResetForTest();
}
