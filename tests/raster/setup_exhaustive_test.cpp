// The coverage comparison at full size, on several seeds and thread counts.
#include "tests/raster/coverage_run_harness.h"

namespace {

TEST(CoverageExhaustive, ManyRandomTrianglesMatchExactGeometry) {
  uint64_t triangles = 0, covered = 0;
  for (uint64_t seed : {1ull, 2ull, 3ull}) {
    CoverageStats st = RunCoverage(50000, seed, seed == 2 ? 1 : 3);
    EXPECT_EQ(st.mismatches, 0u) << "seed " << seed;
    EXPECT_EQ(st.outside, 0);
    triangles += st.triangles;
    covered += st.pixelsCovered;
  }
  EXPECT_GE(triangles, 100000u);
  EXPECT_GT(covered, triangles * 10);
}

} // namespace
