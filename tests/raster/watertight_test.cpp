// Meshes that tile a rectangle cover every pixel centre inside it exactly
// once: shared edges leave no gaps and no double hits, whatever the
// perspective divisor of each vertex.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/raster/coverage_harness.h"

namespace {

// Lattice of 1/q pixel; vertices carry their own w (a small integer), so the
// same screen point has different clip coordinates in different meshes.
struct Lattice {
  int32_t vx, vy, size, q;
};

struct MeshVertex {
  int64_t nx, ny; // pixel position * q
  int64_t m;      // w multiplier
};

TestVertex ClipOf(const Lattice& L, const MeshVertex& p) {
  int64_t X = (2 * p.nx - (int64_t)L.q * (2 * L.vx + L.size)) * p.m;
  int64_t Y = (2 * p.ny - (int64_t)L.q * (2 * L.vy + L.size)) * p.m;
  int64_t W = (int64_t)L.q * L.size * p.m;
  TestVertex v;
  ExactTriangle unused;
  MakeExactVertex(X, Y, W, 0.0f, 0, &v, &unused, 0);
  EXPECT_LT(std::llabs(X), 16384);
  EXPECT_LT(std::llabs(Y), 16384);
  EXPECT_LT(W, 16384);
  return v;
}

int64_t Orient(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c) {
  return (b.nx - a.nx) * (c.ny - a.ny) - (b.ny - a.ny) * (c.nx - a.nx);
}

struct Mesh {
  std::vector<MeshVertex> vertices;
  std::vector<TestTriangle> triangles;
  int64_t x0, y0, x1, y1; // the rectangle, in lattice units
};

int64_t Snap(TriangleGen& g, int64_t lo, int64_t hi) { return g.Int(lo, hi); }

// Grid of cells (a strip when one row), interior vertices jittered, random
// diagonals; returns false when jitter folded a triangle over.
bool MakeGrid(TriangleGen& g, const Lattice& L, Mesh* mesh) {
  int32_t nx = (int32_t)g.Int(1, 8), ny = (int32_t)g.Int(1, 8);
  if (g.Int(0, 3) == 0) ny = 1; // strip
  int64_t cell = std::max<int64_t>(1, (int64_t)L.size * L.q / std::max(nx, ny) / 2);
  cell = g.Int(std::max<int64_t>(1, cell / 4), cell);
  int64_t spanX = cell * nx, spanY = cell * ny;
  int64_t limit = (int64_t)L.size * L.q;
  mesh->x0 = (int64_t)L.vx * L.q + g.Int(-limit / 8, std::max<int64_t>(0, limit - spanX));
  mesh->y0 = (int64_t)L.vy * L.q + g.Int(-limit / 8, std::max<int64_t>(0, limit - spanY));
  mesh->x1 = mesh->x0 + spanX;
  mesh->y1 = mesh->y0 + spanY;
  int64_t jitter = cell / 5;
  auto id = [nx](int32_t i, int32_t j) { return (uint32_t)(j * (nx + 1) + i); };
  for (int32_t j = 0; j <= ny; j++)
    for (int32_t i = 0; i <= nx; i++) {
      MeshVertex v = {mesh->x0 + i * cell, mesh->y0 + j * cell, g.Int(1, 8)};
      if (i > 0 && i < nx) v.nx += Snap(g, -jitter, jitter);
      if (j > 0 && j < ny) v.ny += Snap(g, -jitter, jitter);
      mesh->vertices.push_back(v);
    }
  for (int32_t j = 0; j < ny; j++)
    for (int32_t i = 0; i < nx; i++) {
      uint32_t a = id(i, j), b = id(i + 1, j), c = id(i, j + 1), d = id(i + 1, j + 1);
      if (g.Int(0, 1)) {
        mesh->triangles.push_back(TestTriangle{{a, b, d}, 0});
        mesh->triangles.push_back(TestTriangle{{a, d, c}, 0});
      } else {
        mesh->triangles.push_back(TestTriangle{{a, b, c}, 0});
        mesh->triangles.push_back(TestTriangle{{b, d, c}, 0});
      }
    }
  for (const TestTriangle& t : mesh->triangles)
    if (Orient(mesh->vertices[t.v[0]], mesh->vertices[t.v[1]], mesh->vertices[t.v[2]]) <= 0) return false;
  return true;
}

// Fan from an inner point to a ring along the rectangle's border; with the
// centre close to a side the triangles become slivers.
bool MakeFan(TriangleGen& g, const Lattice& L, Mesh* mesh) {
  int64_t limit = (int64_t)L.size * L.q;
  int64_t w = g.Int(4, limit), h = g.Int(4, limit);
  mesh->x0 = (int64_t)L.vx * L.q + g.Int(-limit / 8, limit - w);
  mesh->y0 = (int64_t)L.vy * L.q + g.Int(-limit / 8, limit - h);
  mesh->x1 = mesh->x0 + w;
  mesh->y1 = mesh->y0 + h;
  MeshVertex centre = {g.Int(mesh->x0 + 1, mesh->x1 - 1), g.Int(mesh->y0 + 1, mesh->y1 - 1), g.Int(1, 8)};
  if (g.Int(0, 2) == 0) centre.ny = mesh->y0 + 1; // slivers along the top
  mesh->vertices.push_back(centre);
  // Ring: the four corners plus random points on each side, clockwise in
  // y-down coordinates (top, right, bottom, left).
  auto side = [&](int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    int32_t n = (int32_t)g.Int(0, 12);
    std::vector<int64_t> t;
    int64_t len = std::max(std::llabs(bx - ax), std::llabs(by - ay));
    for (int32_t i = 0; i < n && len > 1; i++) t.push_back(g.Int(1, len - 1));
    std::sort(t.begin(), t.end());
    t.erase(std::unique(t.begin(), t.end()), t.end());
    mesh->vertices.push_back(MeshVertex{ax, ay, g.Int(1, 8)});
    for (int64_t s : t) {
      int64_t px = ax + (bx > ax ? s : (bx < ax ? -s : 0)), py = ay + (by > ay ? s : (by < ay ? -s : 0));
      mesh->vertices.push_back(MeshVertex{px, py, g.Int(1, 8)});
    }
  };
  side(mesh->x0, mesh->y0, mesh->x1, mesh->y0);
  side(mesh->x1, mesh->y0, mesh->x1, mesh->y1);
  side(mesh->x1, mesh->y1, mesh->x0, mesh->y1);
  side(mesh->x0, mesh->y1, mesh->x0, mesh->y0);
  uint32_t ring = (uint32_t)mesh->vertices.size() - 1;
  for (uint32_t i = 0; i < ring; i++) {
    uint32_t a = 1 + i, b = 1 + (i + 1) % ring;
    // Ring points on the centre's own side would be collinear with it.
    if (Orient(centre, mesh->vertices[a], mesh->vertices[b]) == 0) return false;
    mesh->triangles.push_back(TestTriangle{{0, a, b}, 0});
  }
  for (const TestTriangle& t : mesh->triangles)
    if (Orient(mesh->vertices[t.v[0]], mesh->vertices[t.v[1]], mesh->vertices[t.v[2]]) <= 0) return false;
  return true;
}

TEST(Watertight, RandomMeshesCoverEveryPixelCentreOnce) {
  TestScene scene;
  SceneInit(&scene, 2, 16ull << 20);
  TriangleGen g(99);
  std::vector<uint16_t> counts;
  std::atomic<int32_t> outside{0};
  uint32_t meshes = 0, covered = 0, failures = 0;
  while (meshes < 1200) {
    Lattice L;
    L.size = 16 << (int32_t)g.Int(0, 3);
    L.vx = (int32_t)g.Int(0, 40);
    L.vy = (int32_t)g.Int(0, 40);
    static const int32_t qs[] = {1, 2, 8}; // pixel corners (tile borders), centres, fine
    L.q = qs[g.Int(0, 2)];
    Mesh mesh;
    bool ok = g.Int(0, 1) ? MakeGrid(g, L, &mesh) : MakeFan(g, L, &mesh);
    if (!ok) continue;
    meshes++;
    SceneViewport(&scene, L.vx, L.vy, L.size, L.size);
    std::vector<TestVertex> vertices;
    for (const MeshVertex& v : mesh.vertices) vertices.push_back(ClipOf(L, v));
    counts.assign((size_t)L.size * L.size, 0);
    HitGrid grid = {counts.data(), L.vx, L.vy, L.size, L.size, &outside};
    std::vector<PipelineState> ps(1, DefaultPipeline());
    ps[0].depthTestEnable = 0;
    ps[0].blendStage = HitBs();
    ps[0].blendConstants.data = &grid;
    SceneDraw(&scene, vertices, mesh.triangles, ps);
    for (int32_t y = 0; y < L.size; y++)
      for (int32_t x = 0; x < L.size; x++) {
        // Pixel centre in lattice units, times 2 to stay integral.
        int64_t cx = (2 * (int64_t)(L.vx + x) + 1) * L.q, cy = (2 * (int64_t)(L.vy + y) + 1) * L.q;
        bool inside = cx >= 2 * mesh.x0 && cx < 2 * mesh.x1 && cy >= 2 * mesh.y0 && cy < 2 * mesh.y1;
        uint16_t got = counts[(size_t)y * L.size + x];
        covered += got;
        if (got != (inside ? 1 : 0)) {
          if (failures++ < 5)
            ADD_FAILURE() << "mesh " << meshes << " lattice q " << L.q << " pixel " << L.vx + x << "," << L.vy + y
                          << " count " << got << " want " << inside;
        }
      }
  }
  EXPECT_EQ(failures, 0u);
  EXPECT_EQ(outside.load(), 0);
  EXPECT_GT(covered, meshes * 16u);
  SceneDestroy(&scene);
}

} // namespace
