#include "tests/raster/raster_harness.h"

#include <cmath>
#include <cstring>

namespace {

void NoVertexStage(const void*, const float*, uint8_t*, uint8_t*, uint32_t) {}

const StageLayout kTestVsIn = {16, 1, {{0, 4}}};
const StageLayout kTestVsOut = {32, 2, {{0, 4}, {16, 4}}};

} // namespace

const StageDescriptor TestVs = {reinterpret_cast<StageFunction>(NoVertexStage), &kTestVsIn, &kTestVsOut, "TestVs"};

void SceneInit(TestScene* scene, uint32_t threads, uint64_t regionBytes) {
  static bool tableFilled = false;
  if (!tableFilled) {
    FillMortonTileTable();
    tableFilled = true;
  }
  memset(&scene->state, 0, sizeof(scene->state));
  scene->state.depthClearState = kClearNone;
  for (uint32_t i = 0; i < kMaxColorTargets; i++) scene->state.colorClearState[i] = kClearNone;
  scene->region.assign(regionBytes / 8 + 1, 0);
  uint8_t* start = reinterpret_cast<uint8_t*>(scene->region.data()) + 4; // only 4-aligned, like the arena
  InitTileBinner(&scene->binner, &scene->state, start, start + regionBytes - 4);
  CreateJobQueue(&scene->binner.jobs, 1024, threads);
  CreateJobQueue(&scene->setupQueue, 1024, threads);
  LinkJobQueues(&scene->setupQueue, &scene->binner.jobs); // as the context links them
}

void SceneDestroy(TestScene* scene) {
  UnlinkJobQueues(&scene->setupQueue, &scene->binner.jobs);
  DestroyJobQueue(&scene->setupQueue);
  DestroyJobQueue(&scene->binner.jobs);
  DestroyTileBinner(&scene->binner);
}

void SceneViewport(TestScene* scene, int32_t x, int32_t y, int32_t w, int32_t h, float depthNear, float depthFar) {
  DeriveViewport(&scene->state, x, y, w, h);
  DeriveDepthRange(&scene->state, depthNear, depthFar);
}

void SceneDraw(TestScene* scene, const std::vector<TestVertex>& vertices, const std::vector<TestTriangle>& triangles,
               const std::vector<PipelineState>& pipelines) {
  scene->slotStorage.assign(vertices.size() * kTestSlotStride / 4 + 1, 0);
  uint8_t* slots = reinterpret_cast<uint8_t*>(scene->slotStorage.data());
  for (size_t i = 0; i < vertices.size(); i++) {
    VertexSlot* slot = reinterpret_cast<VertexSlot*>(slots + i * kTestSlotStride);
    slot->vertexIndex = (int32_t)i;
    slot->position[0] = vertices[i].x;
    slot->position[1] = vertices[i].y;
    slot->position[2] = vertices[i].z;
    slot->position[3] = vertices[i].w;
    memcpy(VertexSlotOutputs(slot), vertices[i].out, sizeof(vertices[i].out));
  }
  scene->records.resize(triangles.size());
  for (size_t i = 0; i < triangles.size(); i++) {
    TriangleRecord& r = scene->records[i];
    r.pipeline = &pipelines[triangles[i].pipeline];
    for (int k = 0; k < 3; k++) r.vertices[k] = reinterpret_cast<VertexSlot*>(slots + triangles[i].v[k] * kTestSlotStride);
  }
  scene->setupJobs.clear();
  for (size_t i = 0; i < triangles.size(); i += kSetupRunLength) {
    size_t end = i + kSetupRunLength < triangles.size() ? i + kSetupRunLength : triangles.size();
    scene->setupJobs.push_back(SetupJob{&scene->binner, &scene->records[i], scene->records.data() + end, 0, kSetupWaiting});
  }
  OpenBins(&scene->binner);
  scene->binner.queueBase = scene->records.data();
  if (!scene->setupJobs.empty()) {
    SubmitSetupJobs(&scene->setupQueue, &scene->binner, scene->setupJobs.data(), (uint32_t)scene->setupJobs.size());
    WaitJobs(&scene->setupQueue);
  }
  RunTilePass(&scene->binner);
}

void SceneFlushClears(TestScene* scene) {
  OpenBins(&scene->binner);
  RunTilePass(&scene->binner);
}

PipelineState DefaultPipeline() {
  PipelineState p;
  memset(&p, 0, sizeof(p));
  p.frontFace = 2;
  p.cullMode = CullMode::CullNone;
  p.depthCompare = CompareFunction::Always;
  p.depthTestEnable = 1;
  p.vertexStage = &TestVs;
  return p;
}

