// Code for AVX2 next to code that runs on any x86-64: whether the processor
// has it, and the markers around a region compiled for it. Put every include
// before QV_AVX2_BEGIN, so no inline function of another header is compiled
// for AVX2 (the linker could keep that copy for callers that run anywhere).
// No FMA is enabled: a fused multiply-add would round differently.
#pragma once

#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QV_HAVE_AVX2_CODE 1
#if defined(__clang__)
#define QV_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define QV_AVX2_END _Pragma("clang attribute pop")
#else
#define QV_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define QV_AVX2_END _Pragma("GCC pop_options")
#endif
#else
#define QV_HAVE_AVX2_CODE 0
#endif

// 1 when the processor (and the system) can run AVX2 code; asked once.
int32_t CpuHasAvx2();
