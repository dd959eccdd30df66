// Binomial tails, Clopper-Pearson bounds and verdicts against published
// table values and, for large n, the normal approximation.
#include <gtest/gtest.h>

#include <cmath>

#include "report/binomial.h"

TEST(ReportStats, TailsMatchPublishedValues) {
  EXPECT_NEAR(BinomialUpperTail(15, 20, 0.5), 0.020695, 5e-7);
  EXPECT_NEAR(BinomialUpperTail(14, 20, 0.5), 0.057659, 5e-7);
  EXPECT_NEAR(BinomialUpperTail(13, 20, 0.5), 0.131588, 5e-7);
  EXPECT_NEAR(BinomialUpperTail(15, 21, 0.5), 0.039177, 5e-7);
  // P(X <= 6) equals P(X >= 14) at p = 0.5 by symmetry.
  EXPECT_NEAR(BinomialLowerTail(6, 20, 0.5), 0.057659, 5e-7);
}

TEST(ReportStats, ClopperPearsonMatchesPublishedBounds) {
  double lo, hi;
  ClopperPearson(15, 20, 0.05, &lo, &hi);
  EXPECT_NEAR(lo, 0.50895, 5e-6);
  EXPECT_NEAR(hi, 0.91343, 5e-6);
  ClopperPearson(0, 20, 0.05, &lo, &hi);
  EXPECT_EQ(lo, 0.0);
  EXPECT_NEAR(hi, 0.16843, 5e-6);
  ClopperPearson(20, 20, 0.05, &lo, &hi);
  EXPECT_NEAR(lo, 0.83157, 5e-6);
  EXPECT_EQ(hi, 1.0);
}

// Far from any table: n = 10000, where a naive pmf would underflow. The
// continuity-corrected normal tail is within about 1 % here.
TEST(ReportStats, LargeNFollowsNormalApproximation) {
  double z = (5099.5 - 5000.0) / 50.0;
  double normal = 0.5 * std::erfc(z / std::sqrt(2.0));
  EXPECT_NEAR(BinomialUpperTail(5100, 10000, 0.5) / normal, 1.0, 0.01);
  // All right out of 1000: exactly 2^-1000, near the bottom of the double range.
  EXPECT_NEAR(std::log(BinomialUpperTail(1000, 1000, 0.5)), -1000 * std::log(2.0), 1e-6);
  double lo, hi;
  ClopperPearson(6000, 10000, 0.05, &lo, &hi);
  double se = std::sqrt(0.6 * 0.4 / 10000);
  EXPECT_NEAR(lo, 0.6 - 1.96 * se, 3e-4);
  EXPECT_NEAR(hi, 0.6 + 1.96 * se, 3e-4);
}

// 15/20 is felt (p = 0.0207), 14/20 is open, 10/20 is not felt (upper bound
// 0.72804 < 0.75). 14/20 continued at 70 % is 15/21, p = 0.0392: one step.
TEST(ReportStats, VerdictsAndStepsToSettle) {
  EXPECT_EQ(JudgeCounts(15, 20), kVerdictFelt);
  EXPECT_EQ(JudgeCounts(14, 20), kVerdictOpen);
  EXPECT_EQ(JudgeCounts(10, 20), kVerdictNotFelt);
  EXPECT_EQ(JudgeCounts(11, 20), kVerdictOpen);
  EXPECT_EQ(StepsToSettle(14, 20, 1000), 1);
  // 11/20 = 55 %: 12/21, 12/22 and 13/23 stay open (P(X <= k | 0.75) = 0.056,
  // 0.0295, 0.0408, summed exactly with integer binomials); 13/24 gives 0.0213.
  EXPECT_EQ(StepsToSettle(11, 20, 1000), 4);
}
