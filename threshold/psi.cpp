#include "threshold/psi.h"

#include <cmath>
#include <cstring>

// exp and log from + - * / and exact bit handling only, so the tables, and
// with them every estimate, are the same bits whatever C library the build
// links (glibc, MinGW). About 1 ulp, ample for a posterior. Each reduces the
// argument against a 32-entry table that the compiler computes from a
// series in the same correctly rounded arithmetic.
static const double kLn2Hi = 6.93147180369123816490e-01; // low 32 bits zero: n * kLn2Hi is exact
static const double kLn2Lo = 1.90821492927058770002e-10;
static const double kLn2 = 6.93147180559945309417e-01;

struct Table32 {
  double v[32];
};

static constexpr Table32 MakeExpTable() { // 2^(j/32) = e^(j ln2 / 32), Taylor series, arguments < 0.7
  Table32 t = {};
  for (int32_t j = 0; j < 32; ++j) {
    double x = double(j) * (kLn2 / 32.0), p = 1.0;
    for (int32_t i = 30; i >= 1; --i) p = 1.0 + p * x / double(i);
    t.v[j] = p;
  }
  return t;
}

static constexpr Table32 MakeLogTable() { // ln(1 + (j + 0.5) / 32) = 2 atanh(s), s < 1/3
  Table32 t = {};
  for (int32_t j = 0; j < 32; ++j) {
    double c = 1.0 + (double(j) + 0.5) / 32.0, s = (c - 1.0) / (c + 1.0), q = 0.0;
    for (int32_t n = 30; n >= 0; --n) q = 1.0 / double(2 * n + 1) + s * s * q;
    t.v[j] = 2.0 * s * q;
  }
  return t;
}

static constexpr Table32 kExpTable = MakeExpTable();
static constexpr Table32 kLogTable = MakeLogTable();

static double PowerOfTwo(int32_t m) { // m in -1022..1023
  uint64_t bits = uint64_t(m + 1023) << 52;
  double v;
  std::memcpy(&v, &bits, sizeof(v));
  return v;
}

// e^x; 0 below -708 (no subnormal results, none are needed).
static double ExpD(double x) {
  if (x < -708.0) return 0.0;
  if (x > 709.0) x = 709.0; // never reached with the grid; keeps the result finite
  double fn = std::floor(x * (32.0 / kLn2) + 0.5);
  int32_t n = int32_t(fn);
  double r = (x - fn * (kLn2Hi / 32.0)) - fn * (kLn2Lo / 32.0); // |r| <= ln2 / 64: degree 7 reaches 5e-21
  double p = 1.0 + r * (1.0 + r * (1.0 / 2.0 + r * (1.0 / 6.0 + r * (1.0 / 24.0 + r * (1.0 / 120.0 +
             r * (1.0 / 720.0 + r * (1.0 / 5040.0)))))));
  return kExpTable.v[n & 31] * p * PowerOfTwo(n >> 5);
}

// ln x for a finite x > 0.
static double LogD(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof(bits));
  int32_t e = int32_t(bits >> 52) - 1023;
  if (e == -1023) { // subnormal: scale into the normal range first
    x *= 18014398509481984.0; // 2^54
    std::memcpy(&bits, &x, sizeof(bits));
    e = int32_t(bits >> 52) - 1023 - 54;
  }
  uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
  int32_t j = int32_t(mantissa >> 47); // m in [1 + j/32, 1 + (j+1)/32)
  uint64_t mbits = mantissa | (uint64_t(1023) << 52);
  double m;
  std::memcpy(&m, &mbits, sizeof(m));
  double c = 1.0 + (double(j) + 0.5) / 32.0;
  double s = (m - c) / (m + c), s2 = s * s; // ln(m / c) = 2 atanh(s), |s| <= 1/128
  double q = 1.0 + s2 * (1.0 / 3.0 + s2 * (1.0 / 5.0 + s2 * (1.0 / 7.0)));
  return double(e) * kLn2Hi + (double(e) * kLn2Lo + (kLogTable.v[j] + 2.0 * s * q));
}

// (d/alpha)^beta at 75 % correct: -ln(1 - 0.25 / (0.5 - lapse)).
static double ThresholdExponent() { return -LogD(1.0 - 0.25 / (0.5 - kPsiLapse)); }

static double BinaryEntropy(double p) { return -p * LogD(p) - (1.0 - p) * LogD(1.0 - p); }

