// Simulated observers with known threshold and slope through the threshold
// procedure. Prints, per true threshold x slope x rate, the mean steps taken
// under the stop rule, the median |estimate - truth| / truth and the share of
// 95 % intervals holding the truth, and the same after always 80 steps.
// --sweep R1,R2,... also reports the stop rule for other interval ratios.
//   threshold_simulate [--runs N] [--sweep 1.6,1.8,2.0]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report/psychometric.h"
#include "threshold/psi.h"

static PsiState g_state;

static int CompareDouble(const void* a, const void* b) {
  double x = *static_cast<const double*>(a), y = *static_cast<const double*>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

static double Median(double* v, int32_t n) {
  std::qsort(v, size_t(n), sizeof(double), CompareDouble);
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

constexpr int32_t kMaxRules = 9; // rule 0: PsiShouldStop; then the sweep ratios; last: 80 steps
struct Cell {
  double steps[kMaxRules];
  int32_t covered[kMaxRules];
  double* errors[kMaxRules];
};

int main(int argc, char** argv) {
  int32_t runs = 200;
  double ratios[kMaxRules];
  int32_t ruleCount = 1; // the rule as built
  for (int32_t i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--sweep") && i + 1 < argc) {
      for (char* p = argv[++i]; *p && ruleCount < kMaxRules - 1;) {
        ratios[ruleCount++] = std::strtod(p, &p);
        if (*p == ',') ++p;
      }
    }
  }
  if (runs < 1) runs = 1;
  const int32_t last = ruleCount++; // always 80 steps
  const double thresholds[] = {25, 50, 100, 150}, betas[] = {1.5, 2, 3, 4};
  const int32_t periods[] = {16666, 6944};
  const double c = -std::log(1.0 - 0.25 / (0.5 - kPsiLapse));
  Cell cell;
  for (int32_t r = 0; r < ruleCount; ++r) cell.errors[r] = static_cast<double*>(std::malloc(sizeof(double) * size_t(runs)));
  double totalSteps[kMaxRules] = {}, totalCovered[kMaxRules] = {};
  double* allErrors[kMaxRules];
  int32_t cellCount = 4 * 4 * 2;
  for (int32_t r = 0; r < ruleCount; ++r)
    allErrors[r] = static_cast<double*>(std::malloc(sizeof(double) * size_t(runs) * size_t(cellCount)));
  int32_t cellIndex = 0;
  std::printf("%5s %5s %5s | %-22s | %-22s\n", "rate", "t ms", "beta", "stop rule: steps err cov", "80 steps: err cov");
  for (int32_t pi = 0; pi < 2; ++pi)
    for (double t : thresholds)
      for (double beta : betas) {
        double alpha = t / std::pow(c, 1.0 / beta);
        for (int32_t r = 0; r < ruleCount; ++r) { cell.steps[r] = 0; cell.covered[r] = 0; }
        Rng rng = {12345 + uint64_t(cellIndex) * 1000003ull};
        for (int32_t run = 0; run < runs; ++run) {
          PsiInit(&g_state, periods[pi]);
          int32_t done[kMaxRules] = {};
          while (true) {
            int32_t k = PsiNextLevel(&g_state);
            double d = PsiLevelMs(&g_state, k);
            double p = 0.5 + (0.5 - kPsiLapse) * (1.0 - std::exp(-std::pow(d / alpha, beta)));
            PsiUpdate(&g_state, k, RngUniform(&rng) < p ? 1 : 0);
            PsiEstimate e;
            PsiEstimateThreshold(&g_state, &e);
            int32_t open = 0;
            for (int32_t r = 0; r < ruleCount; ++r) {
              if (done[r]) continue;
              int32_t stop = g_state.steps >= kPsiMaxSteps;
              if (r == 0) stop = PsiShouldStop(&g_state);
              else if (r != last && g_state.steps >= kPsiMinSteps) // as PsiShouldStop, another ratio
                stop |= e.side == 0 ? e.highMs < ratios[r] * e.lowMs
                                    : e.highMs < PsiLevelMs(&g_state, 1) || e.lowMs > PsiLevelMs(&g_state, g_state.levelCount);
              if (!stop) { open = 1; continue; }
              done[r] = 1;
              cell.steps[r] += g_state.steps;
              cell.covered[r] += e.lowMs <= t && t <= e.highMs;
              cell.errors[r][run] = std::fabs(e.medianMs - t) / t;
              allErrors[r][cellIndex * runs + run] = cell.errors[r][run];
            }
            if (!open) break;
          }
        }
        double stopErr = Median(cell.errors[0], runs), fullErr = Median(cell.errors[last], runs);
        std::printf("%5d %5.0f %5.1f | %5.1f %6.3f %6.3f    | %6.3f %6.3f\n", pi == 0 ? 60 : 144, t, beta,
                    cell.steps[0] / runs, stopErr, double(cell.covered[0]) / runs, fullErr,
                    double(cell.covered[last]) / runs);
        for (int32_t r = 0; r < ruleCount; ++r) { totalSteps[r] += cell.steps[r]; totalCovered[r] += cell.covered[r]; }
        ++cellIndex;
      }
  int32_t n = runs * cellCount;
  std::printf("\nover all cells (%d runs each):\n", runs);
  for (int32_t r = 0; r < ruleCount; ++r) {
    if (r == 0) std::printf("  rule as built (ratio %.2f)", kPsiStopRatio);
    else if (r == last) std::printf("  always %d steps        ", kPsiMaxSteps);
    else std::printf("  ratio %.2f              ", ratios[r]);
    std::printf(": steps %5.1f  median err %.3f  coverage %.3f\n", totalSteps[r] / n, Median(allErrors[r], n),
                totalCovered[r] / n);
  }
  return 0;
}
