// Command-line options: parsing, validation and the --help text.
#include "app/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/runtime.h"
#include "version.h"

namespace {

AppOptions s_options = {0, 0, kDefaultMouseScale, "", 0, 0, 0};

int32_t Fail(char* error, uint32_t errorBytes, const char* option, const char* value, const char* why) {
  if (value != nullptr) {
    FormatBounded(error, errorBytes, "%s %s: %s", option, value, why);
  } else {
    FormatBounded(error, errorBytes, "%s: %s", option, why);
  }
  return kOptionsBad;
}

// Whole decimal number, nothing after it.
int32_t ParseInteger(const char* text, long* value) {
  if (text[0] == 0) return 1;
  char* end = nullptr;
  errno = 0;
  *value = strtol(text, &end, 10);
  return errno != 0 || *end != 0;
}

int32_t ParseReal(const char* text, double* value) {
  if (text[0] == 0) return 1;
  char* end = nullptr;
  errno = 0;
  *value = strtod(text, &end);
  return errno != 0 || *end != 0 || !std::isfinite(*value);
}

} // namespace

void AppOptionsDefault(AppOptions* options) {
  memset(options, 0, sizeof(*options));
  options->mouseScale = kDefaultMouseScale;
}

int32_t ParticipantNameValid(const char* name) {
  size_t length = strlen(name);
  if (length == 0 || length > kParticipantMaxChars) return 0;
  for (size_t i = 0; i < length; ++i) {
    char c = name[i];
    int32_t ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 c == '.';
    if (!ok) return 0;
  }
  return 1;
}

int32_t ParseAppOptions(int argc, char** argv, int first, AppOptions* options, int* next, char* error,
                        uint32_t errorBytes) {
  error[0] = 0;
  int i = first;
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (arg[0] != '-' || arg[1] == 0) break; // "-" is a file name (standard input)
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      options->help = 1;
      continue;
    }
    if (strcmp(arg, "--threshold") == 0) {
      options->threshold = 1;
      continue;
    }
    if (strcmp(arg, "--version") == 0) {
      options->version = 1;
      continue;
    }
    int32_t takesValue = strcmp(arg, "--rate") == 0 || strcmp(arg, "--mouse-scale") == 0 ||
                         strcmp(arg, "--participant") == 0;
    if (!takesValue) return Fail(error, errorBytes, arg, nullptr, "unknown option (see --help)");
    if (i + 1 >= argc) return Fail(error, errorBytes, arg, nullptr, "needs a value");
    const char* value = argv[++i];
    if (strcmp(arg, "--rate") == 0) {
      long hz = 0;
      if (strcmp(value, "native") == 0) {
        options->nativeRate = 1;
        options->rateHz = 0;
      } else if (ParseInteger(value, &hz) != 0) {
        return Fail(error, errorBytes, arg, value, "not a whole number of Hz (30 to 500, or native)");
      } else if (hz < kMinRateHz || hz > kMaxRateHz) {
        return Fail(error, errorBytes, arg, value, "out of range (30 to 500 Hz, or native)");
      } else {
        options->rateHz = int32_t(hz);
        options->nativeRate = 0;
      }
    } else if (strcmp(arg, "--mouse-scale") == 0) {
      double scale = 0.0;
      if (ParseReal(value, &scale) != 0) return Fail(error, errorBytes, arg, value, "not a number (0.01 to 10)");
      if (scale < double(kMinMouseScale) || scale > double(kMaxMouseScale)) {
        return Fail(error, errorBytes, arg, value, "out of range (0.01 to 10)");
      }
      options->mouseScale = float(scale);
    } else {
      if (!ParticipantNameValid(value)) {
        return Fail(error, errorBytes, arg, value,
                    "a name is 1 to 32 letters, digits, '-', '_' or '.'");
      }
      FormatBounded(options->participant, sizeof(options->participant), "%s", value);
    }
  }
  *next = i;
  return kOptionsOk;
}

void PrintAppOptionsHelp(FILE* out, const char* usage) {
  fprintf(out,
          "%s\n"
          "Options:\n"
          "  --rate HZ           run at HZ frames per second (30 to 500); fullscreen asks the\n"
          "                      display for that rate. Without it: 60 Hz.\n"
          "  --rate native       run at the refresh rate of the display the window is on\n"
          "  --mouse-scale F     marker movement per mouse count, in logical units of the\n"
          "                      320x240 screen (0.01 to 10; default 0.1)\n"
          "  --participant NAME  name written to the results record (1 to 32 letters,\n"
          "                      digits, '-', '_' or '.')\n"
          "  --threshold         start straight into a threshold run: the program picks each\n"
          "                      step's delay and ends with your threshold in ms\n"
          "  --version           print the version and end\n"
          "  --help              print this text and end\n",
          usage);
}

CommandLineVerdict JudgeCommandLine(int argc, char** argv, const char* program, const char* usage,
                                    int32_t minPositional, int32_t maxPositional, AppOptions* options, int* first,
                                    char* error, uint32_t errorBytes) {
  AppOptionsDefault(options);
  char reason[256];
  if (ParseAppOptions(argc, argv, 1, options, first, reason, sizeof(reason)) != kOptionsOk) {
    FormatBounded(error, errorBytes, "%s: %s", program, reason);
    return kCommandLineBad;
  }
  if (options->version) return kCommandLineVersion;
  if (options->help) return kCommandLineHelp;
  int32_t positional = int32_t(argc - *first);
  if (positional > maxPositional) {
    FormatBounded(error, errorBytes, "%s: %s: unexpected argument (see --help)", program, argv[*first + maxPositional]);
    return kCommandLineBad;
  }
  if (positional < minPositional) {
    FormatBounded(error, errorBytes, "%s", usage);
    return kCommandLineBad;
  }
  return kCommandLineRun;
}

int32_t AnswerCommandLine(CommandLineVerdict verdict, const char* usage, const char* error, FILE* out, FILE* err) {
  switch (verdict) {
  case kCommandLineBad: fprintf(err, "%s\n", error); return kOptionsBad;
  case kCommandLineVersion: fprintf(out, "qvdelay %s\n", QV_VERSION_STRING); return 0;
  case kCommandLineHelp: PrintAppOptionsHelp(out, usage); return 0;
  case kCommandLineRun: break;
  }
  return kOptionsGoOn;
}

int32_t TakeCommandLine(int argc, char** argv, const char* program, const char* usage, int32_t minPositional,
                        int32_t maxPositional, AppOptions* options, int* first, FILE* out, FILE* err) {
  char error[320];
  CommandLineVerdict verdict =
      JudgeCommandLine(argc, argv, program, usage, minPositional, maxPositional, options, first, error, sizeof(error));
  return AnswerCommandLine(verdict, usage, error, out, err);
}

void AppSetOptions(const AppOptions* options) { s_options = *options; }

const AppOptions* AppGetOptions() { return &s_options; }
