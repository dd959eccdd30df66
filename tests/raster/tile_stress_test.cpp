// A bin region too small for the frame forces intermediate tile passes in
// the middle of set-up, on several threads: the images must not change.
#include <algorithm>
#include <cmath>

#include "tests/raster/tile_harness.h"

namespace {

struct StressScene {
  std::vector<TestVertex> vertices;
  std::vector<TestTriangle> triangles;
  std::vector<PipelineState> pipelines;
  std::vector<float> ids;
};

enum SceneKind { kDepthDecides, kCounting, kLastDrawnWins };

// Flat triangles at distinct depths, sizes from a pixel to the whole screen.
// The depth test or a counting blend make the image independent of the
// order; with the depth test off the last triangle drawn wins each pixel.
void MakeScene(uint64_t seed, uint32_t count, SceneKind kind, StressScene* s) {
  TriangleGen g(seed);
  s->ids.resize(count);
  s->pipelines.resize(count);
  for (uint32_t i = 0; i < count; i++) {
    double size = std::pow(10.0, g.Uniform(-2, 0.5));
    double cx = g.Uniform(-1, 1), cy = g.Uniform(-1, 1);
    float zc = (float)(((int32_t)i - (int32_t)count / 2) / (double)count * 1.8); // distinct
    for (int v = 0; v < 3; v++) {
      TestVertex tv;
      memset(&tv, 0, sizeof(tv));
      tv.w = (float)g.Uniform(0.5, 2);
      tv.x = (float)((cx + g.Uniform(-size, size)) * tv.w);
      tv.y = (float)((cy + g.Uniform(-size, size)) * tv.w);
      tv.z = zc * tv.w;
      s->vertices.push_back(tv);
    }
    s->triangles.push_back(TestTriangle{{3 * i, 3 * i + 1, 3 * i + 2}, i});
    s->ids[i] = (float)(i + 1);
    PipelineState& p = s->pipelines[i];
    p = DefaultPipeline();
    if (kind == kCounting) {
      p.depthTestEnable = 0;
      p.blendStage = CountBs();
    } else {
      p.depthTestEnable = kind == kDepthDecides;
      p.depthCompare = CompareFunction::Less;
      p.fragmentStage = IdFs();
      p.fragmentConstants.data = &s->ids[i];
    }
  }
}

std::vector<uint8_t> Render(const StressScene& s, uint32_t threads, uint64_t regionBytes, int32_t sortMode,
                            std::vector<uint8_t>* depthOut, int32_t W = 256, int32_t H = 192) {
  TargetScene t(threads, W, H, Fp32, regionBytes);
  t.scene.state.sortMode = SortMode::Value(sortMode);
  t.ClearDepth(1.0f);
  float zero = 0;
  t.ClearColor(&zero, 4);
  SceneDraw(&t.scene, s.vertices, s.triangles, s.pipelines);
  if (depthOut) *depthOut = t.Bytes(t.depth);
  return t.Bytes(t.color);
}

TEST(BinRegionFull, IntermediateTilePassesLeaveTheImageUnchanged) {
  // 192 tiles of bins and jobs take about 11 KiB; 24 KiB more holds only a
  // few dozen triangles at a time.
  const uint64_t small = 36ull << 10, large = 64ull << 20;
  for (int32_t counting = 0; counting < 2; counting++) {
    for (int32_t sortMode : {0, 2}) {
      StressScene s;
      MakeScene(1000 + (uint64_t)counting * 7 + (uint64_t)sortMode, 3000, counting ? kCounting : kDepthDecides, &s);
      std::vector<uint8_t> depthA, depthB, depthC;
      std::vector<uint8_t> a = Render(s, 1, large, sortMode, &depthA);
      std::vector<uint8_t> b = Render(s, 3, small, sortMode, &depthB);
      std::vector<uint8_t> c = Render(s, 1, small, sortMode, &depthC);
      EXPECT_TRUE(a == b) << "counting " << counting << " sort " << sortMode;
      EXPECT_TRUE(a == c) << "counting " << counting << " sort " << sortMode;
      EXPECT_TRUE(depthA == depthB);
      EXPECT_TRUE(depthA == depthC);
      // Not a blank image.
      size_t nonzero = 0;
      for (size_t i = 0; i < a.size(); i += 4) nonzero += a[i] | a[i + 1] | a[i + 2] | a[i + 3];
      EXPECT_GT(nonzero, a.size() / 8);
    }
  }
}

TEST(BinRegionFull, DrawOrderHoldsWhenJobsRunAhead) {
  // Depth test off: every pixel shows the last triangle drawn there, so a
  // pass that drew a later job's triangles before an earlier job's shows.
  StressScene s;
  MakeScene(77, 3000, kLastDrawnWins, &s);
  const std::vector<uint8_t> reference = Render(s, 1, 64ull << 20, 0, nullptr, 128, 96);
  for (int run = 0; run < 8; run++) {
    std::vector<uint8_t> image = Render(s, 3, 64ull << 10, 0, nullptr, 128, 96);
    size_t differ = 0;
    for (size_t i = 0; i < image.size(); i += 4) differ += memcmp(&image[i], &reference[i], 4) != 0;
    EXPECT_EQ(differ, 0u) << "run " << run;
  }
}

} // namespace