// The next level maximises the information of the outcome about the point,
// I_k = H(outcome) - E_post[H(outcome | point)]; the expected posterior
// entropy is H(post) - I_k, so this is the minimum expected entropy without
// a logarithm per grid point. Four fixed partial sums: fast, and the same
// order on every build.
static double LevelInformation(const PsiState* s, int32_t k) {
  const double* p = s->pCorrect[k - 1];
  const double* h = s->outcomeEntropy[k - 1];
  const double* w = s->posterior;
  double a0 = 0, a1 = 0, a2 = 0, a3 = 0, h0 = 0, h1 = 0, h2 = 0, h3 = 0;
  for (int32_t g = 0; g < s->paddedCount; g += 4) {
    a0 += w[g] * p[g];
    a1 += w[g + 1] * p[g + 1];
    a2 += w[g + 2] * p[g + 2];
    a3 += w[g + 3] * p[g + 3];
    h0 += w[g] * h[g];
    h1 += w[g + 1] * h[g + 1];
    h2 += w[g + 2] * h[g + 2];
    h3 += w[g + 3] * h[g + 3];
  }
  double a = (a0 + a1) + (a2 + a3);
  if (a >= 1.0) a = 1.0 - 1e-16; // cannot happen (p <= 0.98), guards the logarithm
  return BinaryEntropy(a) - ((h0 + h1) + (h2 + h3));
}

static void ChooseNextLevel(PsiState* s) {
  int32_t best = 1;
  double bestInfo = LevelInformation(s, 1);
  for (int32_t k = 2; k <= s->levelCount; ++k) {
    double info = LevelInformation(s, k);
    if (info > bestInfo) { best = k; bestInfo = info; } // ties keep the smaller k
  }
  s->nextLevel = best;
}

int32_t PsiInit(PsiState* s, int32_t framePeriodMicros) {
  if (framePeriodMicros < 1000 || framePeriodMicros > 40000) return 1;
  s->framePeriodMicros = framePeriodMicros;
  int32_t levels = int32_t(int64_t(kPsiMaxAddedMicros) / framePeriodMicros);
  s->levelCount = levels > kPsiMaxLevels ? kPsiMaxLevels : levels;
  double frameMs = double(framePeriodMicros) / 1000.0;

  // Alpha from the top down at a fixed log step until 5 ms and a third of a
  // frame are both reached.
  double logTop = LogD(kPsiAlphaTopMs);
  double step = (logTop - LogD(kPsiAlphaBottomMs)) / double(kPsiAlphaPerRange - 1);
  double bottom = frameMs / 3.0 < kPsiAlphaBottomMs ? frameMs / 3.0 : kPsiAlphaBottomMs;
  double logBottom = LogD(bottom);
  int32_t na = kPsiAlphaPerRange;
  while (na < kPsiMaxAlpha && logTop - step * double(na - 1) > logBottom + 1e-9) ++na;
  s->alphaCount = na;
  for (int32_t a = 0; a < na; ++a) s->alphaMs[a] = ExpD(logTop - step * double(na - 1 - a));
  s->betaCount = kPsiBetaCount;
  double logBetaMin = LogD(kPsiBetaMin), logBetaMax = LogD(kPsiBetaMax);
  for (int32_t b = 0; b < kPsiBetaCount; ++b)
    s->beta[b] = ExpD(logBetaMin + (logBetaMax - logBetaMin) * double(b) / double(kPsiBetaCount - 1));
  int32_t nb = kPsiBetaCount;
  s->gridCount = na * nb;
  s->paddedCount = (s->gridCount + 3) / 4 * 4;

  double logC = LogD(ThresholdExponent());
  double logAlpha[kPsiMaxAlpha];
  for (int32_t a = 0; a < na; ++a) logAlpha[a] = LogD(s->alphaMs[a]);
  for (int32_t a = 0; a < na; ++a)
    for (int32_t b = 0; b < nb; ++b) s->thresholdMs[a * nb + b] = ExpD(logAlpha[a] + logC / s->beta[b]);

  // t rises with alpha in each beta column: merging the columns sorts them.
  int32_t head[kPsiBetaCount];
  for (int32_t b = 0; b < nb; ++b) head[b] = 0;
  for (int32_t i = 0; i < s->gridCount; ++i) {
    int32_t pick = -1;
    for (int32_t b = 0; b < nb; ++b) {
      if (head[b] >= na) continue;
      if (pick < 0 || s->thresholdMs[head[b] * nb + b] < s->thresholdMs[head[pick] * nb + pick]) pick = b;
    }
    s->byThreshold[i] = head[pick] * nb + pick;
    ++head[pick];
  }

  for (int32_t k = 1; k <= s->levelCount; ++k) {
    double logD = LogD(double(k) * frameMs);
    double* p = s->pCorrect[k - 1];
    double* h = s->outcomeEntropy[k - 1];
    for (int32_t a = 0; a < na; ++a)
      for (int32_t b = 0; b < nb; ++b) {
        double x = ExpD(s->beta[b] * (logD - logAlpha[a])); // (d/alpha)^beta
        double v = 0.5 + (0.5 - kPsiLapse) * (1.0 - ExpD(-x));
        p[a * nb + b] = v;
        h[a * nb + b] = BinaryEntropy(v);
      }
    for (int32_t g = s->gridCount; g < s->paddedCount; ++g) { p[g] = 0.5; h[g] = 0.0; }
  }
  PsiRestart(s);
  return 0;
}

