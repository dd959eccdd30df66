// Two-choice psychometric function P(d) = 0.5 + (0.5 - lapse)(1 - exp(-(d/alpha)^beta)),
// its maximum-likelihood fit (Nelder-Mead in log alpha, log beta) and a
// parametric bootstrap of the 75 %-correct delay.
#pragma once

#include <cstdint>

constexpr double kLapse = 0.02;
// Search box of the fit; an estimate that ends on its edge is not accepted.
constexpr double kAlphaMinMs = 4.0, kAlphaMaxMs = 500.0;
constexpr double kBetaMin = 0.5, kBetaMax = 10.0;

struct LevelCounts {
  double delayMs;
  int64_t steps;
  int64_t right;
};

struct FitResult {
  int32_t ok;      // 1 when converged inside the search box
  int32_t atBound; // 1 when the estimate ran to the box's edge
  double alpha, beta, thresholdMs;
};

struct BootstrapResult {
  int32_t ok;
  int32_t resamples;
  int32_t boundHits; // resamples whose fit ended on the box's edge (kept)
  double lowMs, highMs;
};

double DelayMsOfFrames(int32_t frames, int32_t frameUs); // (N - 1) frames of frameUs µs
double FramesOfDelayMs(double ms, int32_t frameUs);      // inverse of the above
double PsychometricP(double d, double alpha, double beta);
double ThresholdMs(double alpha, double beta); // delay at 75 % correct
double NegLogLikelihood(const LevelCounts* levels, int32_t count, double alpha, double beta);

// start may be null (a coarse grid picks the start). Returns 0 when the fit
// converged inside the box, 1 otherwise (out is still filled).
int32_t FitPsychometric(const LevelCounts* levels, int32_t count, const double* startAlphaBeta, FitResult* out);

// Resamples binomial counts from the fitted curve at each level's steps,
// refits each, and takes the 2.5 / 97.5 % percentiles of the thresholds.
int32_t BootstrapThreshold(const LevelCounts* levels, int32_t count, const FitResult* fit, int32_t resamples,
                           uint64_t seed, BootstrapResult* out);

// Small deterministic generator shared with the tests and example data.
struct Rng {
  uint64_t state;
};
double RngUniform(Rng* rng); // [0, 1)
// Exact binomial draw by inversion of a cumulative table made for (n, p).
struct BinomialTable {
  int64_t first, count; // table covers first .. first + count - 1
  double* cumulative;
};
int32_t BinomialTableInit(BinomialTable* t, int64_t n, double p);
void BinomialTableFree(BinomialTable* t);
int64_t BinomialDraw(const BinomialTable* t, Rng* rng);
