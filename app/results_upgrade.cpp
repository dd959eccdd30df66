// Upgrade of a results record written before the record knew the rate, the
// device and the person: every row keeps its values and gets the columns of
// a 60 Hz fixed run with nothing recorded for the device and the person.
//
// Safe at any moment of a crash or a full disk: the new file is written
// beside the old one under a temporary name and forced to the disk, the old
// file gets a second name (the backup, never an existing file), and only
// then the new file replaces the old name in one rename. So the record's
// name always holds one whole file, the old or the new.
#include <cstdio>
#include <cstring>

#include "app/app_internal.h"

namespace {

constexpr char kUpgradedSuffix[] = ",16666,,fixed,";
constexpr uint32_t kMaxBackups = 1000;

struct UpgradeRun {
  int32_t stopAfter; // test hook: give up after this many steps, 0 = never
  int32_t steps;
};

// One step of the upgrade done; 1 when the test hook says to stop here, as
// a crash would.
int32_t Stepped(UpgradeRun* run) {
  run->steps += 1;
  return run->stopAfter != 0 && run->steps >= run->stopAfter;
}

// The first free backup name: <path>.bak, then <path>.bak2, <path>.bak3, ...
int32_t BackupName(const char* path, char* backup, uint32_t bytes) {
  for (uint32_t k = 1; k <= kMaxBackups; ++k) {
    if (k == 1) {
      FormatBounded(backup, bytes, "%s.bak", path);
    } else {
      FormatBounded(backup, bytes, "%s.bak%u", path, k);
    }
    if (!OsFileExists(backup)) return 0;
  }
  return 1;
}

// Copies a file byte for byte to a new name (for file systems without
// links); 1 on any failure.
int32_t CopyFile(const char* from, const char* to) {
  FILE* in = fopen(from, "rb");
  if (in == nullptr) return 1;
  FILE* out = fopen(to, "wb");
  if (out == nullptr) {
    fclose(in);
    return 1;
  }
  char block[4096];
  size_t n = 0;
  int32_t failed = 0;
  while (!failed && (n = fread(block, 1, sizeof(block), in)) > 0) failed = fwrite(block, 1, n, out) != n;
  failed |= ferror(in) != 0;
  fclose(in);
  failed |= fclose(out) != 0;
  return failed || OsFlushFileToDisk(to) != 0;
}

// Writes the upgraded copy of in to out: the new header, then every line
// that ends with a newline with the suffix before its line end. A last line
// cut short by a crash is copied as it is (it was never a whole row).
int32_t WriteUpgraded(FILE* in, FILE* out, UpgradeRun* run, int32_t* stopped) {
  char line[1024];
  int32_t first = 1;
  while (fgets(line, sizeof(line), in) != nullptr) {
    size_t n = strlen(line);
    int32_t ended = n > 0 && line[n - 1] == '\n';
    if (first) {
      // The old header line: replaced by ours (it is short enough to be
      // one piece of fgets).
      first = 0;
      if (fputs(kResultsHeader, out) < 0) return 1;
      if (!ended) {
        // Longer than a header: not ours, but CheckFile said it was.
        return 1;
      }
      continue;
    }
    if (ended) {
      size_t end = n - 1;
      if (end > 0 && line[end - 1] == '\r') --end;
      if (end > 0) {
        // A blank line stays blank; a row gets the new columns.
        if (fwrite(line, 1, end, out) != end || fputs(kUpgradedSuffix, out) < 0) return 1;
        if (fputs(line + end, out) < 0) return 1;
      } else if (fputs(line, out) < 0) {
        return 1;
      }
    } else if (fputs(line, out) < 0) {
      return 1;
    }
    // A long line arrives in pieces; only its last piece ends it.
    if (ended && Stepped(run)) {
      *stopped = 1;
      return 0;
    }
  }
  return ferror(in) != 0;
}

} // namespace

int32_t UpgradeResultsFile(const char* path, int32_t stopAfterSteps) {
  UpgradeRun run = {stopAfterSteps, 0};
  char temporary[kResultsPathBytes + 16];
  char backup[kResultsPathBytes + 16];
  FormatBounded(temporary, sizeof(temporary), "%s.upgrade", path);
  if (BackupName(path, backup, sizeof(backup)) != 0) return 1;

  FILE* in = fopen(path, "rb");
  if (in == nullptr) return 1;
  FILE* out = fopen(temporary, "wb");
  if (out == nullptr) {
    fclose(in);
    return 1;
  }
  int32_t stopped = 0;
  int32_t failed = WriteUpgraded(in, out, &run, &stopped);
  fclose(in);
  failed |= fclose(out) != 0;
  if (stopped) return 1;
  if (failed || OsFlushFileToDisk(temporary) != 0) {
    OsDeleteFile(temporary);
    return 1;
  }
  if (Stepped(&run)) return 1;
  if (OsLinkFile(path, backup) != 0 && CopyFile(path, backup) != 0) {
    OsDeleteFile(backup);
    OsDeleteFile(temporary);
    return 1;
  }
  if (Stepped(&run)) return 1;
  if (OsReplaceFile(temporary, path) != 0) {
    OsDeleteFile(temporary);
    return 1;
  }
  LogPrintf("%s: upgraded to the new columns; the old file is kept as %s\n", path, backup);
  return 0;
}
