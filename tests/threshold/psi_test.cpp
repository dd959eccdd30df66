// The threshold procedure against simulated observers of known threshold and
// slope, on edge observers, and its tables, entropy choice and quantiles
// against direct computations with the C library's exp / log / pow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "report/psychometric.h"
#include "threshold/psi.h"

static PsiState g_a, g_b;

static double P(double d, double alpha, double beta) {
  return 0.5 + (0.5 - kPsiLapse) * (1.0 - std::exp(-std::pow(d / alpha, beta)));
}

static const double kC = -std::log(1.0 - 0.25 / (0.5 - kPsiLapse));

// Runs to the stop rule, checking every chosen level and that the rule holds
// off before kPsiMinSteps. pFixed: the chance of a right answer, -1 for the
// curve (alpha, beta), -2 for right on even steps only.
static void RunObserver(PsiState* s, int32_t period, double alpha, double beta, double pFixed, Rng* rng) {
  ASSERT_EQ(PsiInit(s, period), 0);
  while (!PsiShouldStop(s)) {
    int32_t k = PsiNextLevel(s);
    ASSERT_TRUE(k >= 1 && k <= s->levelCount) << k;
    int32_t correct = pFixed == -2 ? s->steps % 2 == 0
                      : RngUniform(rng) < (pFixed >= 0 ? pFixed : P(PsiLevelMs(s, k), alpha, beta));
    PsiUpdate(s, k, correct);
    ASSERT_LE(s->steps, kPsiMaxSteps);
  }
  ASSERT_GE(s->steps, kPsiMinSteps);
}

TEST(ThresholdPsi, SimulatedObserversAreRecovered) {
  const int32_t runsPerBeta = 30;
  for (int32_t period : {16666, 6944})
    for (double t : {25.0, 50.0, 100.0, 150.0}) {
      std::vector<double> errors;
      int32_t covered = 0;
      Rng rng = {uint64_t(period) * 1000 + uint64_t(t)};
      for (double beta : {1.5, 2.0, 3.0, 4.0})
        for (int32_t run = 0; run < runsPerBeta; ++run) {
          RunObserver(&g_a, period, t / std::pow(kC, 1.0 / beta), beta, -1, &rng);
          PsiEstimate e;
          PsiEstimateThreshold(&g_a, &e);
          errors.push_back(std::fabs(e.medianMs - t) / t);
          covered += e.lowMs <= t && t <= e.highMs;
        }
      std::sort(errors.begin(), errors.end());
      double n = double(errors.size());
      EXPECT_LE(errors[errors.size() / 2], 0.15) << period << " us, " << t << " ms";
      EXPECT_GE(covered / n, 0.80) << period << " us, " << t << " ms";
    }
}

TEST(ThresholdPsi, EdgeObserversAndLimits) {
  Rng rng = {7};
  for (int32_t period : {16666, 6944}) {
    RunObserver(&g_a, period, 0, 0, 1.0, &rng); // always right
    PsiEstimate e;
    PsiEstimateThreshold(&g_a, &e);
    EXPECT_EQ(e.side, -1) << e.medianMs;
    EXPECT_EQ(PsiClassify(&g_a, e.medianMs), -1);
    RunObserver(&g_a, period, 0, 0, -2, &rng); // right every other step: chance
    PsiEstimateThreshold(&g_a, &e);
    EXPECT_EQ(e.side, 1) << e.medianMs;
  }
  // Zero steps: the prior's estimate, ordered and finite; no stop.
  ASSERT_EQ(PsiInit(&g_a, 16666), 0);
  PsiEstimate e;
  PsiEstimateThreshold(&g_a, &e);
  EXPECT_TRUE(e.lowMs > 0 && e.lowMs < e.medianMs && e.medianMs < e.highMs && std::isfinite(e.highMs));
  EXPECT_EQ(PsiShouldStop(&g_a), 0);
  EXPECT_TRUE(PsiNextLevel(&g_a) >= 1 && PsiNextLevel(&g_a) <= g_a.levelCount);
  // Levels out of range are ignored.
  PsiUpdate(&g_a, 0, 1);
  PsiUpdate(&g_a, g_a.levelCount + 1, 1);
  EXPECT_EQ(g_a.steps, 0);
  // Periods and level counts: the largest k with k * period <= 250 ms, capped.
  EXPECT_EQ(PsiInit(&g_a, 999), 1);
  EXPECT_EQ(PsiInit(&g_a, 40001), 1);
  const std::pair<int32_t, int32_t> counts[] = {{40000, 6}, {16666, 15}, {6944, 36}, {2000, 125}, {1000, kPsiMaxLevels}};
  for (auto [period, levels] : counts) {
    ASSERT_EQ(PsiInit(&g_a, period), 0);
    EXPECT_EQ(g_a.levelCount, levels) << period;
    EXPECT_DOUBLE_EQ(PsiLevelMs(&g_a, levels), levels * period / 1000.0);
  }
}

