/* Preloaded into qvdelay by the Linux end-to-end test: records the time of
 * every SDL_RenderPresent call (render thread) and every SDL_GetKeyboardState
 * call (main thread: the keyboard reads), and writes them at exit to the
 * file named by QV_E2E_TRACE as lines "P <ns>" and "K <ns>" (CLOCK_MONOTONIC).
 * The program itself is not changed for the test. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef struct SDL_Renderer SDL_Renderer;

#define TRACE_CAPACITY (1u << 18)
static uint64_t s_presents[TRACE_CAPACITY];
static uint32_t s_presentCount;
static uint64_t s_reads[TRACE_CAPACITY];
static uint32_t s_readCount;

static uint64_t NowNs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

void SDL_RenderPresent(SDL_Renderer* renderer) {
  static void (*real)(SDL_Renderer*);
  if (!real) real = (void (*)(SDL_Renderer*))dlsym(RTLD_NEXT, "SDL_RenderPresent");
  if (s_presentCount < TRACE_CAPACITY) s_presents[s_presentCount++] = NowNs();
  real(renderer);
}

const uint8_t* SDL_GetKeyboardState(int* numkeys) {
  static const uint8_t* (*real)(int*);
  if (!real) real = (const uint8_t* (*)(int*))dlsym(RTLD_NEXT, "SDL_GetKeyboardState");
  if (s_readCount < TRACE_CAPACITY) s_reads[s_readCount++] = NowNs();
  return real(numkeys);
}

__attribute__((destructor)) static void WriteTrace(void) {
  const char* path = getenv("QV_E2E_TRACE");
  if (!path || !*path) return;
  FILE* f = fopen(path, "w");
  if (!f) return;
  for (uint32_t i = 0; i < s_presentCount; i++) fprintf(f, "P %llu\n", (unsigned long long)s_presents[i]);
  for (uint32_t i = 0; i < s_readCount; i++) fprintf(f, "K %llu\n", (unsigned long long)s_reads[i]);
  fclose(f);
}
