// The results record: qvdelay_results.csv beside app_log.txt, one line per
// judged step, appended at the moment the step is judged. The log is
// deleted at every start; this file never is, so runs add up over time.
// It is never truncated: a file whose first line is not our header belongs
// to someone else and is left alone for the run, and a last line cut short
// by a crash is ended before the next line goes in. Each line (with the
// header or that newline in front when needed) is one write call.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/app.h"
#include "app/app_internal.h"

namespace {

constexpr uint32_t kPathBytes = kResultsPathBytes;
constexpr uint32_t kTimeBytes = 20; // YYYY-MM-DDTHH:MM:SS and its terminator

enum ResultsFileState : int32_t {
  kFileUnchecked = 0, // look at the file before the next line
  kFileReady = 1,     // our header, ends with a newline
  kFileRefused = 2,   // someone else's file: nothing for this run
};

struct ResultsRecord {
  ResultsRun run;        // what every row of the run says besides its step
  char runStarted[32];   // YYYY-MM-DDTHH:MM:SS, "-k" for the k-th run in that second
  uint32_t runSeconds;   // local seconds of the last run's start
  uint32_t runSuffix;    // k above; 1 = no suffix
  int32_t fileState;
  int32_t failureLogged; // a failed write was logged in this run
  int32_t linesWritten;  // in this run
  int32_t flips;
  int32_t stepFrames;
  int32_t lateFrames;
  uint64_t maxIntervalMicros;
  uint8_t sources;       // kSource* bits of what moved the marker in this step
  int32_t frameInStep;
  int32_t havePresentEnd;
  uint64_t lastPresentEnd; // µs on the application clock
};

ResultsRecord s_results;

// A frame is late when it comes more than 1.5 frame periods after the one
// before, rounded up to whole µs: 25000 at 60 Hz (period 16666).
uint64_t LateIntervalMicros() {
  int32_t period = s_results.run.framePeriodMicros > 0 ? s_results.run.framePeriodMicros : 16666;
  return (3u * uint64_t(period) + 2u) / 2u;
}

// The input column: the devices in a fixed order, joined by '+'.
const char* SourceNames(uint8_t sources) {
  static const char* const kNames[8] = {"none",       "keys",           "joystick",       "keys+joystick",
                                        "mouse",      "keys+mouse",     "joystick+mouse", "keys+joystick+mouse"};
  return kNames[sources & 7];
}

// The local wall-clock seconds name the run as they are: they are already
// local, so the calendar is taken without a time zone.
void FormatLocalTime(char* text, uint32_t seconds) {
  time_t t = time_t(seconds);
  struct tm calendar;
#if defined(_WIN32)
  int32_t failed = gmtime_s(&calendar, &t) != 0;
#else
  int32_t failed = gmtime_r(&t, &calendar) == nullptr;
#endif
  if (failed || strftime(text, kTimeBytes, "%Y-%m-%dT%H:%M:%S", &calendar) == 0) {
    FormatBounded(text, kTimeBytes, "1970-01-01T00:00:00");
  }
}

void FormatRunStarted() {
  ResultsRecord& r = s_results;
  char time[kTimeBytes];
  FormatLocalTime(time, r.runSeconds);
  if (r.runSuffix > 1) {
    FormatBounded(r.runStarted, sizeof(r.runStarted), "%s-%u", time, r.runSuffix);
  } else {
    FormatBounded(r.runStarted, sizeof(r.runStarted), "%s", time);
  }
}

// Empty when the record is off.
void ResultsPath(char* path) {
  if (g_appHooks.resultsPathSet) {
    FormatBounded(path, kPathBytes, "%s", g_appHooks.resultsPath);
  } else {
    LogComposeSiblingPath(path, "qvdelay_results.csv");
  }
}

// A run that starts in the same second as the file's last run (from an
// earlier process, or this one) takes the next suffix, so no two runs share
// a name.
void AvoidLastRunName(const char* lastLine, uint32_t length) {
  ResultsRecord& r = s_results;
  if (r.linesWritten != 0 || length < kTimeBytes - 1) return;
  if (memcmp(lastLine, r.runStarted, kTimeBytes - 1) != 0) return;
  uint32_t lastSuffix = 1;
  if (length > kTimeBytes && lastLine[kTimeBytes - 1] == '-') {
    lastSuffix = 0;
    for (uint32_t i = kTimeBytes; i < length && lastLine[i] >= '0' && lastLine[i] <= '9' && lastSuffix < 100000; ++i) {
      lastSuffix = lastSuffix * 10 + uint32_t(lastLine[i] - '0');
    }
  } else if (lastLine[kTimeBytes - 1] != ',') {
    return;
  }
  if (r.runSuffix <= lastSuffix) {
    r.runSuffix = lastSuffix + 1;
    FormatRunStarted();
  }
}

// head (headBytes read from the file's start) begins with header, whose
// line may end in "\r\n" in the file.
int32_t StartsWithHeader(const char* head, size_t headBytes, const char* header, size_t headerSize) {
  const size_t lineBytes = headerSize - 2; // without "\n" and the terminator
  return headBytes > lineBytes && memcmp(head, header, lineBytes) == 0 &&
         (head[lineBytes] == '\n' ||
          (headBytes > lineBytes + 1 && head[lineBytes] == '\r' && head[lineBytes + 1] == '\n'));
}

// Looks at an existing file: 0 with *prefix set to what must precede our
// line (the header for an empty or new file, a newline after a cut last
// line, or nothing), 1 when the file is someone else's, 2 when it has the
// old header and could not be upgraded.
int32_t CheckFile(const char* path, const char** prefix) {
  *prefix = "";
  FILE* file = fopen(path, "rb");
  if (file == nullptr) { // new (or unreadable: the append will say so)
    *prefix = kResultsHeader;
    return 0;
  }
  char head[sizeof(kResultsHeader) + 1];
  size_t headBytes = fread(head, 1, sizeof(head), file);
  if (headBytes == 0) {
    fclose(file);
    *prefix = kResultsHeader;
    return 0;
  }
  if (!StartsWithHeader(head, headBytes, kResultsHeader, sizeof(kResultsHeader))) {
    fclose(file);
    if (!StartsWithHeader(head, headBytes, kResultsHeaderBeforeRates, sizeof(kResultsHeaderBeforeRates))) return 1;
    if (UpgradeResultsFile(path, g_appHooks.upgradeStopAfter) != 0) return 2;
    file = fopen(path, "rb");
    if (file == nullptr) return 2;
  }
  char tail[256];
  long size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
  long from = size > long(sizeof(tail)) ? size - long(sizeof(tail)) : 0;
  size_t tailBytes = size > 0 && fseek(file, from, SEEK_SET) == 0 ? fread(tail, 1, sizeof(tail), file) : 0;
  fclose(file);
  if (tailBytes == 0) return 0;
  size_t end = tailBytes;
  if (tail[end - 1] != '\n') {
    *prefix = "\n";
  } else {
    --end;
  }
  size_t start = end;
  while (start > 0 && tail[start - 1] != '\n') --start;
  AvoidLastRunName(tail + start, uint32_t(end - start));
  return 0;
}

} // namespace

