// Exact binomial tails and Clopper-Pearson intervals, accurate for large n.
#pragma once

#include <cstdint>

// P(X >= k) for X ~ Binomial(n, p).
double BinomialUpperTail(int64_t k, int64_t n, double p);
// P(X <= k) for X ~ Binomial(n, p).
double BinomialLowerTail(int64_t k, int64_t n, double p);

// Two-sided Clopper-Pearson interval at level 1 - alpha for k of n.
void ClopperPearson(int64_t k, int64_t n, double alpha, double* low, double* high);

// Verdict on one delay: felt when P(X >= right | steps, 0.5) < 0.05, not felt
// when the 95 % upper bound is below 0.75, otherwise unsettled.
enum Verdict : int32_t { kVerdictFelt = 0, kVerdictNotFelt = 1, kVerdictOpen = 2 };
Verdict JudgeCounts(int64_t right, int64_t steps);
// Smallest m >= 1 such that round(right/steps * (steps + m)) of steps + m is
// no longer open; -1 when none is found up to maxExtra.
int64_t StepsToSettle(int64_t right, int64_t steps, int64_t maxExtra);