void PsiRestart(PsiState* s) {
  double weight = 1.0 / double(s->gridCount);
  for (int32_t g = 0; g < s->paddedCount; ++g) s->posterior[g] = g < s->gridCount ? weight : 0.0;
  s->steps = 0;
  std::memset(s->levelSteps, 0, sizeof(s->levelSteps));
  std::memset(s->levelRight, 0, sizeof(s->levelRight));
  ChooseNextLevel(s);
}

int32_t PsiNextLevel(const PsiState* s) { return s->nextLevel; }

double PsiLevelMs(const PsiState* s, int32_t level) { return double(level) * double(s->framePeriodMicros) / 1000.0; }

void PsiUpdate(PsiState* s, int32_t level, int32_t correct) {
  if (level < 1 || level > s->levelCount) return;
  const double* p = s->pCorrect[level - 1];
  double* w = s->posterior;
  double sum = 0;
  // Each factor is at least the lapse rate, so 80 steps shrink a weight by
  // 1e-136 at most: plain (not log) weights never underflow.
  for (int32_t g = 0; g < s->gridCount; ++g) {
    w[g] *= correct ? p[g] : 1.0 - p[g];
    sum += w[g];
  }
  double scale = 1.0 / sum;
  for (int32_t g = 0; g < s->gridCount; ++g) w[g] *= scale;
  ++s->steps;
  ++s->levelSteps[level - 1];
  if (correct) ++s->levelRight[level - 1];
  ChooseNextLevel(s);
}

double PsiThresholdQuantile(const PsiState* s, double q) {
  double total = 0;
  for (int32_t i = 0; i < s->gridCount; ++i) total += s->posterior[s->byThreshold[i]];
  double target = q * total, cum = 0, prevT = s->thresholdMs[s->byThreshold[0]];
  for (int32_t i = 0; i < s->gridCount; ++i) {
    int32_t g = s->byThreshold[i];
    double w = s->posterior[g];
    if (cum + w >= target && w > 0) {
      if (i == 0) return s->thresholdMs[g];
      return prevT + (target - cum) / w * (s->thresholdMs[g] - prevT);
    }
    cum += w;
    prevT = s->thresholdMs[g];
  }
  return prevT;
}

int32_t PsiClassify(const PsiState* s, double medianMs) {
  if (medianMs < PsiLevelMs(s, 1)) return -1;
  if (medianMs > PsiLevelMs(s, s->levelCount)) return 1;
  return 0;
}

void PsiEstimateThreshold(const PsiState* s, PsiEstimate* out) {
  out->medianMs = PsiThresholdQuantile(s, 0.5);
  out->lowMs = PsiThresholdQuantile(s, 0.025);
  out->highMs = PsiThresholdQuantile(s, 0.975);
  out->side = PsiClassify(s, out->medianMs);
}

int32_t PsiShouldStop(const PsiState* s) {
  if (s->steps >= kPsiMaxSteps) return 1;
  if (s->steps < kPsiMinSteps) return 0;
  PsiEstimate e;
  PsiEstimateThreshold(s, &e);
  // Outside the steps the interval is cut by the grid's edge, not by the
  // data, so there its width means nothing: stop only once all of it lies
  // beyond the steps.
  if (e.side == 0) return e.highMs < kPsiStopRatio * e.lowMs ? 1 : 0;
  return e.highMs < PsiLevelMs(s, 1) || e.lowMs > PsiLevelMs(s, s->levelCount) ? 1 : 0;
}

double PsiExpectedEntropy(const PsiState* s, int32_t level) {
  double h = 0;
  for (int32_t g = 0; g < s->gridCount; ++g)
    if (s->posterior[g] > 0) h -= s->posterior[g] * LogD(s->posterior[g]);
  return h - LevelInformation(s, level);
}
