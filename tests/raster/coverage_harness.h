// Random triangles with exactly known integer clip coordinates, and a blend
// stage that counts the pixels each triangle reaches.
#pragma once

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "tests/raster/raster_harness.h"

struct HitGrid {
  uint16_t* counts; // width * height, origin at (x0, y0)
  int32_t x0, y0, width, height;
  std::atomic<int32_t>* outside;
};

inline PixelRecord** HitBsRun(const void* constants, PixelRecord** first, PixelRecord** end) {
  const HitGrid* g = static_cast<const HitGrid*>(constants);
  for (PixelRecord** it = first; it != end; ++it) {
    int32_t x = (int32_t)(*it)->x - g->x0, y = (int32_t)(*it)->y - g->y0;
    if (x < 0 || y < 0 || x >= g->width || y >= g->height) g->outside->fetch_add(1);
    else g->counts[y * g->width + x]++;
  }
  return end;
}

inline const StageDescriptor* HitBs() {
  static const StageLayout layout = {16, 1, {{0, 4}}};
  static const StageDescriptor d = {reinterpret_cast<StageFunction>(HitBsRun), &layout, &layout, "HitBs"};
  return &d;
}

// One vertex from integers below 2^14 and a power-of-two scale: the block
// fixed-point conversion keeps such values exactly.
inline void MakeExactVertex(int64_t X, int64_t Y, int64_t W, float zUnits, int32_t k, TestVertex* v, ExactTriangle* t,
                            int i) {
  memset(v, 0, sizeof(*v));
  v->x = std::ldexp((float)X, k);
  v->y = std::ldexp((float)Y, k);
  v->w = std::ldexp((float)W, k);
  v->z = std::ldexp(zUnits, k);
  t->X[i] = X;
  t->Y[i] = Y;
  t->W[i] = W;
  t->z[i] = zUnits;
  t->zw[i] = (double)W;
}

struct TriangleGen {
  std::mt19937_64 rng;
  explicit TriangleGen(uint64_t seed) : rng(seed) {}
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
  int64_t Int(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); }

  int64_t Clamp14(double v) {
    if (v > 16383) return 16383;
    if (v < -16383) return -16383;
    return (int64_t)std::llround(v);
  }

  // Kinds: ordinary, tiny, huge (far into the guard band), w < 0, crossing
  // near and far, anything.
  void Make(TestVertex v[3], ExactTriangle* t) {
    int kind = (int)Int(0, 5);
    double cx = Uniform(-1.2, 1.2), cy = Uniform(-1.2, 1.2);
    for (int i = 0; i < 3; i++) {
      int64_t W = 1;
      double nx = 0, ny = 0, zr = Uniform(-0.95, 0.95);
      switch (kind) {
      case 0: W = Int(256, 16383); nx = Uniform(-1.4, 1.4); ny = Uniform(-1.4, 1.4); break;
      case 1: W = Int(4096, 16383); nx = cx + Uniform(-0.06, 0.06); ny = cy + Uniform(-0.06, 0.06); break;
      case 2: W = Int(1, 60); nx = Uniform(-250, 250); ny = Uniform(-250, 250); break;
      case 3: W = Int(-8000, 8000); nx = Uniform(-1.5, 1.5); ny = Uniform(-1.5, 1.5); zr = Uniform(-3, 3); break;
      case 4: W = Int(256, 16383); nx = Uniform(-1.3, 1.3); ny = Uniform(-1.3, 1.3); zr = Uniform(-2.5, 2.5); break;
      default: W = Int(-16383, 16383); nx = Uniform(-16383, 16383) / (W ? (double)std::llabs(W) : 1.0); ny = Uniform(-16383, 16383) / (W ? (double)std::llabs(W) : 1.0); zr = Uniform(-3, 3); break;
      }
      double absW = W < 0 ? -(double)W : (double)W;
      if (absW == 0) absW = 1;
      int64_t X = Clamp14(nx * absW), Y = Clamp14(ny * absW);
      float z = (float)(zr * absW);
      int32_t k = (int32_t)Int(-12, 12);
      MakeExactVertex(X, Y, W, z, k, &v[i], t, i);
    }
  }
};
