#include "report/psychometric.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

// -ln(1 - 0.25 / (0.5 - lapse)): the value of (d/alpha)^beta at 75 % correct.
static double ThresholdExponent() { return -std::log1p(-0.25 / (0.5 - kLapse)); }

double DelayMsOfFrames(int32_t frames, int32_t frameUs) { return double(frames - 1) * double(frameUs) / 1000.0; }
double FramesOfDelayMs(double ms, int32_t frameUs) { return 1.0 + ms * 1000.0 / double(frameUs); }

double PsychometricP(double d, double alpha, double beta) {
  return 0.5 + (0.5 - kLapse) * (1.0 - std::exp(-std::pow(d / alpha, beta)));
}

double ThresholdMs(double alpha, double beta) { return alpha * std::pow(ThresholdExponent(), 1.0 / beta); }

double NegLogLikelihood(const LevelCounts* levels, int32_t count, double alpha, double beta) {
  double sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    double p = PsychometricP(levels[i].delayMs, alpha, beta);
    sum -= double(levels[i].right) * std::log(p) + double(levels[i].steps - levels[i].right) * std::log1p(-p);
  }
  return sum;
}


static double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The objective is evaluated at the parameters clamped into the box, so the
// simplex may step outside but the likelihood is flat there and the final
// point, clamped, lands on the edge the data pull towards.
static double Objective(const LevelCounts* levels, int32_t count, const double* x) {
  double la = Clamp(x[0], std::log(kAlphaMinMs), std::log(kAlphaMaxMs));
  double lb = Clamp(x[1], std::log(kBetaMin), std::log(kBetaMax));
  return NegLogLikelihood(levels, count, std::exp(la), std::exp(lb));
}

// Nelder-Mead on two variables with the usual coefficients (1, 2, 0.5, 0.5).
static void NelderMead(const LevelCounts* levels, int32_t count, double* x) {
  double v[3][2] = {{x[0], x[1]}, {x[0] + 0.3, x[1]}, {x[0], x[1] + 0.3}};
  double f[3];
  for (int32_t i = 0; i < 3; ++i) f[i] = Objective(levels, count, v[i]);
  for (int32_t iter = 0; iter < 1000; ++iter) {
    // order: best 0, worst 2
    for (int32_t i = 0; i < 2; ++i)
      for (int32_t j = 0; j < 2 - i; ++j)
        if (f[j] > f[j + 1]) {
          double t = f[j]; f[j] = f[j + 1]; f[j + 1] = t;
          double a = v[j][0], b = v[j][1];
          v[j][0] = v[j + 1][0]; v[j][1] = v[j + 1][1]; v[j + 1][0] = a; v[j + 1][1] = b;
        }
    double size = std::fabs(v[1][0] - v[0][0]) + std::fabs(v[1][1] - v[0][1]) + std::fabs(v[2][0] - v[0][0]) +
                  std::fabs(v[2][1] - v[0][1]);
    if (f[2] - f[0] < 1e-10 * (1 + std::fabs(f[0])) && size < 1e-7) break;
    double c[2] = {0.5 * (v[0][0] + v[1][0]), 0.5 * (v[0][1] + v[1][1])};
    double r[2] = {2 * c[0] - v[2][0], 2 * c[1] - v[2][1]};
    double fr = Objective(levels, count, r);
    if (fr < f[0]) {
      double e[2] = {3 * c[0] - 2 * v[2][0], 3 * c[1] - 2 * v[2][1]};
      double fe = Objective(levels, count, e);
      if (fe < fr) { v[2][0] = e[0]; v[2][1] = e[1]; f[2] = fe; }
      else { v[2][0] = r[0]; v[2][1] = r[1]; f[2] = fr; }
      continue;
    }
    if (fr < f[1]) { v[2][0] = r[0]; v[2][1] = r[1]; f[2] = fr; continue; }
    double k[2];
    if (fr < f[2]) { k[0] = c[0] + 0.5 * (r[0] - c[0]); k[1] = c[1] + 0.5 * (r[1] - c[1]); }
    else { k[0] = c[0] + 0.5 * (v[2][0] - c[0]); k[1] = c[1] + 0.5 * (v[2][1] - c[1]); }
    double fk = Objective(levels, count, k);
    if (fk < (fr < f[2] ? fr : f[2])) { v[2][0] = k[0]; v[2][1] = k[1]; f[2] = fk; continue; }
    for (int32_t i = 1; i < 3; ++i) {
      v[i][0] = v[0][0] + 0.5 * (v[i][0] - v[0][0]);
      v[i][1] = v[0][1] + 0.5 * (v[i][1] - v[0][1]);
      f[i] = Objective(levels, count, v[i]);
    }
  }
  int32_t best = 0;
  for (int32_t i = 1; i < 3; ++i) if (f[i] < f[best]) best = i;
  x[0] = v[best][0];
  x[1] = v[best][1];
}

