// Setters of the application's test hooks, and the reset between tests. Kept
// apart from the records so that the results record, which reads the hooks,
// and the reset, which clears the record, call each other through no file.
#include <cstring>

#include "app/app.h"
#include "app/app_internal.h"
#include "app/app_testing.h"

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
