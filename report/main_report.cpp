// qvdelay_report: reads qvdelay_results.csv files and prints, per added
// delay, whether it was felt, the fitted 75 % threshold and the next N to
// run, one section per participant; optionally JSON and SVG pictures.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report/report_output.h"
#include "runtime/data_directory.h"
#include "runtime/os.h"
#include "version.h"

static const char kDefaultName[] = "qvdelay_results.csv";

static void Usage(FILE* out) {
  std::fprintf(out,
               "usage: qvdelay_report [options] [results.csv ...]\n"
               "  Reads qvdelay results files (default: qvdelay_results.csv in the current folder,\n"
               "  else beside this program, else in ~/.local/state/qvdelay/ where an installed\n"
               "  qvdelay writes it) and prints what they say about the delays you felt.\n"
               "  --json         print the numbers as JSON instead of text\n"
               "  --svg FILE     write the picture to FILE (default: qvdelay_report.svg beside the\n"
               "                 first results file)\n"
               "  --no-svg       write no picture\n"
               "  --participant NAME\n"
               "                 report only the steps of participant NAME (\"\" for the steps that\n"
               "                 name none); without it each participant gets a section and a\n"
               "                 picture of their own (FILE-NAME.svg)\n"
               "  --help         this text\n"
               "  --version      print the version\n"
               "exit code: 0 report printed, 1 no usable file or steps, 2 usage error\n");
}

static int32_t FileExists(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return 0;
  std::fclose(f);
  return 1;
}

// The picture of a named participant among several: "-NAME" before the
// extension of the picture's path.
static void SectionSvgPath(char* out, size_t size, const char* base, const char* participant, int32_t sections) {
  size_t n = std::strlen(base);
  if (sections <= 1 || !participant[0]) {
    std::snprintf(out, size, "%s", base);
    return;
  }
  size_t stem = n >= 4 && !std::strcmp(base + n - 4, ".svg") ? n - 4 : n;
  std::snprintf(out, size, "%.*s-%s%s", int(stem), base, participant, base + stem);
}

static int CompareNames(const void* a, const void* b) {
  return std::strcmp(static_cast<const Participant*>(a)->name, static_cast<const Participant*>(b)->name);
}

// What the command line asks for.
struct ReportArgs {
  int32_t json, noSvg;
  const char* svgPath;
  const char* only; // --participant
  const char** files;
  int32_t fileCount;
};

static int32_t UsageError(const char* message, const char* word, int32_t usage) {
  std::fprintf(stderr, message, word);
  if (usage) Usage(stderr);
  return 2;
}

// Fills the arguments; -1 to go on, else the exit code.
static int32_t ParseReportArgs(int argc, char** argv, ReportArgs* r) {
  for (int32_t i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 0;
    } else if (!std::strcmp(a, "--version")) {
      std::printf("qvdelay %s\n", QV_VERSION_STRING);
      return 0;
    } else if (!std::strcmp(a, "--json")) {
      r->json = 1;
    } else if (!std::strcmp(a, "--no-svg")) {
      r->noSvg = 1;
    } else if (!std::strcmp(a, "--svg")) {
      if (i + 1 >= argc) return UsageError("qvdelay_report: %s needs a file name\n", a, 1);
      r->svgPath = argv[++i];
    } else if (!std::strcmp(a, "--participant")) {
      if (i + 1 >= argc) return UsageError("qvdelay_report: %s needs a name\n", a, 1);
      r->only = argv[++i];
      if (!ParticipantNameValid(r->only, int64_t(std::strlen(r->only))))
        return UsageError("qvdelay_report: --participant %s: a name is up to 32 letters, digits, '-', '_' or '.'\n",
                          r->only, 0);
    } else if (a[0] == '-' && a[1] != 0) {
      return UsageError("qvdelay_report: unknown option %s\n", a, 1);
    } else {
      r->files[r->fileCount++] = a;
    }
  }
  return -1;
}

