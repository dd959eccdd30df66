// Shared between the application's own files.
#pragma once

#include <cstdint>

#include "app/app.h"

struct AppHooks {
  int32_t seedOverride;
  uint32_t seed;
  uint32_t processorCount;
  uint64_t (*clock)(void* user);
  void* clockUser;
  int32_t (*createContext)(QvGfxContext* context, uint32_t processorCount);
};

extern AppHooks g_appHooks;

// Microseconds since AppInitialize started the application clock.
uint64_t AppElapsedMicroseconds();
