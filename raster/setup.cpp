// Triangle set-up: integer edge functions straight from homogeneous clip
// coordinates (no clipping), planes for 1/w, depth and the interpolated
// values, and binning into the tiles the triangle may touch.
#include <cfloat>
#include <cmath>

#include "raster/bin_internal.h"
#include "runtime/spin.h"

namespace {

// The clip planes a vertex lies beyond, one bit each. Top and bottom are
// the bounds of the smallest and largest y.
enum Outcode : uint32_t {
  kOutLeft = 1,    // x < -w
  kOutRight = 2,   // x > w
  kOutTop = 4,     // y < -w
  kOutBottom = 8,  // y > w
  kOutNear = 16,   // z < -w (or z unordered)
  kOutFar = 32,    // z > w
  kOutDepth = kOutNear | kOutFar,
};

struct SetupVertex {
  int32_t X, Y, W;   // block fixed point
  double scale;      // X = scale * x (a power of two)
  double x, y, w, z; // truncated x, y, w; z as given
  uint32_t outcode;  // Outcode bits
};

// Double to float without relying on out-of-range conversions.
float ToFloat(double v) {
  if (v > FLT_MAX) return INFINITY;
  if (v < -FLT_MAX) return -INFINITY;
  return (float)v;
}

int32_t LoadVertex(const VertexSlot* slot, SetupVertex* v) {
  const float* p = slot->position;
  if (!IsFiniteFloat(p[0]) || !IsFiniteFloat(p[1]) || !IsFiniteFloat(p[2]) || !IsFiniteFloat(p[3])) return 1;
  float xyw[3] = {p[0], p[1], p[3]};
  int32_t fixed[3];
  int32_t emax = ToBlockFixed(xyw, fixed);
  v->X = fixed[0];
  v->Y = fixed[1];
  v->W = fixed[2];
  // 2^(140 - emax) made from its bits (emax is 0..254 for finite input, so
  // the exponent is always a normal double's): the same value ldexp gives.
  const uint64_t scaleBits = (uint64_t)(1023 + 140 - emax) << 52;
  memcpy(&v->scale, &scaleBits, 8);
  v->x = v->X / v->scale;
  v->y = v->Y / v->scale;
  v->w = v->W / v->scale;
  v->z = p[2];
  uint32_t oc = 0;
  if (v->X < -v->W) oc |= kOutLeft;
  if (v->X > v->W) oc |= kOutRight;
  if (v->Y < -v->W) oc |= kOutTop;
  if (v->Y > v->W) oc |= kOutBottom;
  if (!(p[2] >= -p[3])) oc |= kOutNear;
  if (p[2] > p[3]) oc |= kOutFar;
  v->outcode = oc;
  return 0;
}

struct Ratio {
  int32_t n, d; // d > 0
};

inline bool RatioLess(Ratio p, Ratio q) { return (int64_t)p.n * q.d < (int64_t)q.n * p.d; }

// A homogeneous (a, b, c) of any scale as an edge with 14-bit coefficients.
EdgeEquation FixedEdge(const RenderState* s, double a, double b, double c) {
  double m = std::fabs(a);
  if (std::fabs(b) > m) m = std::fabs(b);
  if (std::fabs(c) > m) m = std::fabs(c);
  float abc[3] = {0, 0, 0};
  if (m > 0 && m <= DBL_MAX) {
    abc[0] = (float)(a / m);
    abc[1] = (float)(b / m);
    abc[2] = (float)(c / m);
  }
  int32_t v[3];
  ToBlockFixed(abc, v);
  return MakeEdge(s, v[0], v[1], v[2]);
}

struct TileHit {
  uint32_t code;
  EdgeList edges;
};

constexpr uint32_t kLocalHits = 256;

struct HitCollector {
  TileHit hits[kLocalHits];
  uint32_t count;
};

void CollectHit(void* user, uint32_t code, EdgeList edges) {
  HitCollector* h = static_cast<HitCollector*>(user);
  if (h->count < kLocalHits) h->hits[h->count] = TileHit{code, edges};
  h->count++;
}

// Fills a triangle's entry and node for one tile and appends the node to
// the tile's bin: from the collected hits, or from a second walk for
// triangles with more tiles than the local buffer holds.
struct HitBinner {
  TileEntry* entries;
  TileNode* nodes;
  BinnedTriangle* triangle;
  TileBin* bins;
  uint32_t firstTile;
  Plane depth;
  int32_t minCorner, maxCorner; // the corners the depth plane's slopes select
  uint32_t order;
  uint32_t count;
};

void BinHit(void* user, uint32_t code, EdgeList edges) {
  HitBinner* h = static_cast<HitBinner*>(user);
  const uint32_t i = h->count++;
  const uint32_t tile = code >> kTileCodeBits;
  const float* corners = MortonTileTable[tile];
  const float tzmin = h->triangle->zmin, tzmax = h->triangle->zmax;
  float lo = PlaneAt(h->depth, corners[2 * h->minCorner], corners[2 * h->minCorner + 1]);
  float hi = PlaneAt(h->depth, corners[2 * h->maxCorner], corners[2 * h->maxCorner + 1]);
  if (lo < tzmin) lo = tzmin;
  if (lo > tzmax) lo = tzmax;
  if (hi < tzmin) hi = tzmin;
  if (hi > tzmax) hi = tzmax;
  TileEntry* entry = &h->entries[i];
  entry->triangle = h->triangle;
  entry->edges = edges;
  entry->zmin = lo;
  entry->zmax = hi;
  TileNode* node = &h->nodes[i];
  node->key = SortKeyOf(lo + hi);
  node->order = h->order;
  node->next = nullptr;
  node->entry = entry;
  TileBin* bin = &h->bins[tile - h->firstTile];
  TileNode* previous = bin->tail.exchange(node, std::memory_order_acq_rel);
  previous->next = node;
}

// A set-up job's share of the bin region: triangles are carved from it, and
// it is committed as a whole when the job stops setting up (at its end, at
// the gate) or needs a new one. One shared allocation and commit per chunk,
// not per triangle: the two counters are written by every set-up thread.
struct BinChunk {
  uint8_t* cursor;
  uint8_t* end;
  uint64_t bytes; // 0 when the job holds none
};

constexpr uint64_t kBinChunkBytes = 8192;

void ReleaseBinChunk(TileBinner* binner, BinChunk* chunk) {
  if (chunk->bytes) BinCommit(binner, chunk->bytes);
  chunk->cursor = chunk->end = nullptr;
  chunk->bytes = 0;
}

// A block of size bytes from the job's chunk, or from a new chunk once the
// old one is released. A job must not hold an uncommitted chunk while it
// waits (at the gate, for a full region to be drawn): that draw waits for
// every block below it to be committed.
uint8_t* CarveBinBlock(TileBinner* binner, BinChunk* chunk, uint64_t size) {
  if (chunk->bytes && size <= (uint64_t)(chunk->end - chunk->cursor)) {
    uint8_t* block = chunk->cursor;
    chunk->cursor += size;
    return block;
  }
  ReleaseBinChunk(binner, chunk);
  uint64_t want = size > kBinChunkBytes ? size : kBinChunkBytes;
  uint8_t* block = BinAllocate(binner, want);
  if (!block && want > size) block = BinAllocate(binner, want = size); // a region smaller than a chunk
  if (!block) return nullptr;
  chunk->cursor = block + size;
  chunk->end = block + want;
  chunk->bytes = want;
  return block;
}

// What set-up works out for one triangle, phase by phase; each phase reads
// what the ones before it wrote.
struct TriangleSetup {
  const TriangleRecord* t;
  const PipelineState* ps;
  SetupVertex v[3];
  int64_t e[3][3]; // homogeneous edges, oriented so the inside is positive
  int64_t D;       // their determinant, > 0 once oriented
  int32_t facing;
  uint32_t anyOut; // outcodes of any vertex
  EdgeEquation edges[9];
  int32_t edgeCount;
  double G[3][3];   // per-vertex plane weights in pixels
  double ndc[3][3]; // the same in clip space
  double windowDepth[3];
  double zmin, zmax;
  const StageLayout* layout; // what the attribute planes follow, or null
  uint32_t outputBytes;      // the vertex stage's output record
  uint32_t attributeCount;
};

// Load and cull: the vertices in block fixed point, the homogeneous edges
// (cross products of the integer vertices), facing and culling. 0 when the
// triangle draws nothing.
inline int32_t LoadAndCull(TriangleSetup* ts) {
  SetupVertex* v = ts->v;
  for (int i = 0; i < 3; i++)
    if (LoadVertex(ts->t->vertices[i], &v[i]) != 0) return 0;
  if (v[0].outcode & v[1].outcode & v[2].outcode) return 0;
  int64_t (*e)[3] = ts->e;
  for (int k = 0; k < 3; k++) {
    const SetupVertex& p = v[k];
    const SetupVertex& q = v[(k + 1) % 3];
    e[k][0] = (int64_t)p.Y * q.W - (int64_t)p.W * q.Y;
    e[k][1] = (int64_t)p.W * q.X - (int64_t)p.X * q.W;
    e[k][2] = (int64_t)p.X * q.Y - (int64_t)q.X * p.Y;
  }
  int64_t D = e[0][0] * v[2].X + e[0][1] * v[2].Y + e[0][2] * v[2].W;
  if (D == 0) return 0;
  const int32_t facing = (ts->ps->frontFace == 1) ^ (D < 0);
  const int32_t cull = ts->ps->cullMode;
  if (cull == CullMode::CullAll || (cull == CullMode::CullBack && facing == 0) ||
      (cull != CullMode::CullNone && cull != CullMode::CullBack && facing == 1))
    return 0;
  if (D < 0) {
    D = -D;
    for (int k = 0; k < 3; k++)
      for (int j = 0; j < 3; j++) e[k][j] = -e[k][j];
  }
  ts->D = D;
  ts->facing = facing;
  ts->anyOut = v[0].outcode | v[1].outcode | v[2].outcode;
  return 1;
}

// Edges: the three sides, then the bounding box of the vertices in front of
// the eye, limited to the viewport.
inline void MakeSideAndBoundEdges(const RenderState* s, TriangleSetup* ts) {
  for (int k = 0; k < 3; k++) ts->edges[k] = MakeEdge(s, (int32_t)ts->e[k][0], (int32_t)ts->e[k][1], ts->e[k][2]);
  Ratio left = {1, 1}, right = {-1, 1}, top = {1, 1}, bottom = {-1, 1};
  for (int i = 0; i < 3; i++) {
    const SetupVertex& v = ts->v[i];
    if (v.W <= 0) continue;
    Ratio rx = {v.X, v.W}, ry = {v.Y, v.W};
    if (RatioLess(rx, left)) left = rx;
    if (RatioLess(right, rx)) right = rx;
    if (RatioLess(ry, top)) top = ry;
    if (RatioLess(bottom, ry)) bottom = ry;
  }
  const uint32_t anyOut = ts->anyOut;
  if (anyOut & kOutLeft) left = Ratio{-1, 1};
  if (anyOut & kOutRight) right = Ratio{1, 1};
  if (anyOut & kOutTop) top = Ratio{-1, 1};
  if (anyOut & kOutBottom) bottom = Ratio{1, 1};
  ts->edges[3] = MakeEdge(s, left.d, 0, -(int64_t)left.n);
  ts->edges[4] = MakeEdge(s, -right.d, 0, right.n);
  ts->edges[5] = MakeEdge(s, 0, top.d, -(int64_t)top.n);
  ts->edges[6] = MakeEdge(s, 0, -bottom.d, bottom.n);
  ts->edgeCount = 7;
}

// Plane weights: the plane of a quantity A (giving A/w at a pixel centre) is
// sum A_i * G_i. Exact integer edges over the integer determinant, rescaled
// to the truncated floats.
inline void MakePlaneWeights(const RenderState* s, TriangleSetup* ts) {
  double rw = 2.0 / s->viewportWidth, rh = 2.0 / s->viewportHeight;
  double cx = s->viewportX + s->viewportWidth * 0.5, cy = s->viewportY + s->viewportHeight * 0.5;
  for (int i = 0; i < 3; i++) {
    const int64_t* ek = ts->e[(i + 1) % 3];
    double ti = ts->v[i].scale / (double)ts->D;
    double* ndc = ts->ndc[i];
    ndc[0] = ti * (double)ek[0];
    ndc[1] = ti * (double)ek[1];
    ndc[2] = ti * (double)ek[2];
    double a = ndc[0] * rw, b = ndc[1] * rh;
    ts->G[i][0] = a;
    ts->G[i][1] = b;
    ts->G[i][2] = ndc[2] - a * cx - b * cy + 0.5 * (a + b);
  }
}

// Near and far edges, for a triangle reaching past either: z = alpha*x +
// beta*y + gamma*w on the triangle's plane.
inline void MakeDepthEdges(const RenderState* s, TriangleSetup* ts) {
  if (!(ts->anyOut & kOutDepth)) return;
  double alpha = 0, beta = 0, gamma = 0;
  for (int i = 0; i < 3; i++) {
    alpha += ts->v[i].z * ts->ndc[i][0];
    beta += ts->v[i].z * ts->ndc[i][1];
    gamma += ts->v[i].z * ts->ndc[i][2];
  }
  if (ts->anyOut & kOutNear) ts->edges[ts->edgeCount++] = FixedEdge(s, alpha, beta, gamma + 1);
  if (ts->anyOut & kOutFar) ts->edges[ts->edgeCount++] = FixedEdge(s, -alpha, -beta, 1 - gamma);
}

// Depth range of the visible part: the vertices' own depths, the near or
// far bound for a vertex beyond it. A vertex at or behind the eye (w <= 0)
// has no depth of its own and may carry both outcodes; the visible part
// then reaches towards it without bound, so it gets the whole range.
inline void MakeDepthRange(const RenderState* s, TriangleSetup* ts) {
  double zmin = s->depthMax, zmax = s->depthMin;
  bool behindEye = false;
  for (int i = 0; i < 3; i++) {
    const SetupVertex& v = ts->v[i];
    ts->windowDepth[i] = (double)s->depthScale * v.z + (double)s->depthOffset * v.w;
    double d;
    if (v.w <= 0) {
      behindEye = true;
      continue;
    }
    if (v.outcode & kOutNear) d = s->depthNear;
    else if (v.outcode & kOutFar) d = s->depthFar;
    else d = ts->windowDepth[i] / v.w;
    if (d < zmin) zmin = d;
    if (d > zmax) zmax = d;
  }
  if (behindEye) zmin = s->depthMin, zmax = s->depthMax;
  ts->zmin = zmin;
  ts->zmax = zmax;
}

// Attribute planes follow the fragment stage's inputs, or the vertex
// stage's outputs without a fragment stage.
inline void CountAttributes(TriangleSetup* ts) {
  const PipelineState* ps = ts->ps;
  const StageLayout* layout = ps->fragmentStage ? ps->fragmentStage->inputLayout
                              : ps->vertexStage ? ps->vertexStage->outputLayout : nullptr;
  ts->layout = layout;
  ts->outputBytes = (ps->vertexStage && ps->vertexStage->outputLayout) ? ps->vertexStage->outputLayout->totalSize : 0;
  uint32_t attributeCount = 0;
  if (layout) {
    uint32_t entries = layout->entryCount < kMaxLayoutEntries ? layout->entryCount : kMaxLayoutEntries;
    for (uint32_t k = 0; k < entries; k++) attributeCount += layout->entries[k].count;
    if (attributeCount > kMaxAttributePlanes) attributeCount = kMaxAttributePlanes;
  }
  ts->attributeCount = attributeCount;
}

inline Plane MakePlane(const double G[3][3], const double A[3]) {
  Plane p;
  p.a = ToFloat(A[0] * G[0][0] + A[1] * G[1][0] + A[2] * G[2][0]);
  p.b = ToFloat(A[0] * G[0][1] + A[1] * G[1][1] + A[2] * G[2][1]);
  p.c = ToFloat(A[0] * G[0][2] + A[1] * G[1][2] + A[2] * G[2][2]);
  return p;
}

// The binned triangle's record in its block: header, edges, then the 1/w,
// depth and attribute planes.
inline BinnedTriangle* StoreTriangle(const RenderState* s, const TriangleSetup* ts, uint8_t* at) {
  BinnedTriangle* bt = reinterpret_cast<BinnedTriangle*>(at);
  EdgeEquation* edgeStore = reinterpret_cast<EdgeEquation*>(bt + 1);
  Plane* planes = reinterpret_cast<Plane*>(edgeStore + ts->edgeCount);
  const uint32_t attributeCount = ts->attributeCount;
  bt->pipeline = ts->ps;
  bt->renderState = s;
  bt->edges = edgeStore;
  bt->edgeCount = ts->edgeCount;
  bt->fixedPlanes = planes;
  bt->attributePlanes = planes + 2;
  bt->attributeCount = (int32_t)attributeCount;
  bt->zmin = ToFloat(ts->zmin);
  bt->zmax = ToFloat(ts->zmax);
  bt->facing = ts->facing;
  bt->source = ts->t;
  for (int32_t k = 0; k < ts->edgeCount; k++) edgeStore[k] = ts->edges[k];

  const double ones[3] = {1, 1, 1};
  planes[0] = MakePlane(ts->G, ones);
  planes[1] = MakePlane(ts->G, ts->windowDepth);
  if (attributeCount) {
    const StageLayout* layout = ts->layout;
    uint32_t k = 0;
    for (uint32_t entry = 0; entry < layout->entryCount && entry < kMaxLayoutEntries && k < attributeCount; entry++) {
      const StageLayoutEntry& le = layout->entries[entry];
      for (uint32_t j = 0; j < le.count && k < attributeCount; j++, k++) {
        uint64_t byteOffset = (uint64_t)le.offset + 4 * j;
        double A[3] = {0, 0, 0};
        if (byteOffset + 4 <= ts->outputBytes) {
          for (int i = 0; i < 3; i++) A[i] = VertexSlotOutputs(ts->t->vertices[i])[byteOffset / 4];
        }
        planes[2 + k] = MakePlane(ts->G, A);
      }
    }
  }
  return bt;
}

// Bin: an entry and a node for every tile touched, each node appended to its
// tile's bin, from the collected hits or, for a triangle with more tiles
// than they hold, a second walk.
inline void BinTriangle(TileBinner* binner, const RenderState* s, const TriangleSetup* ts, const HitCollector* hits,
                        TileEntry* entries, TileNode* nodes, BinnedTriangle* bt, uint32_t position) {
  HitBinner binning;
  binning.entries = entries;
  binning.nodes = nodes;
  binning.triangle = bt;
  binning.bins = binner->bins;
  binning.firstTile = s->tileFirst >> kTileCodeBits;
  const Plane& dp = bt->fixedPlanes[1];
  binning.depth = dp;
  if (dp.a >= 0) {
    if (dp.b >= 0) binning.minCorner = 0, binning.maxCorner = 3;
    else binning.minCorner = 2, binning.maxCorner = 1;
  } else {
    if (dp.b >= 0) binning.minCorner = 1, binning.maxCorner = 2;
    else binning.minCorner = 3, binning.maxCorner = 0;
  }
  binning.order = position;
  binning.count = 0;
  if (hits->count > kLocalHits) {
    WalkTiles(s, ts->edges, FullEdgeList((uint32_t)ts->edgeCount), BinHit, &binning);
  } else {
    for (uint32_t i = 0; i < hits->count; i++) BinHit(&binning, hits->hits[i].code, hits->hits[i].edges);
  }
}

// Sets up and bins the record at queue position `position` of `job`.
// Returns 0 when nothing was binned (the caller moves past it), 1 when the
// job's position was moved on here, or found rewound by a full region.
int32_t SetupTriangle(TileBinner* binner, const RenderState* s, SetupJob* job, uint32_t position, BinChunk* chunk) {
  TriangleSetup ts;
  ts.t = binner->queueBase + position;
  ts.ps = ts.t->pipeline;
  if (!LoadAndCull(&ts)) return 0;
  MakeSideAndBoundEdges(s, &ts);
  MakePlaneWeights(s, &ts);
  MakeDepthEdges(s, &ts);
  MakeDepthRange(s, &ts);
  CountAttributes(&ts);

  // Tiles touched, then one block for everything the bins keep of it.
  HitCollector hits;
  hits.count = 0;
  WalkTiles(s, ts.edges, FullEdgeList((uint32_t)ts.edgeCount), CollectHit, &hits);
  const uint32_t n = hits.count;
  if (n == 0) return 0;
  uint64_t size = (uint64_t)n * (sizeof(TileEntry) + sizeof(TileNode)) + sizeof(BinnedTriangle) +
                  (uint64_t)ts.edgeCount * sizeof(EdgeEquation) + (2 + ts.attributeCount) * sizeof(Plane);
  size = (size + 7) & ~(uint64_t)7;
  uint8_t* block = CarveBinBlock(binner, chunk, size);
  if (!block) return 0;
  TileEntry* entries = reinterpret_cast<TileEntry*>(block);
  TileNode* nodes = reinterpret_cast<TileNode*>(entries + n);
  BinnedTriangle* bt = StoreTriangle(s, &ts, reinterpret_cast<uint8_t*>(nodes + n));

  // A full region restarted since this job last moved on: its earlier
  // triangles are set up again first, and this block stays unlinked.
  std::atomic_ref<uint32_t> jobPosition(job->position);
  if (jobPosition.load(std::memory_order_acquire) != position) return 1;
  BinTriangle(binner, s, &ts, &hits, entries, nodes, bt, position);
  jobPosition.store(position + 1, std::memory_order_release);
  return 1;
}

// Runs job from its position to its end. A full region may rewind the
// position meanwhile; a job that has ended re-checks after saying so, and
// one that was rewound just then is taken back here or by another job.
// After a full region the lowest position goes first (the gate): a job
// beyond it waits, or hands its range back when a range lies unowned (the
// lowest may be one), so the next region cannot fill up without it.
void RunSetupRange(TileBinner* binner, const RenderState* s, SetupJob* job) {
  std::atomic_ref<uint32_t> position(job->position);
  std::atomic_ref<uint32_t> state(job->state);
  const uint32_t end = QueuePositionOf(binner, job->end);
  uint32_t spins = 0;
  BinChunk chunk = {nullptr, nullptr, 0};
  for (;;) {
    uint32_t p = position.load(std::memory_order_acquire);
    if (p >= end) {
      ReleaseBinChunk(binner, &chunk);
      state.store(kSetupDone);
      if (position.load() >= end) return;
      uint32_t expected = kSetupDone;
      if (!state.compare_exchange_strong(expected, kSetupRunning)) return; // an orphan now
      continue;
    }
    uint32_t gate = binner->gate.load(std::memory_order_acquire);
    if (p > gate) {
      ReleaseBinChunk(binner, &chunk);
      if (LowestUnbinnedPosition(binner) > gate) {
        binner->gate.compare_exchange_strong(gate, UINT32_MAX);
        continue;
      }
      if (binner->orphans.load() != 0) {
        binner->orphans.fetch_add(1);
        state.store(kSetupOrphan);
        return;
      }
      SpinBackOff(&spins);
      continue;
    }
    if (SetupTriangle(binner, s, job, p, &chunk) == 0) position.compare_exchange_strong(p, p + 1);
  }
}

} // namespace

