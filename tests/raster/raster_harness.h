// Drives set-up, binning and the tile pass directly: vertex slots and
// triangle records are written by hand, as the front end would leave them.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "raster/raster_internal.h"
#include "raster/raster_testing.h"

// Vertex slot as the tests lay it out: header + 8 output floats.
constexpr uint32_t kTestOutputFloats = 8;
constexpr uint32_t kTestSlotStride = kVertexSlotHeaderBytes + 4 * kTestOutputFloats;

struct TestVertex {
  float x, y, z, w;
  float out[kTestOutputFloats];
};

struct TestTriangle {
  uint32_t v[3];     // indices into the vertex array
  uint32_t pipeline; // index into the pipeline array
};

// Vertex stage whose outputs the tests write themselves: 8 floats in two
// entries. Its function is never called.
extern const StageDescriptor TestVs;

struct TestScene {
  RenderState state;
  TileBinner binner;
  JobQueue setupQueue;
  std::vector<uint64_t> region; // the bin region, 8-byte aligned
  std::vector<uint32_t> slotStorage;
  std::vector<TriangleRecord> records;
  std::vector<SetupJob> setupJobs;
};

// threads: 1 runs every job inline.
void SceneInit(TestScene* scene, uint32_t threads, uint64_t regionBytes);
void SceneDestroy(TestScene* scene);
void SceneViewport(TestScene* scene, int32_t x, int32_t y, int32_t w, int32_t h, float depthNear = 0.0f,
                   float depthFar = 1.0f);
// Sets up and bins every triangle (16 per set-up job), then runs the tile pass.
void SceneDraw(TestScene* scene, const std::vector<TestVertex>& vertices, const std::vector<TestTriangle>& triangles,
               const std::vector<PipelineState>& pipelines);
// Opens the bins (so pending clears are carried out) and runs the tile pass.
void SceneFlushClears(TestScene* scene);

PipelineState DefaultPipeline();

// Screen position helper: NDC (y down) of a pixel-space point in the viewport.
void PixelToClip(const RenderState* s, double px, double py, double w, float* x, float* y);

// Exact-integer homogeneous reference for a triangle of integer clip
// coordinates (x, y, w as integers times one power of two per vertex).
struct ExactTriangle {
  int64_t X[3], Y[3], W[3];
  double z[3], zw[3]; // z and w as given (for near/far)
};

// Edges normalised so the inside is positive; built once per triangle.
struct ReferenceTriangle {
  int32_t valid;    // 0 when degenerate
  int64_t a[3], b[3], c[3]; // edge opposite vertex i, inside >= 0
  int32_t nearPlane, farPlane;
  double zx, zy, z0; // z/w at NDC (X, Y) on the triangle's plane
};

void PrepareReference(const ExactTriangle& t, ReferenceTriangle* r);
// 1 covered, 0 not, -1 too close to the near or far plane to call. Pixel
// centres on an edge follow the top-left rule.
int32_t ReferenceCoverage(const RenderState* s, const ReferenceTriangle& r, int32_t px, int32_t py);

// Barycentric weights lambda_i at a pixel centre (P = sum lambda_i v_i with
// P's w = 1). Returns 0 when the triangle is degenerate.
int32_t ReferenceLambda(const RenderState* s, const TestVertex* v[3], int32_t px, int32_t py, double lambda[3]);