int32_t FitPsychometric(const LevelCounts* levels, int32_t count, const double* startAlphaBeta, FitResult* out) {
  double laMin = std::log(kAlphaMinMs), laMax = std::log(kAlphaMaxMs);
  double lbMin = std::log(kBetaMin), lbMax = std::log(kBetaMax);
  double x[2] = {0, 0};
  if (startAlphaBeta) {
    x[0] = std::log(startAlphaBeta[0]);
    x[1] = std::log(startAlphaBeta[1]);
  } else {
    // A coarse grid keeps the simplex away from a poor local start.
    double best = 1e300;
    for (int32_t i = 0; i <= 16; ++i)
      for (int32_t j = 0; j <= 8; ++j) {
        double g[2] = {laMin + (laMax - laMin) * i / 16.0, lbMin + (lbMax - lbMin) * j / 8.0};
        double fg = Objective(levels, count, g);
        if (fg < best) { best = fg; x[0] = g[0]; x[1] = g[1]; }
      }
  }
  NelderMead(levels, count, x);
  x[0] = Clamp(x[0], laMin, laMax);
  x[1] = Clamp(x[1], lbMin, lbMax);
  const double edge = 0.01; // 1 % of the parameter, in log units
  out->atBound = (x[0] - laMin < edge || laMax - x[0] < edge || x[1] - lbMin < edge || lbMax - x[1] < edge) ? 1 : 0;
  out->alpha = std::exp(x[0]);
  out->beta = std::exp(x[1]);
  out->thresholdMs = ThresholdMs(out->alpha, out->beta);
  out->ok = out->atBound ? 0 : 1;
  return out->ok ? 0 : 1;
}

double RngUniform(Rng* rng) {
  uint64_t z = (rng->state += 0x9E3779B97F4A7C15ull); // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return double(z >> 11) * (1.0 / 9007199254740992.0);
}

// The table spans the mean +- 12 standard deviations: the mass left out is
// below 1e-30, so draws are exact for any practical purpose and cost a
// binary search however large n is.
int32_t BinomialTableInit(BinomialTable* t, int64_t n, double p) {
  double mean = double(n) * p, sd = std::sqrt(double(n) * p * (1 - p));
  int64_t lo = int64_t(std::floor(mean - 12 * sd - 2)), hi = int64_t(std::ceil(mean + 12 * sd + 2));
  if (lo < 0) lo = 0;
  if (hi > n) hi = n;
  t->first = lo;
  t->count = hi - lo + 1;
  t->cumulative = static_cast<double*>(std::malloc(sizeof(double) * size_t(t->count)));
  if (!t->cumulative) return 1;
  double sum = 0;
  for (int64_t j = lo; j <= hi; ++j) {
    double lp = std::lgamma(double(n) + 1) - std::lgamma(double(j) + 1) - std::lgamma(double(n - j) + 1);
    if (p > 0) lp += double(j) * std::log(p); else if (j > 0) lp = -1e300;
    if (p < 1) lp += double(n - j) * std::log1p(-p); else if (j < n) lp = -1e300;
    sum += std::exp(lp);
    t->cumulative[j - lo] = sum;
  }
  for (int64_t j = 0; j < t->count; ++j) t->cumulative[j] /= sum;
  return 0;
}

void BinomialTableFree(BinomialTable* t) {
  std::free(t->cumulative);
  t->cumulative = nullptr;
}

int64_t BinomialDraw(const BinomialTable* t, Rng* rng) {
  double u = RngUniform(rng);
  int64_t a = 0, b = t->count - 1; // first index whose cumulative exceeds u
  while (a < b) {
    int64_t m = (a + b) / 2;
    if (t->cumulative[m] > u) b = m; else a = m + 1;
  }
  return t->first + a;
}

static int CompareDouble(const void* a, const void* b) {
  double x = *static_cast<const double*>(a), y = *static_cast<const double*>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

static double Percentile(const double* sorted, int32_t n, double q) {
  double pos = q * double(n - 1);
  int32_t i = int32_t(pos);
  if (i >= n - 1) return sorted[n - 1];
  double frac = pos - double(i);
  return sorted[i] + frac * (sorted[i + 1] - sorted[i]);
}

int32_t BootstrapThreshold(const LevelCounts* levels, int32_t count, const FitResult* fit, int32_t resamples,
                           uint64_t seed, BootstrapResult* out) {
  std::memset(out, 0, sizeof(*out));
  if (count <= 0 || count > 64 || resamples < 2) return 1;
  BinomialTable tables[64];
  LevelCounts sample[64];
  double* thresholds = static_cast<double*>(std::malloc(sizeof(double) * size_t(resamples)));
  int32_t made = 0, failed = thresholds ? 0 : 1;
  for (; made < count && !failed; ++made) {
    sample[made] = levels[made];
    failed = BinomialTableInit(&tables[made], levels[made].steps, PsychometricP(levels[made].delayMs, fit->alpha, fit->beta));
    if (failed) { ++made; break; }
  }
  if (!failed) {
    Rng rng = {seed};
    double start[2] = {fit->alpha, fit->beta};
    for (int32_t b = 0; b < resamples; ++b) {
      for (int32_t i = 0; i < count; ++i) sample[i].right = BinomialDraw(&tables[i], &rng);
      FitResult r;
      if (FitPsychometric(sample, count, start, &r) != 0) ++out->boundHits;
      thresholds[b] = r.thresholdMs;
    }
    std::qsort(thresholds, size_t(resamples), sizeof(double), CompareDouble);
    out->lowMs = Percentile(thresholds, resamples, 0.025);
    out->highMs = Percentile(thresholds, resamples, 0.975);
    out->resamples = resamples;
    out->ok = 1;
  }
  for (int32_t i = 0; i < made; ++i) BinomialTableFree(&tables[i]);
  std::free(thresholds);
  return out->ok ? 0 : 1;
}