// The same 40 answers to a and b give bit-identical choices and estimates.
static void ExpectSameReplay(Rng* rng) {
  for (int32_t i = 0; i < 40; ++i) {
    int32_t k = PsiNextLevel(&g_a), correct = RngUniform(rng) < P(PsiLevelMs(&g_a, k), 60.0, 2.5);
    ASSERT_EQ(k, PsiNextLevel(&g_b));
    PsiUpdate(&g_a, k, correct);
    PsiUpdate(&g_b, k, correct);
  }
  PsiEstimate ea, eb;
  PsiEstimateThreshold(&g_a, &ea);
  PsiEstimateThreshold(&g_b, &eb);
  EXPECT_EQ(std::memcmp(&ea.medianMs, &eb.medianMs, sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(&ea.lowMs, &eb.lowMs, sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(&ea.highMs, &eb.highMs, sizeof(double)), 0);
}

TEST(ThresholdPsi, ReplayIsIdenticalOnAReusedState) {
  Rng rng = {99};
  RunObserver(&g_a, 2000, 30.0, 2.0, -1, &rng); // leaves g_a dirty at another rate
  ASSERT_EQ(PsiInit(&g_a, 6944), 0);
  ASSERT_EQ(PsiInit(&g_b, 6944), 0);
  ExpectSameReplay(&rng);
  // A run restarted over the tables (as the program does) is a fresh one.
  PsiRestart(&g_a);
  ASSERT_EQ(PsiInit(&g_b, 6944), 0);
  ExpectSameReplay(&rng);
}

// The posterior from the prior and the steps, the expected entropy of each
// level from its definition, and the quantiles by sorting.
TEST(ThresholdPsi, EntropyChoiceAndQuantilesMatchDirectComputation) {
  for (int32_t period : {16666, 6944}) {
    ASSERT_EQ(PsiInit(&g_a, period), 0);
    const int32_t na = g_a.alphaCount, nb = g_a.betaCount, n = na * nb, K = g_a.levelCount;
    ASSERT_EQ(g_a.gridCount, n);
    std::vector<double> alpha(n), beta(n), post(n, 1.0 / n);
    for (int32_t g = 0; g < n; ++g) {
      alpha[g] = g_a.alphaMs[g / nb];
      beta[g] = g_a.beta[g % nb];
      EXPECT_NEAR(g_a.thresholdMs[g], alpha[g] * std::pow(kC, 1 / beta[g]), 1e-12 * alpha[g]);
    }
    EXPECT_NEAR(g_a.alphaMs[na - 1], kPsiAlphaTopMs, 1e-9);
    EXPECT_LE(g_a.alphaMs[0], std::min(kPsiAlphaBottomMs, period / 3000.0) * (1 + 1e-9));
    double worst = 0;
    for (int32_t k = 1; k <= K; ++k)
      for (int32_t g = 0; g < n; ++g)
        worst = std::max(worst, std::fabs(g_a.pCorrect[k - 1][g] - P(k * period / 1000.0, alpha[g], beta[g])));
    EXPECT_LT(worst, 1e-13);

    const int32_t steps[][2] = {{0, 0}, {5, 1}, {3, 0}, {9, 1}, {1, 1}, {12, 0}, {2, 1}, {7, 1}, {4, 0}};
    for (auto [level, correct] : steps) {
      if (level > 0) {
        PsiUpdate(&g_a, level, correct);
        double sum = 0;
        for (int32_t g = 0; g < n; ++g) {
          double p = P(level * period / 1000.0, alpha[g], beta[g]);
          post[g] *= correct ? p : 1 - p;
          sum += post[g];
        }
        for (double& w : post) w /= sum;
      }
      double bestH = 1e300;
      int32_t best = 0;
      std::vector<double> h(K + 1);
      for (int32_t k = 1; k <= K; ++k) {
        h[k] = 0;
        for (int32_t outcome = 0; outcome < 2; ++outcome) {
          std::vector<double> q(n);
          double pk = 0;
          for (int32_t g = 0; g < n; ++g) {
            double p = P(k * period / 1000.0, alpha[g], beta[g]);
            q[g] = post[g] * (outcome ? p : 1 - p);
            pk += q[g];
          }
          for (int32_t g = 0; g < n; ++g)
            if (q[g] > 0) h[k] -= q[g] * std::log(q[g] / pk); // pk * entropy of q / pk
        }
        EXPECT_NEAR(PsiExpectedEntropy(&g_a, k), h[k], 1e-10) << k;
        if (h[k] < bestH) { bestH = h[k]; best = k; }
      }
      int32_t chosen = PsiNextLevel(&g_a);
      // Only a near-exact tie may be resolved differently by rounding.
      EXPECT_TRUE(chosen == best || std::fabs(h[chosen] - bestH) < 1e-12) << chosen << " vs " << best;

      std::vector<std::pair<double, double>> tw(n);
      for (int32_t g = 0; g < n; ++g) tw[g] = {alpha[g] * std::pow(kC, 1 / beta[g]), post[g]};
      std::sort(tw.begin(), tw.end());
      for (double qv : {0.025, 0.5, 0.975}) {
        double cum = 0, ref = tw[0].first;
        for (int32_t i = 0; i < n; ++i) {
          if (cum + tw[i].second >= qv && tw[i].second > 0) {
            ref = i == 0 ? tw[0].first : tw[i - 1].first + (qv - cum) / tw[i].second * (tw[i].first - tw[i - 1].first);
            break;
          }
          cum += tw[i].second;
        }
        EXPECT_NEAR(PsiThresholdQuantile(&g_a, qv), ref, 1e-8 * ref) << qv;
      }
      PsiEstimate e;
      PsiEstimateThreshold(&g_a, &e);
      EXPECT_EQ(e.medianMs, PsiThresholdQuantile(&g_a, 0.5));
      EXPECT_EQ(e.lowMs, PsiThresholdQuantile(&g_a, 0.025));
      EXPECT_EQ(e.highMs, PsiThresholdQuantile(&g_a, 0.975));
    }
  }
}