void ResultsResetForTest() { memset(static_cast<void*>(&s_results), 0, sizeof(s_results)); }

void ResultsRunStarted(const ResultsRun* run) {
  ResultsRecord& r = s_results;
  r.run = *run;
  uint32_t seconds = run->localSeconds;
  int32_t sameSecond = r.runStarted[0] != 0 && seconds == r.runSeconds;
  r.runSuffix = sameSecond ? r.runSuffix + 1 : 1;
  r.runSeconds = seconds;
  FormatRunStarted();
  r.fileState = kFileUnchecked;
  r.failureLogged = 0;
  r.linesWritten = 0;
}

void ResultsStepStarted() {
  ResultsRecord& r = s_results;
  r.flips = 0;
  r.stepFrames = 0;
  r.lateFrames = 0;
  r.maxIntervalMicros = 0;
  r.sources = 0;
}

void ResultsFlipped() { s_results.flips += 1; }

void ResultsMarkerMoved(uint8_t sources) { s_results.sources |= sources; }

void ResultsFrameBegins(int32_t inStep) { s_results.frameInStep = inStep; }

void ResultsFrameEnded(uint64_t now) {
  ResultsRecord& r = s_results;
  if (r.frameInStep) {
    r.stepFrames += 1;
    if (r.havePresentEnd) {
      uint64_t interval = now > r.lastPresentEnd ? now - r.lastPresentEnd : 0;
      if (interval > LateIntervalMicros()) r.lateFrames += 1;
      if (interval > r.maxIntervalMicros) r.maxIntervalMicros = interval;
    }
  }
  r.lastPresentEnd = now;
  r.havePresentEnd = 1;
}

void ResultsStepJudged(int32_t step, int32_t delayFrames, int32_t delayedCandidate, int32_t submittedCandidate,
                       int32_t right) {
  ResultsRecord& r = s_results;
  char path[kPathBytes];
  ResultsPath(path);
  if (path[0] == 0 || r.fileState == kFileRefused || r.runStarted[0] == 0) return;

  const char* prefix = "";
  if (r.fileState != kFileReady) {
    int32_t checked = CheckFile(path, &prefix);
    if (checked == 1) {
      r.fileState = kFileRefused;
      LogPrintf("%s: the first line is not the results header; this run is not recorded\n", path);
      return;
    }
    if (checked == 2) {
      // The old file stays as it was; the next step tries again.
      if (!r.failureLogged) {
        r.failureLogged = 1;
        LogPrintf("%s: has the old header and cannot be upgraded; steps of this run may be missing from it\n", path);
      }
      return;
    }
  }
  const char* platform = r.run.platform != nullptr ? r.run.platform : "unknown";
  char line[sizeof(kResultsHeader) + 256];
  int32_t length = FormatBounded(
      line, sizeof(line), "%s%s,%s,%d,%d,%s,%s,%d,%d,%d,%d,%llu.%03llu,%d,%s,%s,%s\n", prefix, r.runStarted, platform,
      delayFrames, step, delayedCandidate ? "A" : "B", submittedCandidate ? "A" : "B", right ? 1 : 0, r.flips,
      r.stepFrames, r.lateFrames, (unsigned long long)(r.maxIntervalMicros / 1000u),
      (unsigned long long)(r.maxIntervalMicros % 1000u), r.run.framePeriodMicros, SourceNames(r.sources),
      r.run.procedure != nullptr ? r.run.procedure : "fixed", r.run.participant != nullptr ? r.run.participant : "");
  if (OsAppendFile(path, line, uint32_t(length)) != 0) {
    // Looked at again before the next line: a failed write may have left
    // part of a line behind.
    r.fileState = kFileUnchecked;
    if (!r.failureLogged) {
      r.failureLogged = 1;
      LogPrintf("%s: cannot be written; steps of this run may be missing from it\n", path);
    }
    return;
  }
  r.fileState = kFileReady;
  r.linesWritten += 1;
}