void PixelToClip(const RenderState* s, double px, double py, double w, float* x, float* y) {
  *x = (float)((2.0 * (px - s->viewportX) / s->viewportWidth - 1.0) * w);
  *y = (float)((2.0 * (py - s->viewportY) / s->viewportHeight - 1.0) * w);
}

void PrepareReference(const ExactTriangle& t, ReferenceTriangle* r) {
  // Edge opposite vertex i is the cross product of the other two; with
  // coordinates below 2^14 every product fits 64 bits exactly.
  for (int i = 0; i < 3; i++) {
    int j = (i + 1) % 3, k = (i + 2) % 3;
    r->a[i] = t.Y[j] * t.W[k] - t.W[j] * t.Y[k];
    r->b[i] = t.W[j] * t.X[k] - t.X[j] * t.W[k];
    r->c[i] = t.X[j] * t.Y[k] - t.X[k] * t.Y[j];
  }
  int64_t D = r->a[0] * t.X[0] + r->b[0] * t.Y[0] + r->c[0] * t.W[0];
  r->valid = D != 0;
  if (D < 0) {
    for (int i = 0; i < 3; i++) {
      r->a[i] = -r->a[i];
      r->b[i] = -r->b[i];
      r->c[i] = -r->c[i];
    }
    D = -D;
  }
  r->nearPlane = r->farPlane = 0;
  r->zx = r->zy = r->z0 = 0;
  for (int i = 0; i < 3; i++) {
    if (!(t.z[i] >= -t.zw[i])) r->nearPlane = 1;
    if (t.z[i] > t.zw[i]) r->farPlane = 1;
    if (D != 0) {
      r->zx += t.z[i] * (double)r->a[i] / (double)D;
      r->zy += t.z[i] * (double)r->b[i] / (double)D;
      r->z0 += t.z[i] * (double)r->c[i] / (double)D;
    }
  }
}

int32_t ReferenceCoverage(const RenderState* s, const ReferenceTriangle& r, int32_t px, int32_t py) {
  int64_t vx = s->viewportX, vy = s->viewportY, vw = s->viewportWidth, vh = s->viewportHeight;
  if (!r.valid || px < vx || py < vy || px >= vx + vw || py >= vy + vh) return 0;
  // Pixel centre as an exact homogeneous point (NDC scaled by vw*vh).
  int64_t P0 = (2 * px + 1 - 2 * vx - vw) * vh, P1 = (2 * py + 1 - 2 * vy - vh) * vw, P2 = vw * vh;
  for (int i = 0; i < 3; i++) {
    int64_t f = r.a[i] * P0 + r.b[i] * P1 + r.c[i] * P2;
    bool inside = f > 0 || (f == 0 && (r.a[i] > 0 || (r.a[i] == 0 && r.b[i] > 0)));
    if (!inside) return 0;
  }
  if (!r.nearPlane && !r.farPlane) return 1;
  double X = (double)P0 / (double)P2, Y = (double)P1 / (double)P2;
  double z = r.zx * X + r.zy * Y + r.z0;
  // Near and far edges keep 14 significant bits: leave a band around them.
  double reach = std::fabs(X) + std::fabs(Y) + 1, slack = 1.0 / 2048;
  double slope = std::fmax(std::fabs(r.zx), std::fabs(r.zy));
  if (r.nearPlane) {
    if (std::fabs(z + 1) <= slack * std::fmax(slope, std::fabs(r.z0 + 1)) * reach) return -1;
    if (z < -1) return 0;
  }
  if (r.farPlane) {
    if (std::fabs(z - 1) <= slack * std::fmax(slope, std::fabs(r.z0 - 1)) * reach) return -1;
    if (z > 1) return 0;
  }
  return 1;
}

int32_t ReferenceLambda(const RenderState* s, const TestVertex* v[3], int32_t px, int32_t py, double lambda[3]) {
  double X = (2.0 * (px + 0.5 - s->viewportX) / s->viewportWidth) - 1.0;
  double Y = (2.0 * (py + 0.5 - s->viewportY) / s->viewportHeight) - 1.0;
  double m[3][3];
  for (int i = 0; i < 3; i++) {
    m[i][0] = v[i]->x;
    m[i][1] = v[i]->y;
    m[i][2] = v[i]->w;
  }
  // Solve P = sum lambda_i v_i by Cramer's rule (columns are the vertices).
  auto det3 = [](double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  double D = det3(m);
  if (D == 0) return 0;
  double P[3] = {X, Y, 1};
  for (int i = 0; i < 3; i++) {
    double r[3][3];
    memcpy(r, m, sizeof(r));
    for (int k = 0; k < 3; k++) r[i][k] = P[k];
    lambda[i] = det3(r) / D;
  }
  return 1;
}
