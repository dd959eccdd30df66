// Files are read in 1 MiB blocks and each line is parsed in place; a line is
// never copied or allocated. A line longer than the block is reported and
// skipped up to its end.
#include "report/results_reader.h"

#include <cstdlib>
#include <cstring>

static const char kHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms";
static const int64_t kBlock = 1 << 20;

int32_t ResultsInit(ResultsTally* t) {
  std::memset(t, 0, sizeof(*t));
  t->bufferSize = kBlock;
  t->buffer = static_cast<char*>(std::malloc(size_t(kBlock)));
  t->runKeyCapacity = 4096;
  t->runKeys = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t) * size_t(t->runKeyCapacity)));
  return t->buffer && t->runKeys ? 0 : 1;
}

void ResultsFree(ResultsTally* t) {
  std::free(t->buffer);
  std::free(t->runKeys);
  t->buffer = nullptr;
  t->runKeys = nullptr;
}

struct Field {
  const char* s;
  int64_t n;
};

// Unsigned decimal integer of at most 9 digits.
static int32_t ParseCount(Field f, int64_t* v) {
  if (f.n < 1 || f.n > 9) return 1;
  int64_t x = 0;
  for (int64_t i = 0; i < f.n; ++i) {
    if (f.s[i] < '0' || f.s[i] > '9') return 1;
    x = x * 10 + (f.s[i] - '0');
  }
  *v = x;
  return 0;
}

static int32_t Digits(const char* s, int32_t n, int32_t* v) {
  int32_t x = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return 1;
    x = x * 10 + (s[i] - '0');
  }
  *v = x;
  return 0;
}

// YYYY-MM-DDTHH:MM:SS with an optional -k suffix.
static int32_t CheckTimestamp(Field f) {
  if (f.n < 19) return 1;
  const char* s = f.s;
  int32_t y, mo, d, h, mi, se;
  if (s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':') return 1;
  if (Digits(s, 4, &y) || Digits(s + 5, 2, &mo) || Digits(s + 8, 2, &d) || Digits(s + 11, 2, &h) ||
      Digits(s + 14, 2, &mi) || Digits(s + 17, 2, &se))
    return 1;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) return 1;
  if (f.n == 19) return 0;
  int64_t k;
  if (s[19] != '-' || ParseCount(Field{s + 20, f.n - 20}, &k) || k < 2) return 1;
  return 0;
}

static int32_t FieldIs(Field f, const char* word) {
  int64_t n = int64_t(std::strlen(word));
  return f.n == n && std::memcmp(f.s, word, size_t(n)) == 0;
}

// Non-negative decimal: digits with an optional fraction.
static int32_t CheckDecimal(Field f) {
  int64_t i = 0, whole = 0, frac = 0;
  while (i < f.n && f.s[i] >= '0' && f.s[i] <= '9') ++i, ++whole;
  if (i < f.n && f.s[i] == '.') {
    ++i;
    while (i < f.n && f.s[i] >= '0' && f.s[i] <= '9') ++i, ++frac;
    if (frac == 0) return 1;
  }
  return whole > 0 && i == f.n && whole <= 12 ? 0 : 1;
}

static uint64_t Hash(uint64_t h, const char* s, int64_t n) {
  for (int64_t i = 0; i < n; ++i) h = (h ^ uint8_t(s[i])) * 0x100000001B3ull; // FNV-1a
  return h;
}

// Returns null for a good line (and tallies it) or the reason it is bad.
static const char* TakeLine(ResultsTally* t, const char* s, int64_t n, uint64_t* lastKey) {
  Field f[11];
  int32_t count = 0;
  int64_t start = 0;
  for (int64_t i = 0; i <= n; ++i) {
    if (i == n || s[i] == ',') {
      if (count == 11) return "more than 11 fields";
      f[count++] = Field{s + start, i - start};
      start = i + 1;
    }
  }
  if (count != 11) return "fewer than 11 fields";
  if (CheckTimestamp(f[0])) return "run_started is not YYYY-MM-DDTHH:MM:SS[-k]";
  if (!FieldIs(f[1], "windows") && !FieldIs(f[1], "linux") && !FieldIs(f[1], "headless"))
    return "platform is not windows, linux or headless";
  int64_t delay, step, correct, flips, frames, late;
  if (ParseCount(f[2], &delay) || delay < kMinDelayFrames || delay > kMaxDelayFrames)
    return "delay_frames is not a whole number from 2 to 8";
  if (ParseCount(f[3], &step) || step > 19) return "step is not a whole number from 0 to 19";
  if (!FieldIs(f[4], "A") && !FieldIs(f[4], "B")) return "delayed is not A or B";
  if (!FieldIs(f[5], "A") && !FieldIs(f[5], "B")) return "submitted is not A or B";
  if (ParseCount(f[6], &correct) || f[6].n != 1 || correct > 1) return "correct is not 0 or 1";
  if (correct != (f[4].s[0] == f[5].s[0] ? 1 : 0)) return "correct disagrees with delayed and submitted";
  if (ParseCount(f[7], &flips)) return "flips is not a whole number";
  if (ParseCount(f[8], &frames)) return "step_frames is not a whole number";
  if (ParseCount(f[9], &late)) return "late_frames is not a whole number";
  if (CheckDecimal(f[10])) return "max_interval_ms is not a decimal number";

  DelayTally* d = &t->delay[delay];
  d->steps += 1;
  d->right += correct;
  if (late == 0) {
    d->cleanSteps += 1;
    d->cleanRight += correct;
  } else {
    t->lateSteps += 1;
  }
  t->goodLines += 1;
  uint64_t key = Hash(Hash(0xCBF29CE484222325ull, f[0].s, f[0].n), f[1].s, f[1].n);
  key = (key & ~uint64_t(15)) | uint64_t(delay); // the delay sits in the low bits
  if (key != *lastKey) {
    if (t->runKeyCount == t->runKeyCapacity) {
      int64_t cap = t->runKeyCapacity * 2;
      uint64_t* grown = static_cast<uint64_t*>(std::realloc(t->runKeys, sizeof(uint64_t) * size_t(cap)));
      if (!grown) return "out of memory";
      t->runKeys = grown;
      t->runKeyCapacity = cap;
    }
    t->runKeys[t->runKeyCount++] = key;
    *lastKey = key;
  }
  return nullptr;
}