void RunSetupJob(void* user, uint32_t index, uint32_t count) {
  (void)count;
  SetupJob* job = &static_cast<SetupJob*>(user)[index];
  TileBinner* binner = job->binner;
  const RenderState* s = binner->renderState;
  if (s->tileEnd <= s->tileFirst || binner->binCount == 0) return;
  std::atomic_ref<uint32_t>(job->position).store(QueuePositionOf(binner, job->first), std::memory_order_relaxed);
  std::atomic_ref<uint32_t>(job->state).store(kSetupRunning);
  RunSetupRange(binner, s, job);
  // Ranges that had ended when a full region threw their triangles away,
  // or that were handed back at the gate: the lowest first.
  while (binner->orphans.load() != 0) {
    bool took = false;
    for (uint32_t i = 0; i < binner->setupJobCount && !took; i++) {
      SetupJob* other = &binner->setupJobs[i];
      uint32_t expected = kSetupOrphan;
      if (!std::atomic_ref<uint32_t>(other->state).compare_exchange_strong(expected, kSetupRunning)) continue;
      binner->orphans.fetch_sub(1);
      RunSetupRange(binner, s, other);
      took = true;
    }
    if (!took) break; // taken by other jobs meanwhile
  }
}

void SubmitSetupJobs(JobQueue* queue, TileBinner* binner, SetupJob* jobs, uint32_t count) {
  binner->setupJobs = jobs;
  binner->setupJobCount = count;
  binner->gate.store(UINT32_MAX);
  SubmitJobs(queue, count, RunSetupJob, jobs);
}
