// qvdelay_report: reads qvdelay_results.csv files and prints, per delay N,
// whether the delay was felt, the fitted 75 % threshold and the next N to
// run; optionally JSON and an SVG picture.
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

int main(int argc, char** argv) {
  int32_t json = 0, noSvg = 0;
  const char* svgPath = nullptr;
  const char** files = static_cast<const char**>(std::calloc(size_t(argc) + 1, sizeof(char*)));
  int32_t fileCount = 0;
  if (!files) return 1;
  for (int32_t i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      std::free(files);
      return 0;
    } else if (!std::strcmp(a, "--version")) {
      std::printf("qvdelay %s\n", QV_VERSION_STRING);
      std::free(files);
      return 0;
    } else if (!std::strcmp(a, "--json")) {
      json = 1;
    } else if (!std::strcmp(a, "--no-svg")) {
      noSvg = 1;
    } else if (!std::strcmp(a, "--svg")) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qvdelay_report: --svg needs a file name\n");
        Usage(stderr);
        return 2;
      }
      svgPath = argv[++i];
    } else if (a[0] == '-' && a[1] != 0) {
      std::fprintf(stderr, "qvdelay_report: unknown option %s\n", a);
      Usage(stderr);
      return 2;
    } else {
      files[fileCount++] = a;
    }
  }

  static char defaultPath[4096];
  if (fileCount == 0) {
    if (FileExists(kDefaultName)) {
      files[fileCount++] = kDefaultName;
    } else {
      char dir[4096];
      char state[4096];
      if (OsExecutableDirectory(dir, sizeof(dir)) == 0 &&
          std::snprintf(defaultPath, sizeof(defaultPath), "%s%s", dir, kDefaultName) < int(sizeof(defaultPath)) &&
          FileExists(defaultPath)) {
        files[fileCount++] = defaultPath;
      } else if (DataDirectoryChoose(nullptr, 0, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"), state, sizeof(state)) == 0 &&
                 std::snprintf(defaultPath, sizeof(defaultPath), "%s%s", state, kDefaultName) < int(sizeof(defaultPath)) &&
                 FileExists(defaultPath)) {
        // An installed qvdelay writes its record to the user's state folder.
        files[fileCount++] = defaultPath;
      } else {
        std::fprintf(stderr, "qvdelay_report: no results file: %s is neither in the current folder nor beside this program.\n"
                             "Run qvdelay first, or name the file: qvdelay_report path/to/qvdelay_results.csv\n",
                     kDefaultName);
        return 1;
      }
    }
  }

  ResultsTally tally;
  if (ResultsInit(&tally) != 0) {
    std::fprintf(stderr, "qvdelay_report: out of memory\n");
    return 1;
  }
  for (int32_t i = 0; i < fileCount; ++i) ResultsReadFile(&tally, files[i], stderr);
  ResultsFinish(&tally);
  if (tally.filesRead == 0 || tally.goodLines == 0) {
    std::fprintf(stderr, "qvdelay_report: %s\n", tally.filesRead == 0 ? "no usable results file" : "no usable steps in the results");
    ResultsFree(&tally);
    return 1;
  }

  static Analysis all, clean;
  Analyse(&tally, 0, kBootstrapResamples, kBootstrapSeed, &all);
  Analyse(&tally, 1, kBootstrapResamples, kBootstrapSeed, &clean);

  static char svgDefault[4096];
  if (!noSvg && !svgPath) {
    const char* first = files[0];
    const char* cut = nullptr;
    for (const char* c = first; *c; ++c)
      if (*c == '/' || *c == '\\') cut = c;
    int len = cut ? int(cut - first + 1) : 0;
    std::snprintf(svgDefault, sizeof(svgDefault), "%.*s%s", len, first, "qvdelay_report.svg");
    svgPath = svgDefault;
  }
  ReportInput in = {files, fileCount, &tally, &all, &clean, noSvg ? nullptr : svgPath, 0};
  if (in.svgPath) {
    in.svgWritten = WriteReportSvg(in.svgPath, &all) == 0;
    if (!in.svgWritten) std::fprintf(stderr, "qvdelay_report: cannot write the picture %s\n", in.svgPath);
  }
  if (json) PrintReportJson(stdout, &in); else PrintReportText(stdout, &in);
  ResultsFree(&tally);
  std::free(files);
  return 0;
}