int32_t ResultsReadFile(ResultsTally* t, const char* path, FILE* messages) {
  FILE* file = std::fopen(path, "rb");
  if (!file) {
    if (messages) std::fprintf(messages, "%s: cannot open the file (missing or unreadable)\n", path);
    t->filesFailed += 1;
    return 1;
  }
  char* buf = t->buffer;
  int64_t have = 0, lineNo = 0, bad = 0;
  int32_t eof = 0, headerSeen = 0, skipping = 0, result = 0;
  uint64_t lastKey = 0;
  while (!result) {
    if (!eof) {
      size_t got = std::fread(buf + have, 1, size_t(t->bufferSize - have), file);
      have += int64_t(got);
      if (have < t->bufferSize) eof = 1;
    }
    int64_t pos = 0;
    while (pos < have) {
      const char* nl = static_cast<const char*>(std::memchr(buf + pos, '\n', size_t(have - pos)));
      if (!nl && !eof) break; // incomplete line: keep it for the next block
      int64_t end = nl ? nl - buf : have;
      const char* s = buf + pos;
      int64_t n = end - pos;
      pos = end + 1;
      if (skipping) { skipping = 0; continue; } // tail of an over-long line
      ++lineNo;
      if (n > 0 && s[n - 1] == '\r') --n;
      if (!headerSeen) {
        if (n >= 3 && std::memcmp(s, "\xEF\xBB\xBF", 3) == 0) s += 3, n -= 3;
        if (n != int64_t(sizeof(kHeader) - 1) || std::memcmp(s, kHeader, size_t(n)) != 0) {
          if (messages) std::fprintf(messages, "%s:%lld: not a qvdelay results file (unexpected header)\n", path, (long long)lineNo);
          result = 1;
          break;
        }
        headerSeen = 1;
        continue;
      }
      if (n == 0) continue; // blank lines carry nothing
      const char* why = TakeLine(t, s, n, &lastKey);
      if (why) {
        ++bad;
        if (messages && bad <= kMessagesPerFile) std::fprintf(messages, "%s:%lld: skipped: %s\n", path, (long long)lineNo, why);
      }
    }
    if (result) break;
    if (pos < have) {
      if (pos == 0) { // no newline in a full block
        if (!skipping) {
          ++lineNo;
          ++bad;
          if (messages && bad <= kMessagesPerFile) std::fprintf(messages, "%s:%lld: skipped: line too long\n", path, (long long)lineNo);
        }
        skipping = 1;
        have = 0;
        if (!headerSeen) result = 1;
        continue;
      }
      std::memmove(buf, buf + pos, size_t(have - pos));
      have -= pos;
    } else {
      have = 0;
      if (eof) break;
    }
  }
  if (std::ferror(file) && !result) {
    if (messages) std::fprintf(messages, "%s: read error\n", path);
    result = 1;
  }
  std::fclose(file);
  if (!result && !headerSeen) {
    if (messages) std::fprintf(messages, "%s: empty file (no header)\n", path);
    result = 1;
  }
  if (messages && bad > kMessagesPerFile)
    std::fprintf(messages, "%s: %lld more malformed lines skipped (%lld in all)\n", path, (long long)(bad - kMessagesPerFile), (long long)bad);
  t->badLines += bad;
  if (result) t->filesFailed += 1; else t->filesRead += 1;
  return result;
}

static int CompareKey(const void* a, const void* b) {
  uint64_t x = *static_cast<const uint64_t*>(a), y = *static_cast<const uint64_t*>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void ResultsFinish(ResultsTally* t) {
  std::qsort(t->runKeys, size_t(t->runKeyCount), sizeof(uint64_t), CompareKey);
  for (int32_t d = 0; d <= kMaxDelayFrames; ++d) t->delay[d].runs = 0;
  for (int64_t i = 0; i < t->runKeyCount; ++i)
    if (i == 0 || t->runKeys[i] != t->runKeys[i - 1]) t->delay[t->runKeys[i] & 15].runs += 1;
}
