// Files are read in 1 MiB blocks and each line is parsed in place; a line is
// never copied or allocated. A line longer than the block is reported and
// skipped up to its end.
#include "report/results_reader.h"

#include <cstdlib>
#include <cstring>

// The record gained four columns; files written before keep the old header.
static const char kOldHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms";
static const char kHeader[] =
    "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms,"
    "frame_us,input,procedure,participant";
static const int64_t kBlock = 1 << 20;

int32_t ResultsInit(ResultsTally* t) {
  std::memset(t, 0, sizeof(*t));
  t->bufferSize = kBlock;
  t->buffer = static_cast<char*>(std::malloc(size_t(kBlock)));
  t->runKeyCapacity = 4096;
  t->runKeys = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t) * size_t(t->runKeyCapacity)));
  t->levels = static_cast<LevelTally*>(std::calloc(size_t(kMaxLevels), sizeof(LevelTally)));
  t->participants = static_cast<Participant*>(std::calloc(size_t(kMaxLevels), sizeof(Participant)));
  t->thresholdRunCapacity = 64;
  t->thresholdRuns = static_cast<ThresholdRunRows*>(std::malloc(sizeof(ThresholdRunRows) * size_t(t->thresholdRunCapacity)));
  t->thresholdStepCapacity = 4096;
  t->thresholdSteps = static_cast<ThresholdStep*>(std::malloc(sizeof(ThresholdStep) * size_t(t->thresholdStepCapacity)));
  return t->buffer && t->runKeys && t->levels && t->participants && t->thresholdRuns && t->thresholdSteps ? 0 : 1;
}

