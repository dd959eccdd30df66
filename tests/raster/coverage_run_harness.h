// Coverage of random triangles against the exact integer reference.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/raster/coverage_harness.h"

struct CoverageStats {
  uint64_t triangles = 0;
  uint64_t pixelsChecked = 0;
  uint64_t pixelsCovered = 0;
  uint64_t banded = 0; // too close to a near or far plane to call
  uint64_t mismatches = 0;
  int32_t outside = 0;
};

// Draws batches of 256 triangles, each with its own hit grid, into random
// viewports, and compares every viewport pixel with the reference.
inline CoverageStats RunCoverage(uint64_t triangleCount, uint64_t seed, uint32_t threads) {
  CoverageStats stats;
  TestScene scene;
  SceneInit(&scene, threads, 64ull << 20);
  TriangleGen gen(seed);
  const uint32_t batch = 256;
  std::vector<TestVertex> vertices(batch * 3);
  std::vector<TestTriangle> triangles(batch);
  std::vector<PipelineState> pipelines(batch);
  std::vector<ExactTriangle> exact(batch);
  std::vector<HitGrid> grids(batch);
  std::vector<uint16_t> counts;
  std::atomic<int32_t> outside{0};
  for (uint64_t done = 0; done < triangleCount; done += batch) {
    int32_t vx = (int32_t)gen.Int(0, 40), vy = (int32_t)gen.Int(0, 40);
    int32_t vw = (int32_t)gen.Int(1, 80), vh = (int32_t)gen.Int(1, 80);
    SceneViewport(&scene, vx, vy, vw, vh);
    counts.assign((size_t)batch * vw * vh, 0);
    for (uint32_t i = 0; i < batch; i++) {
      gen.Make(&vertices[i * 3], &exact[i]);
      triangles[i] = TestTriangle{{i * 3, i * 3 + 1, i * 3 + 2}, i};
      grids[i] = HitGrid{&counts[(size_t)i * vw * vh], vx, vy, vw, vh, &outside};
      pipelines[i] = DefaultPipeline();
      pipelines[i].depthTestEnable = 0;
      pipelines[i].blendStage = HitBs();
      pipelines[i].blendConstants.data = &grids[i];
    }
    SceneDraw(&scene, vertices, triangles, pipelines);
    for (uint32_t i = 0; i < batch; i++) {
      ReferenceTriangle ref;
      PrepareReference(exact[i], &ref);
      stats.triangles++;
      for (int32_t y = vy; y < vy + vh; y++)
        for (int32_t x = vx; x < vx + vw; x++) {
          int32_t expected = ReferenceCoverage(&scene.state, ref, x, y);
          if (expected < 0) {
            stats.banded++;
            continue;
          }
          uint16_t got = grids[i].counts[(y - vy) * vw + (x - vx)];
          stats.pixelsChecked++;
          stats.pixelsCovered += got;
          if (got != (uint16_t)expected) {
            if (stats.mismatches < 5) {
              const ExactTriangle& t = exact[i];
              printf("mismatch viewport (%d,%d,%d,%d) pixel (%d,%d) got %u want %d; ints (%lld,%lld,%lld) (%lld,%lld,%lld) "
                     "(%lld,%lld,%lld) z %g %g %g\n",
                     vx, vy, vw, vh, x, y, got, expected, (long long)t.X[0], (long long)t.Y[0], (long long)t.W[0],
                     (long long)t.X[1], (long long)t.Y[1], (long long)t.W[1], (long long)t.X[2], (long long)t.Y[2],
                     (long long)t.W[2], t.z[0], t.z[1], t.z[2]);
            }
            stats.mismatches++;
          }
        }
    }
  }
  stats.outside = outside.load();
  SceneDestroy(&scene);
  return stats;
}
