// The tile walk against a brute-force reference: every tile of the
// viewport's code range is emitted, in Morton order, exactly when no edge of
// the list has all four of its corner pixels outside, with the list of the
// edges that cross it (some corners outside) in list order.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "raster/bin_internal.h"

namespace {

struct Hit {
  uint32_t code;
  EdgeList edges;
  bool operator==(const Hit& o) const { return code == o.code && edges == o.edges; }
};

void Collect(void* user, uint32_t code, EdgeList edges) {
  static_cast<std::vector<Hit>*>(user)->push_back(Hit{code, edges});
}

// The edge function evaluated directly, as the reference sees it.
inline int64_t EdgeValue(const EdgeStep& e, int64_t x, int64_t y) { return e.A * x + e.B * y + e.C; }

std::vector<Hit> Reference(const RenderState* s, const EdgeEquation* edges, EdgeList list) {
  std::vector<Hit> hits;
  for (uint32_t code = s->tileFirst; code < s->tileEnd; code += 256) {
    const int64_t tx = MortonX(code), ty = MortonY(code);
    EdgeList kept = 0;
    uint32_t shift = 0;
    bool out = false;
    for (EdgeList l = list; l != 0 && !out; l >>= 4) {
      const uint32_t k = (uint32_t)(l & 15);
      const EdgeStep e = EdgeSteps(s, edges[k - 1]);
      int negatives = 0;
      for (int c = 0; c < 4; c++) negatives += EdgeValue(e, tx + 15 * (c & 1), ty + 15 * (c >> 1)) < 0;
      if (negatives == 4) out = true;
      if (negatives > 0 && negatives < 4) {
        kept |= (EdgeList)k << shift;
        shift += 4;
      }
    }
    if (!out) hits.push_back(Hit{code, kept});
  }
  return hits;
}

TEST(WalkTiles, MatchesEveryTileTestedOnItsOwn) {
  std::mt19937_64 rng(17);
  auto pick = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
  const int32_t viewports[][4] = {{0, 0, 640, 480}, {0, 0, 320, 240}, {7, 13, 300, 77}, {100, 600, 1000, 90},
                                  {0, 0, 2048, 2048}, {1500, 30, 548, 1200}, {5, 5, 16, 16}};
  uint32_t cases = 0, emitted = 0;
  for (const auto& vp : viewports) {
    RenderState s;
    memset(&s, 0, sizeof(s));
    DeriveViewport(&s, vp[0], vp[1], vp[2], vp[3]);
    for (int trial = 0; trial < 300; trial++) {
      // A few sloped edges and axis-aligned ones (bounds), some inside out
      // or far away, in any order.
      EdgeEquation edges[9];
      const uint32_t count = (uint32_t)pick(1, 9);
      for (uint32_t k = 0; k < count; k++) {
        const int kind = (int)pick(0, 5);
        int32_t a = (int32_t)pick(-16383, 16383), b = (int32_t)pick(-16383, 16383);
        if (kind == 0) a = 0;
        if (kind == 1) b = 0;
        if (kind == 2) a = b = 0;
        const int64_t c = pick(-(int64_t)1 << 30, (int64_t)1 << 30) * (pick(0, 3) == 0 ? 64 : 1);
        edges[k] = MakeEdge(&s, a, b, c);
      }
      // A triangle's bounds around a small box, as set-up makes them.
      if (trial % 3 == 0 && count >= 4) {
        const int32_t d = (int32_t)pick(1, 16383);
        const int32_t l = (int32_t)pick(-d, d), r = l + (int32_t)pick(0, d / 4 + 1);
        const int32_t t = (int32_t)pick(-d, d), btm = t + (int32_t)pick(0, d / 4 + 1);
        edges[0] = MakeEdge(&s, d, 0, -(int64_t)l);
        edges[1] = MakeEdge(&s, -d, 0, r);
        edges[2] = MakeEdge(&s, 0, d, -(int64_t)t);
        edges[3] = MakeEdge(&s, 0, -d, btm);
      }
      EdgeList list = FullEdgeList(count);
      if (trial % 5 == 1) list = 0; // no edges: every tile
      std::vector<Hit> got;
      const uint32_t n = WalkTiles(&s, edges, list, Collect, &got);
      const std::vector<Hit> want = Reference(&s, edges, list);
      ASSERT_EQ(n, got.size());
      ASSERT_TRUE(got == want) << "viewport " << vp[0] << "," << vp[1] << " " << vp[2] << "x" << vp[3] << " trial "
                               << trial << ": " << got.size() << " tiles, want " << want.size();
      cases++;
      emitted += n;
    }
  }
  EXPECT_EQ(cases, 7u * 300u);
  EXPECT_GT(emitted, 10000u);
}

} // namespace