void ResultsFree(ResultsTally* t) {
  std::free(t->buffer);
  std::free(t->runKeys);
  std::free(t->levels);
  std::free(t->participants);
  std::free(t->thresholdRuns);
  std::free(t->thresholdSteps);
  t->thresholdRuns = nullptr;
  t->thresholdSteps = nullptr;
  t->buffer = nullptr;
  t->runKeys = nullptr;
  t->levels = nullptr;
  t->participants = nullptr;
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

// The procedures a row may name and the N each allows; a new procedure is
// one more entry here.
struct Procedure {
  const char* name;
  int32_t minFrames, maxFrames;
  int32_t maxStep;
  int32_t adaptive; // rows are kept in order for the run's replay
};
static const Procedure kProcedures[] = {{"fixed", kMinDelayFrames, kMaxDelayFrames, 19, 0},
                                        {"threshold", kMinDelayFrames, kMaxThresholdFrames, 79, 1}};

// Doubles an array's capacity when it is full; 1 when memory runs out.
static int32_t Reserve(void** block, int64_t count, int64_t* capacity, size_t itemBytes) {
  if (count < *capacity) return 0;
  void* grown = std::realloc(*block, itemBytes * size_t(*capacity * 2));
  if (!grown) return 1;
  *block = grown;
  *capacity *= 2;
  return 0;
}

// Appends a threshold row to its run (a new run when run_started, the
// platform, the participant or the period change).
static int32_t KeepThresholdStep(ResultsTally* t, Field started, uint64_t key, int32_t participant, int32_t frameUs,
                                 int32_t frames, int32_t correct) {
  ThresholdRunRows* run = t->thresholdRunCount ? &t->thresholdRuns[t->thresholdRunCount - 1] : nullptr;
  if (!run || run->key != key || run->participant != participant || run->frameUs != frameUs) {
    if (Reserve(reinterpret_cast<void**>(&t->thresholdRuns), t->thresholdRunCount, &t->thresholdRunCapacity,
                sizeof(ThresholdRunRows)))
      return 1;
    run = &t->thresholdRuns[t->thresholdRunCount++];
    std::memset(run, 0, sizeof(*run));
    std::memcpy(run->runStarted, started.s, size_t(started.n < 31 ? started.n : 31));
    run->participant = participant;
    run->frameUs = frameUs;
    run->firstStep = t->thresholdStepCount;
    run->key = key;
  }
  if (Reserve(reinterpret_cast<void**>(&t->thresholdSteps), t->thresholdStepCount, &t->thresholdStepCapacity,
              sizeof(ThresholdStep)))
    return 1;
  t->thresholdSteps[t->thresholdStepCount++] = ThresholdStep{int16_t(frames - 1), int16_t(correct)};
  run->stepCount += 1;
  return 0;
}

// "" (not recorded), "none", or a '+' join of the devices in this order.
static int32_t CheckInput(Field f) {
  static const char* const kDevices[] = {"keys", "joystick", "mouse"};
  if (f.n == 0 || FieldIs(f, "none")) return 0;
  int32_t next = 0;
  int64_t start = 0;
  for (int64_t i = 0; i <= f.n; ++i) {
    if (i < f.n && f.s[i] != '+') continue;
    Field part = {f.s + start, i - start};
    int32_t k = next;
    while (k < 3 && !FieldIs(part, kDevices[k])) ++k;
    if (k == 3) return 1;
    next = k + 1;
    start = i + 1;
  }
  return 0;
}

int32_t ParticipantNameValid(const char* s, int64_t n) {
  if (n > kMaxParticipantChars) return 0;
  for (int64_t i = 0; i < n; ++i) {
    char c = s[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.'))
      return 0;
  }
  return 1;
}

static int32_t NameIs(const Participant* p, Field who) {
  return int64_t(std::strlen(p->name)) == who.n && std::memcmp(p->name, who.s, size_t(who.n)) == 0;
}

int32_t ResultsFindParticipant(const ResultsTally* t, const char* name) {
  Field who = {name, int64_t(std::strlen(name))};
  for (int32_t i = 0; i < t->participantCount; ++i)
    if (NameIs(&t->participants[i], who)) return i;
  return -1;
}

// Index of the level of (who, frames, frameUs), made when new; -1 when the
// table is full. Consecutive rows are mostly of one run, so the last level
// is tried first.
static int32_t FindLevel(ResultsTally* t, Field who, int32_t frames, int32_t frameUs, int32_t last) {
  if (last >= 0 && t->levels[last].frames == frames && t->levels[last].frameUs == frameUs &&
      NameIs(&t->participants[t->levels[last].participant], who))
    return last;
  for (int32_t i = 0; i < t->levelCount; ++i) {
    const LevelTally* l = &t->levels[i];
    if (l->frames == frames && l->frameUs == frameUs && NameIs(&t->participants[l->participant], who)) return i;
  }
  if (t->levelCount == kMaxLevels) return -1;
  int32_t p = 0;
  while (p < t->participantCount && !NameIs(&t->participants[p], who)) ++p;
  if (p == t->participantCount) {
    std::memcpy(t->participants[p].name, who.s, size_t(who.n));
    t->participants[p].name[who.n] = 0;
    t->participantCount += 1;
  }
  LevelTally* l = &t->levels[t->levelCount];
  std::memset(l, 0, sizeof(*l));
  l->participant = p;
  l->frames = frames;
  l->frameUs = frameUs;
  return t->levelCount++;
}

// A row's fields and the numbers read from them.
struct Row {
  Field f[15];
  int64_t delay, step, correct, flips, frames, late, frameUs;
  const Procedure* proc;
};

// Cuts the line at its commas; 1 (with the reason) unless it has exactly
// columns fields.
static int32_t SplitRow(const char* s, int64_t n, int32_t columns, Row* r, char* why, size_t whySize) {
  int32_t count = 0;
  int64_t start = 0;
  for (int64_t i = 0; i <= n; ++i) {
    if (i == n || s[i] == ',') {
      if (count == columns) {
        std::snprintf(why, whySize, "more than %d fields", columns);
        return 1;
      }
      r->f[count++] = Field{s + start, i - start};
      start = i + 1;
    }
  }
  if (count != columns) {
    std::snprintf(why, whySize, "fewer than %d fields", columns);
    return 1;
  }
  return 0;
}

// The first field that is not what its column holds, or null.
static const char* CheckRowFields(int32_t columns, Row* r) {
  const Field* f = r->f;
  r->frameUs = kOldFrameUs;
  if (CheckTimestamp(f[0])) return "run_started is not YYYY-MM-DDTHH:MM:SS[-k]";
  if (!FieldIs(f[1], "windows") && !FieldIs(f[1], "linux") && !FieldIs(f[1], "headless"))
    return "platform is not windows, linux or headless";
  if (ParseCount(f[2], &r->delay)) return "delay_frames is not a whole number";
  if (ParseCount(f[3], &r->step)) return "step is not a whole number";
  if (!FieldIs(f[4], "A") && !FieldIs(f[4], "B")) return "delayed is not A or B";
  if (!FieldIs(f[5], "A") && !FieldIs(f[5], "B")) return "submitted is not A or B";
  if (ParseCount(f[6], &r->correct) || f[6].n != 1 || r->correct > 1) return "correct is not 0 or 1";
  if (r->correct != (f[4].s[0] == f[5].s[0] ? 1 : 0)) return "correct disagrees with delayed and submitted";
  if (ParseCount(f[7], &r->flips)) return "flips is not a whole number";
  if (ParseCount(f[8], &r->frames)) return "step_frames is not a whole number";
  if (ParseCount(f[9], &r->late)) return "late_frames is not a whole number";
  if (CheckDecimal(f[10])) return "max_interval_ms is not a decimal number";
  if (columns != 15) return nullptr;
  if (ParseCount(f[11], &r->frameUs) || r->frameUs < kMinFrameUs || r->frameUs > kMaxFrameUs)
    return "frame_us is not a whole number from 1000 to 40000";
  if (CheckInput(f[12])) return "input is not none or keys, joystick, mouse joined by + in that order";
  if (!ParticipantNameValid(f[14].s, f[14].n)) return "participant is not up to 32 letters, digits, '-', '_' or '.'";
  return nullptr;
}

// The row's procedure, and its N and step within what the procedure allows.
static int32_t CheckRowProcedure(int32_t columns, Row* r, char* why, size_t whySize) {
  r->proc = &kProcedures[0]; // rows of the old record are all fixed-N runs
  if (columns == 15) {
    r->proc = nullptr;
    for (const Procedure& p : kProcedures)
      if (FieldIs(r->f[13], p.name)) r->proc = &p;
    if (!r->proc) {
      std::snprintf(why, whySize, "procedure \"%.*s\" is not known", int(r->f[13].n < 40 ? r->f[13].n : 40), r->f[13].s);
      return 1;
    }
  }
  if (r->delay < r->proc->minFrames || r->delay > r->proc->maxFrames) {
    std::snprintf(why, whySize, "delay_frames is not a whole number from %d to %d", r->proc->minFrames, r->proc->maxFrames);
    return 1;
  }
  if (r->step > r->proc->maxStep) {
    std::snprintf(why, whySize, "step is not a whole number from 0 to %d", r->proc->maxStep);
    return 1;
  }
  return 0;
}

// Counts a good row at its level and notes the run it belongs to.
static int32_t TallyRow(ResultsTally* t, int32_t columns, const Row* r, uint64_t* lastKey, int32_t* lastLevel, char* why,
                        size_t whySize) {
  Field who = columns == 15 ? r->f[14] : Field{"", 0};
  int32_t level = FindLevel(t, who, int32_t(r->delay), int32_t(r->frameUs), *lastLevel);
  if (level < 0) {
    std::snprintf(why, whySize, "more than %d distinct delays (N, frame_us and participant)", kMaxLevels);
    return 1;
  }
  *lastLevel = level;
  LevelTally* d = &t->levels[level];
  uint64_t runKey = Hash(Hash(0xCBF29CE484222325ull, r->f[0].s, r->f[0].n), r->f[1].s, r->f[1].n);
  uint64_t key = (runKey & ~uint64_t(kMaxLevels - 1)) | uint64_t(level); // the level sits in the low bits
  if ((r->proc->adaptive && KeepThresholdStep(t, r->f[0], runKey, d->participant, int32_t(r->frameUs),
                                              int32_t(r->delay), int32_t(r->correct))) ||
      (key != *lastKey &&
       Reserve(reinterpret_cast<void**>(&t->runKeys), t->runKeyCount, &t->runKeyCapacity, sizeof(uint64_t)))) {
    std::snprintf(why, whySize, "out of memory");
    return 1;
  }
  d->steps += 1;
  d->right += r->correct;
  if (r->late == 0) {
    d->cleanSteps += 1;
    d->cleanRight += r->correct;
  } else {
    t->lateSteps += 1;
  }
  t->goodLines += 1;
  t->participants[d->participant].lastFrameUs = int32_t(r->frameUs);
  t->lastFrameUs = int32_t(r->frameUs);
  if (key != *lastKey) {
    t->runKeys[t->runKeyCount++] = key;
    *lastKey = key;
  }
  return 0;
}

// Returns 0 for a good line (and tallies it) or 1 with the reason in why.
// columns is 11 for the old header, 15 for the new one.
static int32_t TakeLine(ResultsTally* t, const char* s, int64_t n, int32_t columns, uint64_t* lastKey,
                        int32_t* lastLevel, char* why, size_t whySize) {
  Row r;
  if (SplitRow(s, n, columns, &r, why, whySize)) return 1;
  const char* bad = CheckRowFields(columns, &r);
  if (bad) {
    std::snprintf(why, whySize, "%s", bad);
    return 1;
  }
  if (CheckRowProcedure(columns, &r, why, whySize)) return 1;
  return TallyRow(t, columns, &r, lastKey, lastLevel, why, whySize);
}

// The columns of a header line: 15 for the record of today, 11 for the one
// before the rate and the devices; 0 when it is neither. A byte-order mark
// is allowed.
static int32_t HeaderColumns(const char* s, int64_t n) {
  if (n >= 3 && std::memcmp(s, "\xEF\xBB\xBF", 3) == 0) s += 3, n -= 3;
  if (n == int64_t(sizeof(kHeader) - 1) && std::memcmp(s, kHeader, size_t(n)) == 0) return 15;
  if (n == int64_t(sizeof(kOldHeader) - 1) && std::memcmp(s, kOldHeader, size_t(n)) == 0) return 11;
  return 0;
}

// Closes a file read to its end (or given up) and counts it; returns its
// result.
static int32_t FileRead(ResultsTally* t, const char* path, FILE* file, FILE* messages, int32_t result, int32_t headerSeen,
                        int64_t bad) {
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
  int32_t lastLevel = -1, columns = 0;
  char why[128];
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
        columns = HeaderColumns(s, n);
        if (!columns) {
          if (messages) std::fprintf(messages, "%s:%lld: not a qvdelay results file (unexpected header)\n", path, (long long)lineNo);
          result = 1;
          break;
        }
        headerSeen = 1;
        continue;
      }
      if (n == 0) continue; // blank lines carry nothing
      if (TakeLine(t, s, n, columns, &lastKey, &lastLevel, why, sizeof(why))) {
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
  return FileRead(t, path, file, messages, result, headerSeen, bad);
}

static int CompareKey(const void* a, const void* b) {
  uint64_t x = *static_cast<const uint64_t*>(a), y = *static_cast<const uint64_t*>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void ResultsFinish(ResultsTally* t) {
  std::qsort(t->runKeys, size_t(t->runKeyCount), sizeof(uint64_t), CompareKey);
  for (int32_t i = 0; i < t->levelCount; ++i) t->levels[i].runs = 0;
  for (int64_t i = 0; i < t->runKeyCount; ++i)
    if (i == 0 || t->runKeys[i] != t->runKeys[i - 1]) t->levels[t->runKeys[i] & uint64_t(kMaxLevels - 1)].runs += 1;
}
