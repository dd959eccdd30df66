// The threshold fit on simulated observers with known alpha and beta.
#include <gtest/gtest.h>

#include <cmath>

#include "report/psychometric.h"

// The observer is written out here, apart from the code under test: lapse
// 0.02, N frames of delay are (N - 1) x 1000/60 ms.
static double ObserverP(double d, double alpha, double beta) {
  return 0.5 + 0.48 * (1.0 - std::exp(-std::pow(d / alpha, beta)));
}

// 75 % correct: 0.48 (1 - exp(-x^beta)) = 0.25.
static double TrueThreshold(double alpha, double beta) {
  return alpha * std::pow(-std::log(1.0 - 0.25 / 0.48), 1.0 / beta);
}

static void Simulate(Rng* rng, const int32_t* frames, int32_t count, int64_t steps, double alpha, double beta,
                     LevelCounts* out) {
  for (int32_t i = 0; i < count; ++i) {
    double d = (frames[i] - 1) * 1000.0 / 60.0;
    double p = ObserverP(d, alpha, beta);
    int64_t right = 0;
    for (int64_t s = 0; s < steps; ++s) right += RngUniform(rng) < p ? 1 : 0;
    out[i] = LevelCounts{d, steps, right};
  }
}

// 2000 steps at each N = 2..8: the standard errors are a few per cent, so
// 6 % on alpha, 20 % on beta and 4 % on the threshold are wide enough for
// any seed yet catch a wrong model, lapse or optimiser.
TEST(ReportFit, RecoversKnownObserver) {
  const int32_t frames[] = {2, 3, 4, 5, 6, 7, 8};
  const double alpha = 50, beta = 2.5;
  Rng rng = {12345};
  LevelCounts levels[7];
  Simulate(&rng, frames, 7, 2000, alpha, beta, levels);
  FitResult fit;
  ASSERT_EQ(FitPsychometric(levels, 7, nullptr, &fit), 0);
  EXPECT_NEAR(fit.alpha / alpha, 1.0, 0.06);
  EXPECT_NEAR(fit.beta / beta, 1.0, 0.20);
  EXPECT_NEAR(fit.thresholdMs / TrueThreshold(alpha, beta), 1.0, 0.04);
}

// 100 small experiments (40 steps at N = 2..6): the 95 % bootstrap interval
// should cover the true threshold in at least 90 of them. 300 resamples per
// interval keep the test to seconds.
TEST(ReportFit, BootstrapIntervalCoversTruth) {
  const int32_t frames[] = {2, 3, 4, 5, 6};
  const double alpha = 45, beta = 2.0, truth = TrueThreshold(alpha, beta);
  Rng rng = {777};
  int32_t covered = 0;
  for (int32_t k = 0; k < 100; ++k) {
    LevelCounts levels[5];
    Simulate(&rng, frames, 5, 40, alpha, beta, levels);
    FitResult fit;
    BootstrapResult boot;
    if (FitPsychometric(levels, 5, nullptr, &fit) != 0) continue; // a refused fit counts as a miss
    if (BootstrapThreshold(levels, 5, &fit, 300, 1000 + uint64_t(k), &boot) != 0) continue;
    if (boot.lowMs <= truth && truth <= boot.highMs) ++covered;
  }
  EXPECT_GE(covered, 90);
}

// Draws from the inversion table have the binomial's mean and variance.
TEST(ReportFit, BinomialDrawsHaveBinomialMoments) {
  BinomialTable t;
  ASSERT_EQ(BinomialTableInit(&t, 100000, 0.9), 0);
  Rng rng = {99};
  double sum = 0, sum2 = 0;
  const int32_t draws = 20000;
  for (int32_t i = 0; i < draws; ++i) {
    double x = double(BinomialDraw(&t, &rng));
    sum += x;
    sum2 += x * x;
  }
  BinomialTableFree(&t);
  double mean = sum / draws, var = sum2 / draws - mean * mean;
  EXPECT_NEAR(mean, 90000, 5 * std::sqrt(9000.0 / draws));
  EXPECT_NEAR(var / 9000.0, 1.0, 0.05);
}

// An observer right at every N gives no curve to place: the fit must refuse.
TEST(ReportFit, RefusesWhenEveryDelayIsPerfect) {
  LevelCounts levels[3] = {{DelayMsOfFrames(3, 16666), 40, 40}, {DelayMsOfFrames(5, 16666), 40, 40}, {DelayMsOfFrames(7, 16666), 40, 40}};
  FitResult fit;
  EXPECT_EQ(FitPsychometric(levels, 3, nullptr, &fit), 1);
  EXPECT_EQ(fit.atBound, 1);
}
