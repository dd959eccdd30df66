// The tails are summed term by term, starting from a log-space (lgamma)
// probability and walking away from the centre with the pmf ratio, so only
// O(sqrt(n)) terms are visited and nothing under- or overflows.
#include "report/binomial.h"

#include <cmath>

static double LogPmf(int64_t k, int64_t n, double p) {
  return std::lgamma(double(n) + 1) - std::lgamma(double(k) + 1) - std::lgamma(double(n - k) + 1) +
         double(k) * std::log(p) + double(n - k) * std::log1p(-p);
}

// Sum of pmf(j) for j = k, k+1, ... n; used only when k is at or above the mean.
static double SumUpward(int64_t k, int64_t n, double p) {
  double term = std::exp(LogPmf(k, n, p));
  double sum = 0;
  double ratio = p / (1 - p);
  for (int64_t j = k; j <= n; ++j) {
    sum += term;
    if (term < sum * 1e-18 && j > k) break;
    term *= double(n - j) / double(j + 1) * ratio;
  }
  return sum;
}

// Sum of pmf(j) for j = k, k-1, ... 0; used only when k is at or below the mean.
static double SumDownward(int64_t k, int64_t n, double p) {
  double term = std::exp(LogPmf(k, n, p));
  double sum = 0;
  double ratio = (1 - p) / p;
  for (int64_t j = k; j >= 0; --j) {
    sum += term;
    if (term < sum * 1e-18 && j < k) break;
    term *= double(j) / double(n - j + 1) * ratio;
  }
  return sum;
}

double BinomialUpperTail(int64_t k, int64_t n, double p) {
  if (k <= 0) return 1;
  if (k > n) return 0;
  if (p <= 0) return 0;
  if (p >= 1) return 1;
  if (double(k) >= double(n) * p) return SumUpward(k, n, p);
  double v = 1 - SumDownward(k - 1, n, p);
  return v < 0 ? 0 : v;
}

double BinomialLowerTail(int64_t k, int64_t n, double p) {
  if (k < 0) return 0;
  if (k >= n) return 1;
  if (p <= 0) return 1;
  if (p >= 1) return 0;
  if (double(k) <= double(n) * p) return SumDownward(k, n, p);
  double v = 1 - SumUpward(k + 1, n, p);
  return v < 0 ? 0 : v;
}

// Bisection on p: both tails are monotone in p, so 80 halvings pin the
// bound far below the printed precision.
void ClopperPearson(int64_t k, int64_t n, double alpha, double* low, double* high) {
  *low = 0;
  *high = 1;
  if (n <= 0) return;
  double half = alpha / 2;
  if (k > 0) {
    double a = 0, b = 1; // upper tail rises with p; find where it equals half
    for (int32_t i = 0; i < 80; ++i) {
      double m = 0.5 * (a + b);
      if (BinomialUpperTail(k, n, m) < half) a = m; else b = m;
    }
    *low = 0.5 * (a + b);
  }
  if (k < n) {
    double a = 0, b = 1; // lower tail falls with p
    for (int32_t i = 0; i < 80; ++i) {
      double m = 0.5 * (a + b);
      if (BinomialLowerTail(k, n, m) > half) a = m; else b = m;
    }
    *high = 0.5 * (a + b);
  }
}

Verdict JudgeCounts(int64_t right, int64_t steps) {
  if (steps <= 0) return kVerdictOpen;
  if (BinomialUpperTail(right, steps, 0.5) < 0.05) return kVerdictFelt;
  // The upper bound is below 0.75 exactly when P(X <= right | 0.75) < 0.025.
  if (right < steps && BinomialLowerTail(right, steps, 0.75) < 0.025) return kVerdictNotFelt;
  return kVerdictOpen;
}

int64_t StepsToSettle(int64_t right, int64_t steps, int64_t maxExtra) {
  if (steps <= 0) return -1;
  double rate = double(right) / double(steps);
  for (int64_t m = 1; m <= maxExtra; ++m) {
    int64_t n = steps + m;
    int64_t k = int64_t(std::floor(rate * double(n) + 0.5));
    if (JudgeCounts(k, n) != kVerdictOpen) return m;
  }
  return -1;
}