// No file named: the record in the current folder, else beside this program,
// else in the user's state folder, where an installed qvdelay writes it.
static int32_t AddDefaultFile(ReportArgs* r) {
  static char defaultPath[4096];
  char dir[4096];
  char state[4096];
  if (FileExists(kDefaultName)) {
    r->files[r->fileCount++] = kDefaultName;
  } else if (OsExecutableDirectory(dir, sizeof(dir)) == 0 &&
             std::snprintf(defaultPath, sizeof(defaultPath), "%s%s", dir, kDefaultName) < int(sizeof(defaultPath)) &&
             FileExists(defaultPath)) {
    r->files[r->fileCount++] = defaultPath;
  } else if (DataDirectoryChoose(nullptr, 0, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"), state, sizeof(state)) == 0 &&
             std::snprintf(defaultPath, sizeof(defaultPath), "%s%s", state, kDefaultName) < int(sizeof(defaultPath)) &&
             FileExists(defaultPath)) {
    r->files[r->fileCount++] = defaultPath;
  } else {
    std::fprintf(stderr, "qvdelay_report: no results file: %s is neither in the current folder nor beside this program.\n"
                         "Run qvdelay first, or name the file: qvdelay_report path/to/qvdelay_results.csv\n",
                 kDefaultName);
    return 1;
  }
  return 0;
}

// Sections: the one participant asked for, else each in name order (the rows
// that name none first). index[] gets each section's participant.
static int32_t ChooseSections(const ResultsTally* tally, const char* only, int32_t* index, int32_t* sections) {
  if (only) {
    index[0] = ResultsFindParticipant(tally, only);
    *sections = 1;
    if (index[0] < 0) {
      std::fprintf(stderr, "qvdelay_report: no steps by participant \"%s\" in the results\n", only);
      return 1;
    }
    return 0;
  }
  *sections = tally->participantCount;
  Participant* order = static_cast<Participant*>(std::malloc(sizeof(Participant) * size_t(*sections)));
  if (!order) {
    std::fprintf(stderr, "qvdelay_report: out of memory\n");
    return 1;
  }
  std::memcpy(order, tally->participants, sizeof(Participant) * size_t(*sections));
  std::qsort(order, size_t(*sections), sizeof(Participant), CompareNames);
  for (int32_t i = 0; i < *sections; ++i) index[i] = ResultsFindParticipant(tally, order[i].name);
  std::free(order);
  return 0;
}

// Prints each section, with its picture unless none is asked for.
static void PrintSections(const ReportArgs* r, const ResultsTally* tally, const int32_t* index, int32_t sections) {
  ReportInput in = {r->files, r->fileCount, tally, sections, 0, 0};
  for (int32_t i = 0; i < tally->levelCount; ++i) {
    const LevelTally* l = &tally->levels[i];
    for (int32_t k = 0; k < sections; ++k)
      if (l->participant == index[k]) in.steps += l->steps, in.runs += l->runs;
  }
  static char svgDefault[4096], svgSection[4096];
  const char* svgPath = r->svgPath;
  if (!r->noSvg && !svgPath) {
    const char* first = r->files[0];
    const char* cut = nullptr;
    for (const char* c = first; *c; ++c)
      if (*c == '/' || *c == '\\') cut = c;
    int len = cut ? int(cut - first + 1) : 0;
    std::snprintf(svgDefault, sizeof(svgDefault), "%.*s%s", len, first, "qvdelay_report.svg");
    svgPath = svgDefault;
  }
  static Analysis all, clean;
  for (int32_t k = 0; k < sections; ++k) {
    const char* name = tally->participants[index[k]].name;
    Analyse(tally, index[k], 0, kBootstrapResamples, kBootstrapSeed, &all);
    Analyse(tally, index[k], 1, kBootstrapResamples, kBootstrapSeed, &clean);
    ReportSection s = {k, name, &all, &clean, nullptr, 0};
    if (!r->noSvg) {
      SectionSvgPath(svgSection, sizeof(svgSection), svgPath, name, sections);
      s.svgPath = svgSection;
      s.svgWritten = WriteReportSvg(s.svgPath, &all) == 0;
      if (!s.svgWritten) std::fprintf(stderr, "qvdelay_report: cannot write the picture %s\n", s.svgPath);
    }
    if (r->json) PrintReportJson(stdout, &in, &s); else PrintReportText(stdout, &in, &s);
  }
}

static int32_t RunReport(ReportArgs* r) {
  if (r->fileCount == 0 && AddDefaultFile(r) != 0) return 1;
  ResultsTally tally;
  if (ResultsInit(&tally) != 0) {
    std::fprintf(stderr, "qvdelay_report: out of memory\n");
    return 1;
  }
  for (int32_t i = 0; i < r->fileCount; ++i) ResultsReadFile(&tally, r->files[i], stderr);
  ResultsFinish(&tally);
  int32_t rc = 1;
  int32_t* index = nullptr;
  int32_t sections = 0;
  if (tally.filesRead == 0 || tally.goodLines == 0) {
    std::fprintf(stderr, "qvdelay_report: %s\n", tally.filesRead == 0 ? "no usable results file" : "no usable steps in the results");
  } else if (!(index = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * size_t(tally.participantCount + 1))))) {
    std::fprintf(stderr, "qvdelay_report: out of memory\n");
  } else if (ChooseSections(&tally, r->only, index, &sections) == 0) {
    PrintSections(r, &tally, index, sections);
    rc = 0;
  }
  std::free(index);
  ResultsFree(&tally);
  return rc;
}

int main(int argc, char** argv) {
  ReportArgs r = {};
  r.files = static_cast<const char**>(std::calloc(size_t(argc) + 1, sizeof(char*)));
  if (!r.files) return 1;
  int32_t rc = ParseReportArgs(argc, argv, &r);
  if (rc < 0) rc = RunReport(&r);
  std::free(r.files);
  return rc;
}
